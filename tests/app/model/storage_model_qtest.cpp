#include <QtTest>

#include <algorithm>
#include <fstream>
#include <new>
#include <thread>

#include "app/model/storage_model.h"
#include "core/preferences/saved_preferences.h"
#include "core/records/storage_error.h"
#include "tests/app/fixture.h"

using namespace std::chrono_literals;
using fixture::idle;
using quillet::StorageModel;
using quillet::StorageModelSetup;
using tarnby::StorageItem;

namespace {

std::vector<std::string> ids(const std::vector<StorageItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.id());
    return out;
}

StorageItem at(std::string path, std::int64_t bytes = 0) { return fixture::item(std::move(path), {}, {}, bytes); }

struct FakeSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override {
        if (failure) std::rethrow_exception(failure);
        return devices;
    }
    std::vector<tarnby::SimulatorDevice> devices;
    std::exception_ptr failure;
};

// A scanner that cannot be copied, as when memory runs out while a scan is being queued.
struct UncopyableScan {
    UncopyableScan() = default;
    UncopyableScan(UncopyableScan&&) = default;
    UncopyableScan(const UncopyableScan&) { throw std::bad_alloc(); }
    tarnby::ScanResult operator()(auto&&...) const { return {}; }
};

void writeFile(const std::string& path, const std::string& contents) {
    QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
    std::ofstream(path) << contents;
}

const QString kComplete = QStringLiteral("Scan complete. Nothing was changed.");

bool scanned(StorageModel& model) {
    model.scan();
    return idle(model);
}
bool planned(StorageModel& model, bool acknowledge) {
    model.createPlan(acknowledge);
    return idle(model);
}

}  // namespace

class StorageModelTest : public QObject {
    Q_OBJECT

    std::optional<fixture::Home> m_home;
    std::shared_ptr<FakeSimulators> m_simulators;

    std::string home() const { return m_home->path(); }
    fixture::FakeScan& scanner() { return m_home->scan; }
    fixture::FakePlan& planner() { return m_home->plan; }
    // The fixture home with the fake scanner, planner and inventory, and no variables of its own.
    StorageModelSetup setup() {
        StorageModelSetup s = m_home->setup();
        s.simulators = m_simulators;
        s.environment = tarnby::UserEnvironment{};
        return s;
    }

private slots:
    void init() {
        QVERIFY(m_home.emplace().folder.isValid());
        m_simulators = std::make_shared<FakeSimulators>();
    }

    void scanStartClearsSelectionAndNotesAndABusyModelStartsNothing() {
        scanner().result = {{at("/h/a"), at("/h/b")}, {"scan note"}, false};
        StorageModel model(setup());
        QVERIFY(scanned(model));
        model.select("/h/a");

        // The selection and notes go at once; the old items stay listed until the result.
        scanner().hold();
        model.scan();
        QVERIFY(model.busy() && model.scanning() && model.selected().empty() && model.notes().empty());
        QCOMPARE(ids(model.items()), (std::vector<std::string>{"/h/a", "/h/b"}));

        // During a scan neither a second scan nor a plan starts.
        model.scan();
        model.createPlan(true);
        scanner().release();
        QVERIFY(idle(model) && scanner().calls == 2 && !model.plan());

        // During a plan a scan does not start (it would drop the selection), nor does a stop act.
        planner().hold();
        model.select("/h/a");
        model.createPlan(false);
        model.scan();
        model.createPlan(true);
        model.stop();
        QVERIFY(model.busy() && !model.scanning() && model.selected().size() == 1 && model.status() == kComplete);
        planner().release();
        QVERIFY(idle(model));
        QVERIFY(!planner().acknowledged);  // the second plan request did not run
    }

    void stopPublishesPartialItemsAndReachesOnlyItsOwnScan() {
        scanner().progressTexts = {"Looking through one"};
        scanner().hold();
        scanner().result.items = {at("/h/partial")};
        StorageModel model(setup());
        model.scan();
        QTRY_COMPARE(model.status(), QStringLiteral("Looking through one"));
        model.stop();
        QCOMPARE(model.status(), QStringLiteral("Stopping after the current operation…"));
        scanner().release();
        QVERIFY(idle(model) && scanner().sawCancellation && model.didScan() && !model.scanning());
        QCOMPARE(ids(model.items()), std::vector<std::string>{"/h/partial"});
        QCOMPARE(model.status(), QStringLiteral("Scan stopped. Showing partial results."));

        // A progress text that arrives after the result does not replace the final status.
        std::thread([late = scanner().progress] { late("Looking through two"); }).join();
        QTest::qWait(50);
        QCOMPARE(model.status(), QStringLiteral("Scan stopped. Showing partial results."));

        // The next scan runs to the end.
        scanner().gate.reset();
        QVERIFY(scanned(model) && !scanner().sawCancellation && model.status() == kComplete);
    }

    // Only a kept item is listed: the next scan starts from nothing and grows as items are measured,
    // in a few batches rather than one by one, each in its final place (equal sizes in found order).
    void anEmptyListGrowsInBatchesInTheFinalOrder() {
        scanner().result.items = {at("/h/old")};
        StorageModel model(setup());
        model.keep("/h/old");
        QVERIFY(scanned(model));
        for (int i = 0; i < 1000; ++i) scanner().found.push_back(at("/h/" + std::to_string(i), i % 7));
        std::vector<StorageItem> sorted = scanner().found;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](auto& a, auto& b) { return a.measurement.bytes > b.measurement.bytes; });
        scanner().hold();
        QSignalSpy published(&model, &StorageModel::itemsChanged);
        model.scan();
        QVERIFY(model.items().empty());
        QTRY_COMPARE(ids(model.items()), ids(sorted));
        QVERIFY2(published.count() < 50, qPrintable(QString::number(published.count())));
        scanner().release();
        QVERIFY(idle(model));
        for (const QTimer* timer : model.findChildren<QTimer*>()) QVERIFY(!timer->isActive());
    }

    void inventoryFailureNoteFollowsTheScanNotes() {
        scanner().result.notes = {"Could not inspect /x fully."};
        m_simulators->failure = std::make_exception_ptr(tarnby::StorageError::command("xcrun: error"));
        StorageModel model(setup());
        QVERIFY(scanned(model));
        QCOMPARE(model.notes(), (std::vector<std::string>{
                                    "Could not inspect /x fully.",
                                    "Simulator inventory unavailable. Simulator cleanup is disabled. xcrun: error"}));
        QVERIFY(!scanner().devices);  // no inventory, not an empty one

        // A working inventory reaches the scanner and adds no note.
        m_simulators->failure = nullptr;
        m_simulators->devices = {{"ABC", "iPhone", "Shutdown", true}};
        QVERIFY(scanned(model) && scanner().devices == m_simulators->devices);
        QCOMPARE(model.notes(), std::vector<std::string>{"Could not inspect /x fully."});
    }

    // The model's environment decides where the scan looks.
    void linuxHomeScansItsCachesAndIsQuietWithoutSimulators() {
        QTemporaryDir xdg;
        QVERIFY(xdg.isValid());
        const std::string cache = xdg.path().toStdString() + "/cache";
        writeFile(home() + "/.local/share/pnpm/store/v3/x", "pnpm");
        writeFile(cache + "/yarn/v6/x", "yarn 1");
        writeFile(home() + "/.cache/yarn/v6/x", "not where yarn writes when XDG_CACHE_HOME is set");
        StorageModelSetup linuxSetup = setup();
        linuxSetup.scanner = nullptr;  // the real one
        linuxSetup.simulators = std::make_shared<tarnby::SystemSimulators>(
            tarnby::SystemSimulators::Locations{"/nonexistent/xcrun", "/nonexistent", "/nonexistent/simctl"},
            tarnby::Platform::linuxDesktop);
        linuxSetup.environment = tarnby::UserEnvironment{tarnby::Platform::linuxDesktop, {home()}, cache, std::nullopt};
        StorageModel model(std::move(linuxSetup));

        QVERIFY(scanned(model));
        QCOMPARE(model.notes(), std::vector<std::string>{});
        const std::vector<std::string> found = ids(model.items());
        QCOMPARE(std::set(found.begin(), found.end()),
                 (std::set{home() + "/.local/share/pnpm/store", cache + "/yarn"}));

        // A copied macOS home with a device folder: the inventory is asked, and its failure told.
        QVERIFY(QDir().mkpath(QString::fromStdString(
            home() + "/Library/Developer/CoreSimulator/Devices/0F5C9B7E-1D2A-4C3B-9E8F-7A6B5C4D3E2F")));
        QVERIFY(scanned(model));
        QCOMPARE(model.notes().size(), std::size_t(1));
    }

    void keepSavesAtOnceDeselectsAndHides() {
        const std::string app = home() + "/Code/app/node_modules", site = home() + "/Code/site/node_modules";
        scanner().result.items = {at(app), at(site)};
        StorageModel model(setup());
        QVERIFY(scanned(model));
        model.selectListed(model.visibleItems());

        // The row's own item, taken from the list that keeping it replaces.
        const auto before = model.visibleSnapshot();
        model.keep((*before->items)[before->positions[0]]);
        // A snapshot held across the keep still lists what it listed.
        QCOMPARE(before->positions, (std::vector<std::size_t>{0, 1}));
        QCOMPARE(ids(*before->items), (std::vector<std::string>{app, site}));
        QCOMPARE(model.visibleSnapshot()->positions, std::vector<std::size_t>{1});
        QCOMPARE(model.kept(), std::set<std::string>{app});
        QCOMPARE(model.selected(), std::set<std::string>{site});
        QCOMPARE(tarnby::loadPreferences(home()).kept, model.kept());
        QCOMPARE(StorageModel(setup()).kept(), model.kept());  // a restarted model loads it

        // Forgetting every kept path saves at once too.
        model.clearKept();
        QVERIFY(tarnby::loadPreferences(home()).kept.empty());
    }

    void planTakesSelectableItemsInScanOrderAndAppendsKeptLinesEachTime() {
        StorageModel model(setup());
        QVERIFY(planned(model, false) && model.plan()->items.empty() && model.notes().empty());  // nothing selected
        QCOMPARE(model.status(), QStringLiteral("Preview ready for 0 items. No files moved or deleted."));

        StorageItem guarded = at("/h/db");
        guarded.protection = "In use or unknown state";
        StorageItem partial = at("/h/docs");
        partial.measurement.complete = false;
        // Scan order differs from path order.
        scanner().result = {{at("/h/web"), guarded, at("/h/api"), partial, at("/h/cli")}, {"scan note"}, false};
        for (StorageItem& item : scanner().result.items) item.measurement.freedBytes = item.url.size();
        planner().plan = {"plan-1",
                          {{"/h/api", "api", tarnby::PlannedOperation::moveFolderToTrash, 20}},
                          {"cli: This item changed after the scan.", "web: Gone."}};
        QVERIFY(scanned(model));

        model.selectListed({model.items().rbegin(), model.items().rend()});
        QVERIFY(planned(model, true));
        QCOMPARE(planner().given, (std::vector<std::string>{"/h/web", "/h/api", "/h/cli"}));
        QVERIFY(planner().acknowledged);
        QCOMPARE(model.plan()->id, std::string("plan-1"));
        QCOMPARE(model.planFreed(), (tarnby::FreedSpace{6, false}));  // "/h/api" alone; the others stayed out
        QCOMPARE(model.status(), QStringLiteral("Preview ready for 1 item. No files moved or deleted."));
        QCOMPARE(model.selected().size(), std::size_t(3));  // a plan leaves the selection alone
        const std::vector<std::string> once{"scan note", "cli: This item changed after the scan.", "web: Gone."};
        QCOMPARE(model.notes(), once);

        planner().plan->id = "plan-2";
        QVERIFY(planned(model, false) && model.plan()->id == "plan-2");
        QVERIFY(model.notes().size() == once.size() + 2 && model.notes().back() == once.back());
    }

    void freeSpaceIsAskedOnTheWorkerAtStartAndAfterEachScan() {
        std::atomic<bool> known{true}, wrongly{false};
        std::atomic<int> asked{0};
        StorageModelSetup s = setup();
        s.availableCapacity = [&, h = home()](const std::string& path) {
            ++asked;
            wrongly = wrongly || path != h || QThread::currentThread() == QCoreApplication::instance()->thread();
            return known ? std::optional<std::int64_t>(2'150'000'000) : std::nullopt;
        };
        StorageModel model(std::move(s));
        QSignalSpy changed(&model, &StorageModel::freeSpaceChanged);
        QTRY_COMPARE(model.freeSpace(), QStringLiteral("2.15 GB available"));
        known = false;
        QVERIFY(scanned(model) && changed.count() == 2);
        QCOMPARE(model.freeSpace(), QStringLiteral("Available space unavailable"));
        QVERIFY(scanned(model) && changed.count() == 2);  // the same text is no news
        QVERIFY(asked == 3 && !wrongly);
    }

    void failuresOfAnyKindLeaveTheModelIdle() {
        planner().failure = std::make_exception_ptr(42);  // not a std::exception
        StorageModel model(setup());
        QVERIFY(planned(model, false) && !model.plan());
        QCOMPARE(model.notes(), std::vector<std::string>{"The preview could not be made. Nothing was changed."});

        StorageModelSetup s = setup();
        s.scanner = [](auto&&...) -> tarnby::ScanResult { throw 42; };
        StorageModel throwing(s);
        QVERIFY(scanned(throwing) && throwing.didScan() && !throwing.scanning());
        QCOMPARE(throwing.notes(), std::vector<std::string>{"The scan could not be completed. Nothing was changed."});

        // A scan that cannot even be queued.
        s.scanner = UncopyableScan();
        StorageModel unqueued(std::move(s));
        unqueued.scan();
        QVERIFY(!unqueued.busy() && !unqueued.scanning());
        QCOMPARE(unqueued.notes(), std::vector<std::string>{"The work could not be started. Nothing was changed."});
        QCOMPARE(unqueued.status(), QStringLiteral("Ready when you are."));
    }

    // The destructor stops a scan, abandons a plan (the user cannot stop one), and waits for the
    // worker; calls that arrive later find no model and are dropped.
    void destroyingMidWorkStopsItAndDropsWhatArrivesLate() {
        planner().untilAbandoned = true;
        auto model = std::make_unique<StorageModel>(setup());
        model->createPlan(false);
        model->stop();
        QTest::qWait(50);
        QVERIFY(model->busy());  // a stop does not reach a plan
        model.reset();
        QVERIFY(planner().sawAbandon);

        scanner().progressTexts = {"Looking through one"};
        scanner().hold();
        model = std::make_unique<StorageModel>(setup());
        model->scan();
        QTRY_COMPARE(scanner().calls.load(), 1);
        // The worker is released only after the destructor has begun waiting for it.
        std::thread release([gate = scanner().gate] {
            std::this_thread::sleep_for(100ms);
            gate->release();
        });
        model.reset();
        release.join();
        QVERIFY(scanner().sawCancellation);
        std::thread([late = scanner().progress] { late("Looking through two"); }).join();
        QTest::qWait(50);
    }
};

QTEST_GUILESS_MAIN(StorageModelTest)
#include "storage_model_qtest.moc"
