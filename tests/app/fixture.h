#pragma once

// What the model's, the window's and the sheets' tests (and the pictures and the list bench) share:
// a fixture home whose model scans and plans with fakes, items and plans as a scan and the planner
// make them, and opening a sheet as the window does.

#include <QAccessible>
#include <QDialog>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <semaphore>

#include "app/model/storage_model.h"
#include "core/planning/cleanup_plan.h"
#include "core/records/freed_space.h"
#include "core/records/scan_result.h"
#include "core/scanning/target_catalogue.h"

namespace fixture {

using namespace std::chrono_literals;
using Gate = std::shared_ptr<std::counting_semaphore<>>;
inline Gate closed() { return std::make_shared<std::counting_semaphore<>>(0); }

struct NoSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override { return {}; }
};

// Waits for a release of `gate` (none: passes at once), at most 10 s so that a failing test
// cannot hang the model's destructor; false when `stop` is cancelled first.
inline bool pass(const Gate& gate, const tarnby::ScanCancellation* stop = nullptr) {
    for (const auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
        if (stop && stop->isCancelled()) return false;
        if (!gate || gate->try_acquire_for(5ms)) return true;
    }
    return false;
}

// Reports `progressTexts`, then returns `result`, held at `gate` (even when stopped) while that is
// set. With `found`, it reports those items as measured, in that order, one per release of `steps`
// (all at once without), stops reporting at a stop, and returns what it reported, sorted as the
// scanner sorts. What the last scan saw is read once the model is idle or gone.
struct FakeScan {
    tarnby::ScanResult result;
    Gate gate, steps;
    std::vector<tarnby::StorageItem> found;
    std::vector<std::string> progressTexts;
    std::atomic<int> calls{0}, reported{0};
    std::atomic<bool> sawCancellation{false};
    std::optional<std::vector<tarnby::SimulatorDevice>> devices;
    tarnby::Scanner::Progress progress;  // kept, to report after the scan

    quillet::StorageModelSetup::ScanFunction function() {
        return [this](const tarnby::ScanConfiguration&, const std::optional<std::vector<tarnby::SimulatorDevice>>& seen,
                      const tarnby::ScanCancellation& stop, const tarnby::Scanner::Progress& report,
                      const tarnby::Scanner::Measured& measured) {
            ++calls;
            devices = seen;
            progress = report;
            for (const auto& text : progressTexts) report(text);
            tarnby::ScanResult out = result;
            if (!found.empty()) out.items.clear();
            reported = 0;
            for (const auto& next : found) {
                if (!pass(steps, &stop)) break;
                if (measured) measured(next);
                out.items.push_back(next);
                ++reported;
            }
            if (auto held = gate) held->try_acquire_for(10s);
            std::stable_sort(out.items.begin(), out.items.end(), [&](const auto& a, const auto& b) {
                return !found.empty() && a.measurement.bytes > b.measurement.bytes;
            });
            out.cancelled = sawCancellation = stop.isCancelled();
            return out;
        };
    }
    void hold() { gate = closed(); }
    void release() { gate->release(); }
    void holdSteps() { steps = closed(); }
};

// Plans the items it is given, one planned entry each, or returns `plan` when that is set, or
// throws `failure`; held at `gate` while that is set, and with `untilAbandoned` until the model
// goes away. What it was given is kept for the test.
struct FakePlan {
    Gate gate;
    std::optional<tarnby::CleanupPlan> plan;
    std::exception_ptr failure;
    bool untilAbandoned = false, acknowledged = false, sawAbandon = false;
    std::vector<std::string> given;

    quillet::StorageModelSetup::PlanFunction function() {
        return [this](const std::vector<tarnby::StorageItem>& items, const tarnby::ScanConfiguration&,
                      const tarnby::SimulatorManaging&, bool acknowledge, const tarnby::ScanCancellation& abandon) {
            given.clear();
            for (const auto& planned : items) given.push_back(planned.url);
            acknowledged = acknowledge;
            if (auto held = gate) held->try_acquire_for(10s);
            if (untilAbandoned) pass(closed(), &abandon);
            sawAbandon = abandon.isCancelled();
            if (failure) std::rethrow_exception(failure);
            if (plan) return *plan;
            tarnby::CleanupPlan made;
            for (const auto& planned : items) {
                made.items.push_back({planned.url, planned.title, tarnby::PlannedOperation::moveFolderToTrash,
                                      planned.measurement.bytes});
            }
            return made;
        };
    }
    void hold() { gate = closed(); }
    void release() { gate->release(); }
};

// A fixture home with a model whose scans return `scan.result` and whose disk has 123 GB free.
struct Home {
    QTemporaryDir folder;
    FakeScan scan;
    FakePlan plan;

    std::string path() const { return folder.path().toStdString(); }
    quillet::StorageModelSetup setup() {
        return {path(),
                std::make_shared<NoSimulators>(),
                scan.function(),
                plan.function(),
                [](const std::string&) { return std::optional<std::int64_t>(123'000'000'000); },
                std::nullopt};
    }
};

inline bool idle(const quillet::StorageModel& model) {
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

inline tarnby::StorageItem item(std::string path, std::string title, tarnby::StorageKind kind, std::int64_t bytes,
                                std::optional<int> daysAgo = 40) {
    tarnby::StorageItem made;
    made.url = std::move(path);
    made.title = std::move(title);
    made.kind = kind;
    made.measurement.bytes = made.measurement.freedBytes = bytes;
    if (daysAgo) made.measurement.modified = std::chrono::system_clock::now() - std::chrono::days(*daysAgo);
    return made;
}

inline tarnby::TimePoint dayTime(int year, int month, int day, int hour) {
    return std::chrono::sys_days{std::chrono::year{year} / month / day} + std::chrono::hours{hour};
}

// A project's node_modules, fully described, as the detail sheet shows it.
inline tarnby::StorageItem folder(const std::string& home, const std::string& project,
                                  std::int64_t bytes = 734'003'200) {
    tarnby::StorageItem made = item(home + "/Code/" + project + "/node_modules", project + " / node_modules",
                                    tarnby::StorageKind::dependencies, bytes, std::nullopt);
    made.explanation = std::string(tarnby::TargetCatalogue::kWalkedTargets[0].explanation);
    made.rebuild = "pnpm install --frozen-lockfile";
    made.measurement.files = 48'213;
    made.measurement.modified = dayTime(2026, 9, 14, 9);
    made.measurement.fingerprint = std::string(64, 'a');
    return made;
}

inline tarnby::StorageItem simulator(const std::string& home, const std::string& name, bool running,
                                     bool booted = true) {
    const std::string udid = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A1" + std::to_string(name.size() % 10);
    tarnby::StorageItem made = item(home + "/Library/Developer/CoreSimulator/Devices/" + udid, name,
                                    tarnby::StorageKind::simulators, 2'147'483'648, std::nullopt);
    made.explanation = std::string(tarnby::TargetCatalogue::kSimulatorExplanation);
    made.rebuild = std::string(tarnby::TargetCatalogue::kSimulatorRebuild);
    made.measurement.files = 9'120;
    made.measurement.modified = dayTime(2026, 11, 2, 15);
    made.deviceID = udid;
    if (booted) made.lastBoot = dayTime(2026, 10, 30, 8);
    if (running) made.protection = std::string(tarnby::TargetCatalogue::kInUseProtection);
    return made;
}

inline tarnby::CleanupPlan plan(const std::string& home, int folders, bool withSimulator) {
    tarnby::CleanupPlan result;
    result.id = "7D7B4F52-3C0E-4A43-9A43-0F4B3B0A9E11";
    for (int i = 0; i < folders; ++i) {
        const auto made = folder(home, "site-" + std::to_string(i + 1), 120'000'000 + i * 7'300'000);
        result.items.push_back(
            {made.url, made.title, tarnby::PlannedOperation::moveFolderToTrash, made.measurement.bytes});
    }
    if (withSimulator) {
        const auto made = simulator(home, "iPhone 15", false);
        result.items.push_back(
            {made.url, made.title, tarnby::PlannedOperation::eraseSimulator, made.measurement.bytes});
    }
    return result;
}

// A pnpm store and a project hard-linking 89.3 MB of it: each alone frees little, the two
// together nearly all. The project lists what takes its space.
inline std::vector<tarnby::StorageItem> sharedPair(const std::string& home) {
    tarnby::StorageItem project = folder(home, "notes-pnpm", 89'700'000);
    project.measurement.freedBytes = 400'000;
    tarnby::StorageItem store = project;
    store.url = home + "/.local/share/pnpm/store";
    store.kind = tarnby::StorageKind::caches;
    store.title = "pnpm store";
    store.explanation = std::string(tarnby::TargetCatalogue::kCacheExplanation);
    store.rebuild = std::string(tarnby::TargetCatalogue::kCacheRebuild);
    store.measurement.bytes = 90'900'000;
    store.measurement.freedBytes = 1'600'000;
    const tarnby::SharedLink link{1, 77, 174'414, 2, 1};  // 89.3 MB in one link each
    project.measurement.sharedLinks = store.measurement.sharedLinks = {link};
    project.measurement.largest = {{".pnpm", 61'200'000},
                                   {"typescript", 12'400'000},
                                   {"next", 8'900'000},
                                   {"@types", 3'100'000},
                                   {"react-dom", 2'200'000},
                                   {".modules.yaml", 8'192},
                                   {"a-package-whose-name-goes-on-for-longer-than-the-sheet-has-room-for", 4'096},
                                   {".bin", 4'096}};
    return {store, project};
}

// What cleaning frees when the plan's items share nothing: all of it.
inline tarnby::FreedSpace freedAll(const tarnby::CleanupPlan& plan) {
    tarnby::FreedSpace freed;
    for (const auto& entry : plan.items) freed.bytes += entry.estimatedBytes;
    return freed;
}

// Shows the sheet window-modal, as the window opens it, and waits until it is on screen.
inline bool openSheet(QDialog& sheet) {
    sheet.open();
    return QTest::qWaitForWindowExposed(&sheet);
}

// A key press goes to the focused control first and reaches the sheet when that ignores it.
inline void press(QDialog& sheet, Qt::Key key) {
    QTest::keyClick(sheet.focusWidget() != nullptr ? sheet.focusWidget() : &sheet, key);
}

// True when `widget` is shown and lies wholly inside `sheet`'s visible area.
inline bool visibleInside(const QWidget& widget, const QWidget& sheet) {
    return widget.isVisible() && sheet.rect().contains(QRect(widget.mapTo(&sheet, QPoint(0, 0)), widget.size()));
}

// Controls a keyboard can reach that a screen reader would announce without a name.
inline QStringList unnamedControls(QWidget& sheet) {
    QStringList unnamed;
    for (QWidget* widget : sheet.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->focusPolicy() == Qt::NoFocus) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty()) {
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + widget->objectName();
        }
    }
    return unnamed;
}

}  // namespace fixture
