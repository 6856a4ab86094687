#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "app/model/storage_model.h"
#include "core/preferences/saved_preferences.h"
#include "core/records/storage_error.h"
#include "tests/app/window/window_fixture.h"

using namespace std::chrono_literals;
using quillet::StorageModel;
using quillet::StorageModelSetup;
using tarnby::StorageItem;

namespace {

// Holds a worker until the test releases it. Workers wait at most 10 s, so a failing test cannot
// leave the model's destructor waiting forever.
using Gate = std::binary_semaphore;

std::vector<std::string> ids(const std::vector<StorageItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.id());
    return out;
}

struct FakeSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override {
        if (failure) std::rethrow_exception(failure);
        return devices;
    }
    std::vector<tarnby::SimulatorDevice> devices;
    std::exception_ptr failure;
};

// Reports its texts, waits at the gate if there is one, then returns `result`, marked cancelled
// when a stop reached it. What it saw is read once the model is idle or gone.
struct FakeScan {
    tarnby::ScanResult result;
    std::vector<std::string> progressTexts;
    std::shared_ptr<Gate> gate;
    std::optional<std::vector<tarnby::SimulatorDevice>> devices;
    tarnby::Scanner::Progress progress;
    bool sawCancellation = false;
    std::atomic<int> calls{0};

    StorageModelSetup::ScanFunction function() {
        return [this](const tarnby::ScanConfiguration&, const std::optional<std::vector<tarnby::SimulatorDevice>>& seen,
                      const tarnby::ScanCancellation& cancellation, const tarnby::Scanner::Progress& report,
                      const tarnby::Scanner::Measured&) {
            ++calls;
            devices = seen;
            progress = report;
            for (const auto& text : progressTexts) report(text);
            if (gate) gate->try_acquire_for(10s);
            tarnby::ScanResult out = result;
            out.cancelled = sawCancellation = cancellation.isCancelled();
            return out;
        };
    }
};

// Like FakeScan; with `untilAbandoned` it runs until the model goes away (at most 10 s), and
// with `failure` it throws that instead of answering.
struct FakePlan {
    tarnby::CleanupPlan plan;
    std::shared_ptr<Gate> gate;
    std::vector<std::string> items;
    bool acknowledged = false;
    bool untilAbandoned = false;
    bool sawAbandon = false;
    std::exception_ptr failure;

    StorageModelSetup::PlanFunction function() {
        return [this](const std::vector<StorageItem>& given, const tarnby::ScanConfiguration&,
                      const tarnby::SimulatorManaging&, bool acknowledge, const tarnby::ScanCancellation& abandon) {
            items = ids(given);
            acknowledged = acknowledge;
            if (gate) gate->try_acquire_for(10s);
            const auto end = std::chrono::steady_clock::now() + 10s;
            while (untilAbandoned && !abandon.isCancelled() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(5ms);
            }
            sawAbandon = abandon.isCancelled();
            if (failure) std::rethrow_exception(failure);
            return plan;
        };
    }
};

// A scanner that cannot be copied, as when memory runs out while a scan is being queued.
struct UncopyableScan {
    UncopyableScan() = default;
    UncopyableScan(UncopyableScan&&) = default;
    UncopyableScan(const UncopyableScan&) { throw std::bad_alloc(); }
    tarnby::ScanResult operator()(const tarnby::ScanConfiguration&,
                                  const std::optional<std::vector<tarnby::SimulatorDevice>>&,
                                  const tarnby::ScanCancellation&, const tarnby::Scanner::Progress&,
                                  const tarnby::Scanner::Measured&) const {
        return {};
    }
};

StorageItem makeItem(std::string path) {
    StorageItem item;
    item.url = std::move(path);
    return item;
}

void writeFile(const std::string& path, const std::string& contents) {
    QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
    std::ofstream(path) << contents;
}

bool idle(const StorageModel& model) {
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

const QString kComplete = QStringLiteral("Scan complete. Nothing was changed.");
const QString kStopped = QStringLiteral("Scan stopped. Showing partial results.");
const std::string kInventoryNote = "Simulator inventory unavailable. Simulator cleanup is disabled. ";

}  // namespace

class StorageModelTest : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;

    std::string home() const { return m_home->path().toStdString(); }
    StorageModelSetup setup(FakeScan* scanner = nullptr, FakePlan* planner = nullptr,
                            std::shared_ptr<FakeSimulators> simulators = std::make_shared<FakeSimulators>()) const {
        return {home(),
                std::move(simulators),
                scanner ? scanner->function() : nullptr,
                planner ? planner->function() : nullptr,
                nullptr,
                tarnby::UserEnvironment{}};
    }

private slots:
    void init() { QVERIFY(m_home.emplace().isValid()); }

    void scanStartClearsSelectionAndNotesAndABusyModelStartsNothing() {
        FakeScan scanner;
        scanner.result = {{makeItem("/h/a"), makeItem("/h/b")}, {"scan note"}, false};
        FakePlan planner;
        StorageModel model(setup(&scanner, &planner));
        model.scan();
        QVERIFY(idle(model));
        model.select("/h/a");

        // The selection and notes go at once; the old items stay listed until the result.
        scanner.gate = std::make_shared<Gate>(0);
        model.scan();
        QVERIFY(model.busy() && model.scanning());
        QVERIFY(model.selected().empty() && model.notes().empty());
        QCOMPARE(model.status(), QStringLiteral("Reading developer storage…"));
        QCOMPARE(ids(model.items()), (std::vector<std::string>{"/h/a", "/h/b"}));

        // During a scan neither a second scan nor a plan starts.
        model.scan();
        model.createPlan(true);
        scanner.gate->release();
        QVERIFY(idle(model));
        QCOMPARE(scanner.calls.load(), 2);
        QVERIFY(!model.plan());

        // During a plan a scan does not start (it would drop the selection), nor does a stop act.
        planner.gate = std::make_shared<Gate>(0);
        model.select("/h/a");
        model.createPlan(false);
        model.scan();
        model.createPlan(true);
        model.stop();
        QVERIFY(model.busy() && !model.scanning());
        QCOMPARE(model.selected(), std::set<std::string>{"/h/a"});
        QCOMPARE(model.status(), kComplete);
        planner.gate->release();
        QVERIFY(idle(model));
        QVERIFY(!planner.acknowledged);  // the second plan request did not run
    }

    void stopPublishesPartialItemsAndReachesOnlyItsOwnScan() {
        FakeScan scanner;
        scanner.progressTexts = {"Looking through one"};
        scanner.gate = std::make_shared<Gate>(0);
        scanner.result.items = {makeItem("/h/partial")};
        StorageModel model(setup(&scanner));
        model.scan();
        QTRY_COMPARE(model.status(), QStringLiteral("Looking through one"));
        model.stop();
        QCOMPARE(model.status(), QStringLiteral("Stopping after the current operation…"));
        scanner.gate->release();
        QVERIFY(idle(model));
        QVERIFY(scanner.sawCancellation);
        QCOMPARE(ids(model.items()), std::vector<std::string>{"/h/partial"});
        QCOMPARE(model.status(), kStopped);
        QVERIFY(model.didScan() && !model.scanning());

        // A progress text that arrives after the result does not replace the final status.
        std::thread([late = scanner.progress] { late("Looking through two"); }).join();
        QTest::qWait(50);
        QCOMPARE(model.status(), kStopped);

        // The next scan runs to the end.
        scanner.gate.reset();
        model.scan();
        QVERIFY(idle(model));
        QVERIFY(!scanner.sawCancellation);
        QCOMPARE(model.status(), kComplete);
    }

    void anEmptyListGrowsAsItemsAreMeasuredInTheirFinalOrder() {
        window_fixture::FakeScan streaming;
        streaming.result.items = {makeItem("/h/old")};
        StorageModelSetup s = setup();
        s.scanner = streaming.function();
        StorageModel model(std::move(s));
        model.keep("/h/old");
        model.scan();
        QVERIFY(idle(model));

        // Only a kept item is listed: the next scan starts from nothing. Found as a, b, c, d, e;
        // equal sizes stay in that order.
        auto sized = [](std::string path, std::int64_t bytes) {
            StorageItem item = makeItem(std::move(path));
            item.measurement.bytes = bytes;
            return item;
        };
        streaming.found = {sized("/h/a", 5), sized("/h/b", 9), sized("/h/c", 9), sized("/h/d", 12), sized("/h/e", 9)};
        const std::vector<std::string> final{"/h/d", "/h/b", "/h/c", "/h/e", "/h/a"};
        streaming.holdSteps();
        streaming.hold();
        model.scan();
        QVERIFY(model.items().empty());
        std::set<std::string> measured;
        for (const StorageItem& next : streaming.found) {
            streaming.steps->release();
            measured.insert(next.url);
            QTRY_COMPARE(model.items().size(), measured.size());
            std::vector<std::string> expected;
            std::copy_if(final.begin(), final.end(), std::back_inserter(expected),
                         [&](const std::string& path) { return measured.contains(path); });
            QCOMPARE(ids(model.items()), expected);
            QVERIFY(model.scanning());
        }
        streaming.release();
        QVERIFY(idle(model));
        QCOMPARE(ids(model.items()), final);
        for (const QTimer* timer : model.findChildren<QTimer*>()) QVERIFY(!timer->isActive());

        // Items measured in a rush reach the list in a few batches, not one by one.
        for (int i = 0; i < 1000; ++i) streaming.found.push_back(sized("/h/many/" + std::to_string(i), i));
        streaming.steps.reset();
        streaming.hold();
        for (const std::string& path : final) model.keep(path);
        QSignalSpy published(&model, &StorageModel::itemsChanged);
        model.scan();
        QTRY_COMPARE(model.items().size(), streaming.found.size());
        QVERIFY2(published.count() < 50, qPrintable(QString::number(published.count())));
        streaming.release();
        QVERIFY(idle(model));
    }

    void inventoryFailureNoteFollowsTheScanNotes() {
        FakeScan scanner;
        scanner.result.notes = {"Could not inspect /x fully."};
        auto simulators = std::make_shared<FakeSimulators>();
        simulators->failure = std::make_exception_ptr(tarnby::StorageError::command("xcrun: error"));
        StorageModel model(setup(&scanner, nullptr, simulators));
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(model.notes(),
                 (std::vector<std::string>{"Could not inspect /x fully.", kInventoryNote + "xcrun: error"}));
        QVERIFY(!scanner.devices);  // no inventory, not an empty one

        // A working inventory reaches the scanner and adds no note.
        simulators->failure = nullptr;
        simulators->devices = {{"ABC", "iPhone", "Shutdown", true}};
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(model.notes(), std::vector<std::string>{"Could not inspect /x fully."});
        QVERIFY(scanner.devices == simulators->devices);
    }

    void linuxHomeScansItsCachesPlansThemAndIsQuietWithoutSimulators() {
        QTemporaryDir xdg;
        QVERIFY(xdg.isValid());
        const std::string cache = xdg.path().toStdString() + "/cache";
        writeFile(home() + "/.local/share/pnpm/store/v3/x", "pnpm");
        writeFile(cache + "/yarn/v6/x", "yarn 1");
        writeFile(home() + "/.cache/yarn/v6/x", "not where yarn writes when XDG_CACHE_HOME is set");
        StorageModelSetup linuxSetup = setup();
        linuxSetup.simulators = std::make_shared<tarnby::SystemSimulators>(
            tarnby::SystemSimulators::Locations{"/nonexistent/xcrun", "/nonexistent", "/nonexistent/simctl"},
            tarnby::Platform::linuxDesktop);
        linuxSetup.environment = tarnby::UserEnvironment{tarnby::Platform::linuxDesktop, {home()}, cache, std::nullopt};
        StorageModel model(std::move(linuxSetup));

        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(model.notes(), std::vector<std::string>{});
        std::vector<std::string> found = ids(model.items());
        std::vector<std::string> expected{home() + "/.local/share/pnpm/store", cache + "/yarn"};
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(found, expected);

        model.select(home() + "/.local/share/pnpm/store");
        model.createPlan(false);
        QVERIFY(idle(model));
        QCOMPARE(model.plan()->items.size(), std::size_t(1));
        QCOMPARE(model.plan()->items.front().operation, tarnby::PlannedOperation::moveFolderToTrash);

        // A copied macOS home with a device folder: the inventory is asked, and its failure told once.
        QVERIFY(QDir().mkpath(QString::fromStdString(
            home() + "/Library/Developer/CoreSimulator/Devices/0F5C9B7E-1D2A-4C3B-9E8F-7A6B5C4D3E2F")));
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(model.notes().size(), std::size_t(1));
        QVERIFY(model.notes().front().rfind(kInventoryNote, 0) == 0);
    }

    void keepSavesAtOnceDeselectsAndHides() {
        // Two projects below a saved root, found by the real scanner.
        writeFile(home() + "/Code/app/package.json", "{}");
        writeFile(home() + "/Code/app/node_modules/index.js", std::string(20000, 'x'));
        writeFile(home() + "/Code/site/package.json", "{}");
        writeFile(home() + "/Code/site/node_modules/a.js", "x");
        QVERIFY(!tarnby::savePreferences(home(), {{home() + "/Code"}, {}}));
        const std::string app = home() + "/Code/app/node_modules", site = home() + "/Code/site/node_modules";
        StorageModel model(setup());
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(ids(model.items()), (std::vector<std::string>{app, site}));
        model.selectListed(model.visibleItems());

        // The row's own item, taken from the list that keeping it replaces.
        QSignalSpy visibleChanged(&model, &StorageModel::visibleItemsChanged);
        const auto before = model.visibleSnapshot();
        model.keep((*before->items)[before->positions[0]]);
        QCOMPARE(visibleChanged.count(), 1);
        // A snapshot held across the keep still lists what it listed; the new one shares the items.
        QCOMPARE(before->positions, (std::vector<std::size_t>{0, 1}));
        QCOMPARE(ids(*before->items), (std::vector<std::string>{app, site}));
        const auto after = model.visibleSnapshot();
        QCOMPARE(after->items, before->items);
        QCOMPARE(after->positions, std::vector<std::size_t>{1});
        QCOMPARE(model.kept(), std::set<std::string>{app});
        QCOMPARE(model.selected(), std::set<std::string>{site});
        QCOMPARE(ids(model.visibleItems()), std::vector<std::string>{site});
        QCOMPARE(model.items().size(), std::size_t(2));
        QCOMPARE(tarnby::loadPreferences(home()).kept, model.kept());
        QCOMPARE(StorageModel(setup()).kept(), model.kept());  // a restarted model loads it

        // Forgetting every kept path saves at once too.
        model.clearKept();
        QVERIFY(tarnby::loadPreferences(home()).kept.empty());
    }

    void planTakesSelectableItemsInScanOrderAndAppendsKeptLinesEachTime() {
        StorageItem guarded = makeItem("/h/db");
        guarded.protection = "In use or unknown state";
        StorageItem partial = makeItem("/h/docs");
        partial.measurement.complete = false;
        FakeScan scanner;  // scan order differs from path order
        scanner.result = {
            {makeItem("/h/web"), guarded, makeItem("/h/api"), partial, makeItem("/h/cli")}, {"scan note"}, false};
        for (StorageItem& item : scanner.result.items) item.measurement.freedBytes = item.url.size();
        FakePlan planner;
        planner.plan = {"plan-1",
                        {{"/h/api", "api", tarnby::PlannedOperation::moveFolderToTrash, 20}},
                        {"cli: This item changed after the scan.", "web: Gone."}};
        StorageModel model(setup(&scanner, &planner));
        model.scan();
        QVERIFY(idle(model));

        model.selectListed({model.items().rbegin(), model.items().rend()});
        model.createPlan(true);
        QVERIFY(idle(model));
        QCOMPARE(planner.items, (std::vector<std::string>{"/h/web", "/h/api", "/h/cli"}));
        QVERIFY(planner.acknowledged);
        QCOMPARE(model.plan()->id, std::string("plan-1"));
        QCOMPARE(model.planFreed(), (tarnby::FreedSpace{6, false}));  // "/h/api" alone; the others stayed out
        QCOMPARE(model.status(), QStringLiteral("Preview ready for 1 item. No files moved or deleted."));
        QCOMPARE(model.selected().size(), std::size_t(3));  // a plan leaves the selection alone
        QCOMPARE(model.notes(),
                 (std::vector<std::string>{"scan note", "cli: This item changed after the scan.", "web: Gone."}));

        planner.plan.id = "plan-2";
        model.createPlan(false);
        QVERIFY(idle(model));
        QCOMPARE(model.plan()->id, std::string("plan-2"));
        QCOMPARE(model.notes(),
                 (std::vector<std::string>{"scan note", "cli: This item changed after the scan.", "web: Gone.",
                                           "cli: This item changed after the scan.", "web: Gone."}));
    }

    void emptySelectionGivesAnEmptyPreview() {
        StorageModel model(setup());  // the real planner
        model.createPlan(false);
        QVERIFY(idle(model));
        QVERIFY(model.plan() && model.plan()->items.empty());
        QCOMPARE(model.status(), QStringLiteral("Preview ready for 0 items. No files moved or deleted."));
        QVERIFY(model.notes().empty());
    }

    void freeSpaceIsAskedOnTheWorkerAtStartAndAfterEachScan() {
        std::mutex lock;
        std::optional<std::int64_t> answer = 2'150'000'000;
        std::vector<std::string> asked;
        bool askedOnMainThread = false;
        FakeScan scanner;
        StorageModelSetup s = setup(&scanner);
        s.availableCapacity = [&](const std::string& path) {
            const std::lock_guard guard(lock);
            asked.push_back(path);
            askedOnMainThread = askedOnMainThread || QThread::currentThread() == qApp->thread();
            return answer;
        };
        StorageModel model(std::move(s));
        QSignalSpy changed(&model, &StorageModel::freeSpaceChanged);
        QTRY_COMPARE(model.freeSpace(), QStringLiteral("2.15 GB available"));
        QCOMPARE(changed.count(), 1);

        {
            const std::lock_guard guard(lock);
            answer.reset();
        }
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(model.freeSpace(), QStringLiteral("Available space unavailable"));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().first().toString(), model.freeSpace());
        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(changed.count(), 2);  // the same text is no news

        const std::lock_guard guard(lock);
        QCOMPARE(asked, (std::vector<std::string>{home(), home(), home()}));
        QVERIFY(!askedOnMainThread);
    }

    void failuresOfAnyKindLeaveTheModelIdle() {
        FakeScan scanner;
        FakePlan planner;
        planner.failure = std::make_exception_ptr(42);  // not a std::exception
        StorageModel model(setup(&scanner, &planner));
        model.createPlan(false);
        QVERIFY(idle(model));
        QCOMPARE(model.notes(), std::vector<std::string>{"The preview could not be made. Nothing was changed."});
        QVERIFY(!model.plan());

        StorageModelSetup s = setup();
        s.scanner = [](auto&&...) -> tarnby::ScanResult { throw 42; };
        StorageModel throwing(std::move(s));
        throwing.scan();
        QVERIFY(idle(throwing));
        QCOMPARE(throwing.notes(), std::vector<std::string>{"The scan could not be completed. Nothing was changed."});
        QVERIFY(throwing.didScan() && !throwing.scanning());

        // A scan that cannot even be queued.
        s = setup();
        s.scanner = UncopyableScan();
        StorageModel unqueued(std::move(s));
        unqueued.scan();
        QVERIFY(!unqueued.busy() && !unqueued.scanning());
        QCOMPARE(unqueued.notes(), std::vector<std::string>{"The work could not be started. Nothing was changed."});
        QCOMPARE(unqueued.status(), QStringLiteral("Ready when you are."));
    }

    void destroyingMidPlanAbandonsThePlan() {
        FakePlan planner;
        planner.untilAbandoned = true;
        auto model = std::make_unique<StorageModel>(setup(nullptr, &planner));
        model->createPlan(false);
        model->stop();  // the user cannot stop a plan
        QTest::qWait(50);
        QVERIFY(model->busy());
        model.reset();
        QVERIFY(planner.sawAbandon);
    }

    void destroyingMidScanIsSafe() {
        FakeScan scanner;
        scanner.progressTexts = {"Looking through one"};
        scanner.gate = std::make_shared<Gate>(0);
        auto model = std::make_unique<StorageModel>(setup(&scanner));
        model->scan();
        QTRY_COMPARE(scanner.calls.load(), 1);

        // The worker is released only after the destructor has begun waiting for it.
        std::thread release([gate = scanner.gate] {
            std::this_thread::sleep_for(100ms);
            gate->release();
        });
        model.reset();
        release.join();
        QVERIFY(scanner.sawCancellation);  // the destructor stopped the scan

        // Queued progress and result calls, and a text from a callback kept beyond the model,
        // find no model and are dropped.
        std::thread([late = scanner.progress] { late("Looking through two"); }).join();
        QTest::qWait(50);
    }
};

QTEST_GUILESS_MAIN(StorageModelTest)
#include "storage_model_qtest.moc"
