#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "core/records/storage_kind.h"
#include "core/scanning/scan_configuration.h"

// Everything a scan can report and how each finding is described to the user: one table of
// folders found in projects, one of caches in the home folder. The command line prints both.
// The texts are shown as they are; change them only together with the window's wording.
namespace tarnby::TargetCatalogue {

using enum StorageKind;

// Where a walked target's marker must be.
enum class MarkerPlace {
    beside,  // in the folder's parent
    inside,  // in the folder itself
};

// A folder that is a target when one of its markers exists where `place` says. A marker with
// "*" is a pattern over the names there; the others are exact names. Existence follows links,
// so a dangling link is no marker.
struct WalkedTarget {
    std::string_view name;  // whole last path component, case-sensitive
    std::array<std::string_view, 5> markers;
    StorageKind kind;
    std::string_view explanation;
    std::string_view rebuild;  // empty for "node_modules": the lock file decides
    MarkerPlace place = MarkerPlace::beside;
};

inline constexpr std::array<std::string_view, 5> kPythonProject{"pyproject.toml", "setup.py", "setup.cfg", "tox.ini",
                                                                "requirements.txt"};
inline constexpr std::array<std::string_view, 5> kGradleProject{"build.gradle", "build.gradle.kts", "settings.gradle",
                                                                "settings.gradle.kts"};
inline constexpr std::string_view kVirtualEnvironmentExplanation =
    "Python virtual environment. Reinstalling needs network access; packages installed by hand or "
    "edited in place inside it will be lost.";

inline constexpr std::array<std::string_view, 5> kDotNetProject{"*.csproj", "*.fsproj", "*.vbproj"};

// Rows are tried in this order for a name; the first whose marker exists decides.
inline constexpr std::array<WalkedTarget, 34> kWalkedTargets{{
    {"node_modules",
     {"package.json"},
     dependencies,
     "Installed JavaScript packages. Reinstalling needs network access and any private-registry "
     "credentials. Unrecorded local edits will be lost.",
     ""},
    {".build",
     {"Package.swift"},
     builds,
     "Swift build products and dependency checkouts. Save any local checkout edits before cleaning.",
     "swift build"},
    {"target", {"Cargo.toml"}, builds, "Rust compiler output. Recreated by your next Cargo build.", "cargo build"},
    {".next",
     {"package.json"},
     builds,
     "Next.js build output. Stop the development server before cleaning.",
     "Run your project's Next.js build or dev command"},

    {".venv",
     {"pyvenv.cfg"},
     dependencies,
     kVirtualEnvironmentExplanation,
     "python3 -m venv .venv, then reinstall the project's requirements",
     MarkerPlace::inside},
    {"venv",
     {"pyvenv.cfg"},
     dependencies,
     kVirtualEnvironmentExplanation,
     "python3 -m venv venv, then reinstall the project's requirements",
     MarkerPlace::inside},
    {".tox", kPythonProject, builds,
     "tox test environments. Recreated by your next tox run, which needs network access.", "tox"},
    {".nox", kPythonProject, builds,
     "nox session environments. Recreated by your next nox run, which needs network access.", "nox"},
    {".mypy_cache", kPythonProject, caches, "mypy type-checking cache. The next check runs slower once.", "mypy ."},
    {".pytest_cache", kPythonProject, caches,
     "pytest cache. The record of last failures is lost; the next test run starts it again.", "pytest"},
    {".ruff_cache", kPythonProject, caches, "Ruff lint cache. The next check runs slower once.", "ruff check"},

    {"build", kGradleProject, builds, "Gradle build output. Recreated by your next Gradle build.", "./gradlew build"},
    {".gradle", kGradleProject, caches,
     "Gradle's per-project caches. Stop the Gradle daemon first (./gradlew --stop); the next build "
     "recreates them and runs slower once.",
     "./gradlew build"},
    {"target", {"pom.xml"}, builds, "Maven build output. Recreated by your next Maven build.", "mvn package"},
    {".cxx",
     {"build.gradle", "build.gradle.kts"},
     builds,
     "Android native build files (CMake or ndk-build). Recreated by your next Gradle build.",
     "./gradlew build"},

    {".dart_tool",
     {"pubspec.yaml"},
     builds,
     "Dart tool state: package configuration and build caches. Recreated by pub get, which may need "
     "network access.",
     "dart pub get (flutter pub get in a Flutter app)"},
    {"build",
     {"pubspec.yaml"},
     builds,
     "Flutter build output. Recreated by your next Flutter build or run.",
     "flutter build"},

    {"bin", kDotNetProject, builds, ".NET build output. Recreated by your next build.", "dotnet build"},
    {"obj", kDotNetProject, builds,
     ".NET intermediate files and package restore results. Recreated by your next build, which "
     "restores packages.",
     "dotnet build"},

    {"Pods",
     {"Podfile"},
     dependencies,
     "CocoaPods dependencies. Reinstalling needs network access; edits made inside Pods will be lost.",
     "pod install"},
    {"Carthage",
     {"Cartfile"},
     dependencies,
     "Carthage checkouts and built frameworks. Reinstalling needs network access and a rebuild; save "
     "any local checkout edits before cleaning.",
     "carthage bootstrap"},

    {".turbo",
     {"turbo.json"},
     caches,
     "Turborepo local task cache. Cached tasks run in full once more.",
     "turbo run build"},
    {".nuxt",
     {"nuxt.config.*"},
     builds,
     "Nuxt generated files. Stop the development server before cleaning.",
     "nuxt build (or nuxt dev)"},
    {".output",
     {"nuxt.config.*"},
     builds,
     "Nuxt production build output. Recreated by your next Nuxt build.",
     "nuxt build"},
    {".svelte-kit",
     {"svelte.config.*"},
     builds,
     "SvelteKit generated files and build output. Stop the development server before cleaning.",
     "vite build (or vite dev)"},
    {".angular", {"angular.json"}, caches, "Angular CLI build cache. The next build runs slower once.", "ng build"},
    {".parcel-cache", {"package.json"}, caches, "Parcel build cache. The next build runs slower once.", "parcel build"},

    {"_build", {"mix.exs"}, builds, "Elixir build output. Recreated by your next Mix compile.", "mix compile"},
    {"deps",
     {"mix.exs"},
     dependencies,
     "Elixir dependencies fetched by Mix. Reinstalling needs network access; edits made inside deps "
     "will be lost.",
     "mix deps.get"},
    {".stack-work",
     {"stack.yaml"},
     builds,
     "Haskell Stack build output. Recreated by your next Stack build.",
     "stack build"},
    {"dist-newstyle",
     {"cabal.project", "*.cabal"},
     builds,
     "Cabal build output. Recreated by your next Cabal build.",
     "cabal build"},
    {"zig-out", {"build.zig"}, builds, "Zig install output. Recreated by your next zig build.", "zig build"},
    {".zig-cache", {"build.zig"}, caches, "Zig build cache. The next build runs slower once.", "zig build"},
    {".terraform",
     {"*.tf"},
     dependencies,
     "Terraform providers and modules. Fetched again by terraform init, which needs network access; "
     "run it before the next plan.",
     "terraform init"},
}};

// Indexes into kWalkedTargets ordered by name (rows of one name in table order), so that a
// walk answers every other folder name with a binary search and no disk access.
inline constexpr auto kWalkedTargetsByName = [] {
    std::array<std::size_t, kWalkedTargets.size()> order{};
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        return kWalkedTargets[a].name != kWalkedTargets[b].name ? kWalkedTargets[a].name < kWalkedTargets[b].name
                                                                : a < b;
    });
    return order;
}();

// The first lock file found beside "node_modules" decides how it is reinstalled.
struct LockFile {
    std::string_view name;
    std::string_view rebuild;
};

inline constexpr std::array<LockFile, 3> kLockFiles{{
    {"pnpm-lock.yaml", "pnpm install --frozen-lockfile"},
    {"yarn.lock", "yarn install"},
    {"package-lock.json", "npm ci"},
}};
inline constexpr std::string_view kNoLockFileRebuild = "npm install";

inline constexpr std::string_view kCacheExplanation =
    "Downloaded package cache. Packages may need to be fetched again; close package managers first.";
inline constexpr std::string_view kCacheRebuild = "Your package manager downloads packages as needed";

// The folder a Linux location is formed in.
enum class Base {
    home,
    xdgCache,  // $XDG_CACHE_HOME, else ~/.cache
    xdgData,   // $XDG_DATA_HOME, else ~/.local/share
};

struct Place {
    Base base = Base::home;
    std::string_view path;  // below `base`; empty: none
};

// An environment variable naming the folder a tool keeps a cache in (the cache is `below` it).
// For a list of folders (GOPATH) the first one counts.
struct Variable {
    std::string_view name;
    std::string_view below;
    bool list = false;
};

// A cache folder in the home folder. Its macOS location is looked at on every system (a
// macOS home copied to Linux); its Linux location, which replaces the macOS one where both
// are the default, only on Linux. A variable that is set (for the user's own home, to an
// absolute path) replaces this system's default location.
struct HomeCache {
    std::string_view title;  // empty: the folder's own name
    std::string_view macOS;  // below home; empty: none
    Place linuxPlace{};      // empty path: the macOS location
    std::array<Variable, 2> movedBy{};
    std::string_view explanation = kCacheExplanation;
    std::string_view rebuild = kCacheRebuild;
};

// The location of `row` at `path`, with its title and texts: the fixed caches are titled by
// their folder's own name, the others after their tool.
CacheLocation located(const HomeCache& row, std::string path);

inline constexpr std::string_view kDeviceSupportExplanation =
    "Debugging symbols Xcode copied from connected devices, one folder per OS version. Copied again "
    "when a device with that version is connected.";
inline constexpr std::string_view kDeviceSupportRebuild = "Connect the device to Xcode again";

// The first kFixedCaches rows are always scanned, in this order, whatever the system.
inline constexpr std::size_t kFixedCaches = 4;
inline constexpr std::array<HomeCache, 32> kHomeCaches{{
    {"", ".npm/_cacache"},
    {"", "Library/Caches/Yarn"},
    {"", "Library/pnpm/store"},
    {"", "Library/Caches/org.swift.swiftpm"},

    {"Yarn cache", "", {Base::xdgCache, "yarn"}},
    {"Yarn Berry cache", "", {Base::home, ".yarn/berry/cache"}},
    {"pnpm store", "", {Base::xdgData, "pnpm/store"}},
    {"SwiftPM cache", "", {Base::xdgCache, "org.swift.swiftpm"}},

    {"npx cache",
     ".npm/_npx",
     {},
     {{{"npm_config_cache", "_npx"}}},
     "Packages npx downloaded to run commands. Fetched again the next time a command needs them.",
     "npx downloads packages as needed"},
    {"pnpm metadata cache",
     "Library/Caches/pnpm",
     {Base::xdgCache, "pnpm"},
     {},
     "pnpm's cache of package metadata. Fetched again as needed; the next install runs slower once.",
     "pnpm install"},
    {"Corepack cache",
     "Library/Caches/node/corepack",
     {Base::xdgCache, "node/corepack"},
     {},
     "Package-manager versions Corepack downloaded. Fetched again the next time a project uses them.",
     "corepack install"},
    {"Bun cache",
     ".bun/install/cache",
     {},
     {},
     "Bun package cache. Packages are fetched again as needed.",
     "bun install"},
    {"Deno cache",
     "Library/Caches/deno",
     {Base::xdgCache, "deno"},
     {},
     "Deno's cache of remote modules, npm packages and compiled code. Fetched again as needed.",
     "deno install"},

    {"Cargo registry",
     ".cargo/registry",
     {},
     {{{"CARGO_HOME", "registry"}}},
     "Crates downloaded from registries and their unpacked sources. Fetched again by the next build, "
     "which needs network access.",
     "cargo fetch"},
    {"Cargo git checkouts",
     ".cargo/git",
     {},
     {{{"CARGO_HOME", "git"}}},
     "Git dependencies Cargo checked out. Fetched again by the next build, which needs network access.",
     "cargo fetch"},

    {"Go modules",
     "go/pkg/mod",
     {},
     {{{"GOMODCACHE", ""}, {"GOPATH", "pkg/mod", true}}},
     "Go module cache. Its files are read-only, so remove it with go clean -modcache rather than "
     "moving it; modules are fetched again as needed.",
     "go mod download"},
    {"Go build cache",
     "Library/Caches/go-build",
     {Base::xdgCache, "go-build"},
     {{{"GOCACHE", ""}}},
     "Go build and test cache. The next builds and tests run slower once.",
     "go build"},

    {"pip cache",
     "Library/Caches/pip",
     {Base::xdgCache, "pip"},
     {{{"PIP_CACHE_DIR", ""}}},
     "pip's cache of downloads and built wheels. Fetched again as needed.",
     "pip install"},
    {"uv cache",
     ".cache/uv",
     {Base::xdgCache, "uv"},
     {{{"UV_CACHE_DIR", ""}}},
     "uv's cache of packages and tools. Fetched again as needed; stop running uv commands first.",
     "uv sync"},
    {"Poetry cache",
     "Library/Caches/pypoetry",
     {Base::xdgCache, "pypoetry"},
     {},
     "Poetry's cache of packages and metadata. Fetched again as needed.",
     "poetry install"},

    {"Gradle caches",
     ".gradle/caches",
     {},
     {{{"GRADLE_USER_HOME", "caches"}}},
     "Gradle's dependency and build caches. Stop Gradle daemons first (gradle --stop); the next build "
     "downloads dependencies again.",
     "./gradlew build"},
    {"Gradle distributions",
     ".gradle/wrapper/dists",
     {},
     {{{"GRADLE_USER_HOME", "wrapper/dists"}}},
     "Gradle versions the Gradle wrapper downloaded. Each project's wrapper fetches its version again.",
     "./gradlew --version"},
    {"Maven repository",
     ".m2/repository",
     {},
     {},
     "Maven's local repository of downloaded artifacts. Fetched again by the next build; artifacts you "
     "only installed locally (mvn install) must be installed again.",
     "mvn install"},

    {"pub cache",
     ".pub-cache",
     {},
     {{{"PUB_CACHE", ""}}},
     "Dart and Flutter packages pub downloaded, and globally activated tools. Fetched again by pub get; "
     "activate global tools again.",
     "dart pub get"},
    {"NuGet packages",
     ".nuget/packages",
     {},
     {{{"NUGET_PACKAGES", ""}}},
     "NuGet's global packages folder. Restored by the next build, which needs network access.",
     "dotnet restore"},
    {"Homebrew cache",
     "Library/Caches/Homebrew",
     {Base::xdgCache, "Homebrew"},
     {},
     "Homebrew's downloads. Fetched again when a formula needs them.",
     "brew fetch"},

    {"iOS DeviceSupport",
     "Library/Developer/Xcode/iOS DeviceSupport",
     {},
     {},
     kDeviceSupportExplanation,
     kDeviceSupportRebuild},
    {"watchOS DeviceSupport",
     "Library/Developer/Xcode/watchOS DeviceSupport",
     {},
     {},
     kDeviceSupportExplanation,
     kDeviceSupportRebuild},
    {"tvOS DeviceSupport",
     "Library/Developer/Xcode/tvOS DeviceSupport",
     {},
     {},
     kDeviceSupportExplanation,
     kDeviceSupportRebuild},
    {"visionOS DeviceSupport",
     "Library/Developer/Xcode/visionOS DeviceSupport",
     {},
     {},
     kDeviceSupportExplanation,
     kDeviceSupportRebuild},
    {"CoreSimulator caches",
     "Library/Developer/CoreSimulator/Caches",
     {},
     {},
     "Simulator caches. Recreated when simulators start, which takes longer once.",
     "Boot a simulator in Xcode"},
    {"CocoaPods cache",
     "Library/Caches/CocoaPods",
     {},
     {},
     "CocoaPods' downloads of pods and specs. Fetched again by pod install.",
     "pod install"},
}};

inline constexpr std::string_view kDerivedDataExplanation =
    "Xcode DerivedData. Close Xcode and save work first; the next build recreates its products and indexes.";
inline constexpr std::string_view kDerivedDataRebuild = "Build the project in Xcode";

inline constexpr std::string_view kSimulatorExplanation =
    "Deleting a simulator permanently erases its installed apps and data. A new device can be "
    "created, but its data cannot be downloaded again.";
inline constexpr std::string_view kSimulatorRebuild = "Create a replacement in Xcode \u2192 Devices and Simulators";

// Protection reasons of simulator devices.
inline constexpr std::string_view kInUseProtection = "In use or unknown state";
inline constexpr std::string_view kNoInventoryProtection = "Inventory unavailable";
// Title of a device folder the inventory does not list: this plus its first 8 characters.
inline constexpr std::string_view kUnlistedSimulatorTitlePrefix = "Simulator ";

// Never searched or proposed, in the order they are tested.
inline constexpr std::array<std::string_view, 7> kProtectedLocations{"/System", "/Library", "/Applications", "/bin",
                                                                     "/sbin",   "/usr",     "/etc"};

}  // namespace tarnby::TargetCatalogue
