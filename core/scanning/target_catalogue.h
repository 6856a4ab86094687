#pragma once

#include <array>
#include <string_view>

#include "core/records/storage_kind.h"

// Everything a scan can report and how each finding is described to the user. Internal to
// the scanning library.
// The texts are shown as they are; change them only together with the window's wording.
namespace tarnby::TargetCatalogue {

// A folder that is a target when it sits beside its marker file in a project.
struct WalkedTarget {
    std::string_view name;    // whole last path component, case-sensitive
    std::string_view marker;  // must exist beside the folder
    StorageKind kind;
    std::string_view explanation;
    std::string_view rebuild;  // empty for "node_modules": the lock file decides
};

inline constexpr std::array<WalkedTarget, 4> kWalkedTargets{{
    {"node_modules", "package.json", StorageKind::dependencies,
     "Installed JavaScript packages. Reinstalling needs network access and any private-registry "
     "credentials. Unrecorded local edits will be lost.",
     ""},
    {".build", "Package.swift", StorageKind::builds,
     "Swift build products and dependency checkouts. Save any local checkout edits before cleaning.", "swift build"},
    {"target", "Cargo.toml", StorageKind::builds, "Rust compiler output. Recreated by your next Cargo build.",
     "cargo build"},
    {".next", "package.json", StorageKind::builds, "Next.js build output. Stop the development server before cleaning.",
     "Run your project's Next.js build or dev command"},
}};

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
