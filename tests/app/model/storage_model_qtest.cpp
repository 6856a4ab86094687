#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/model/saved_preferences.h"
#include "app/model/storage_model.h"
#include "core/planning/cleanup_plan.h"
#include "core/records/storage_error.h"
#include "core/scanning/project_locations.h"

using namespace std::chrono_literals;
using quillet::StorageModel;
using quillet::StorageModelSetup;
using tarnby::StorageItem;
using tarnby::StorageKind;

namespace {

// Holds a worker until the test lets it go. Waits are bounded so a failing test cannot
// leave the model's destructor waiting forever.
class Gate {
public:
    void open() {
        std::lock_guard guard(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    bool wait() {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 10s, [&] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

class FakeSimulators final : public tarnby::SimulatorManaging {
public:
    std::vector<tarnby::SimulatorDevice> inventory() const override {
        ++calls;
        if (gate) gate->wait();
        if (failure) std::rethrow_exception(failure);
        return devices;
    }

    std::vector<tarnby::SimulatorDevice> devices;
    std::exception_ptr failure;
    std::shared_ptr<Gate> gate;
    mutable std::atomic<int> calls{0};
};

// Everything a stand-in scanner saw and may do; shared with the worker, so guarded.
struct FakeScan {
    std::mutex lock;
    tarnby::ScanResult result;
    std::vector<std::string> progressTexts;
    std::shared_ptr<Gate> gate;  // held after the progress texts, before returning
    std::optional<std::vector<tarnby::SimulatorDevice>> devices;
    std::vector<std::string> roots;
    bool sawCancellation = false;
    tarnby::Scanner::Progress keptProgress;
    std::atomic<int> calls{0};

    StorageModelSetup::ScanFunction function() {
        return [this](const tarnby::ScanConfiguration& configuration,
                      const std::optional<std::vector<tarnby::SimulatorDevice>>& seen,
                      const tarnby::ScanCancellation& cancellation, const tarnby::Scanner::Progress& progress) {
            ++calls;
            std::vector<std::string> texts;
            std::shared_ptr<Gate> hold;
            {
                std::lock_guard guard(lock);
                devices = seen;
                roots = configuration.roots();
                keptProgress = progress;
                texts = progressTexts;
                hold = gate;
            }
            for (const auto& text : texts) progress(text);
            if (hold) hold->wait();
            std::lock_guard guard(lock);
            sawCancellation = cancellation.isCancelled();
            tarnby::ScanResult out = result;
            out.cancelled = sawCancellation;
            return out;
        };
    }
};

struct FakePlan {
    std::mutex lock;
    tarnby::CleanupPlan plan;
    std::shared_ptr<Gate> gate;
    std::vector<std::string> items;
    bool acknowledged = false;
    std::atomic<int> calls{0};

    StorageModelSetup::PlanFunction function() {
        return [this](const std::vector<StorageItem>& given, const tarnby::ScanConfiguration&,
                      const tarnby::SimulatorManaging&, bool acknowledge) {
            ++calls;
            std::shared_ptr<Gate> hold;
            {
                std::lock_guard guard(lock);
                items.clear();
                for (const auto& item : given) items.push_back(item.id());
                acknowledged = acknowledge;
                hold = gate;
            }
            if (hold) hold->wait();
            std::lock_guard guard(lock);
            return plan;
        };
    }
};

// Records the model's signals by name, in the order they fire.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(QObject* source) {
        const QMetaObject* meta = source->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal) connect(source, meta->method(i), this, slot);
        }
    }
    QStringList names;

public slots:
    void record() { names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }
};

StorageItem makeItem(const std::string& path, std::int64_t bytes, bool selectable = true) {
    StorageItem item;
    item.url = path;
    item.kind = StorageKind::builds;
    item.title = path.substr(path.rfind('/') + 1);
    item.measurement.bytes = bytes;
    if (!selectable) item.protection = "In use or unknown state";
    return item;
}

std::vector<std::string> ids(const std::vector<StorageItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.id());
    return out;
}

void writeFile(const std::string& path, const std::string& contents) {
    QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
    std::ofstream(path) << contents;
}

const QString kReading = QStringLiteral("Reading developer storage…");
const QString kComplete = QStringLiteral("Scan complete. Nothing was changed.");
const QString kStopped = QStringLiteral("Scan stopped. Showing partial results.");
const QString kStopping = QStringLiteral("Stopping after the current operation…");
const std::string kInventoryNote = "Simulator inventory unavailable. Simulator cleanup is disabled. ";

}  // namespace

class StorageModelTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void startsIdleWithSavedPreferencesOrSuggestions();
    void scanPublishesInStepOrderAndKeepsOldItemsUntilTheResult();
    void secondStartsWhileBusyChangeNothing();
    void stopPublishesThePartialResultAndOnlyReachesTheCurrentScan();
    void progressShowsWhileScanningAndLateTextsAreDropped();
    void inventoryFailureBecomesOneNoteAfterTheScanNotes();
    void keepingHidesDeselectsAndSavesAtOnce();
    void saveNormalisesRootsAndFailureBecomesANote();
    void planPublishesAndAppendsKeptLinesEachTime();
    void realPlannerReportsCountAndRefusals();
    void selectionOperations();
    void freeSpaceTextAndFallback();
    void destroyingWhileAScanRunsIsSafe();

private:
    std::string home() const { return m_home->path().toStdString(); }
    // A home with two JavaScript projects below a saved "Code" root.
    void makeProjects();
    StorageModelSetup setup(std::shared_ptr<FakeSimulators> simulators = std::make_shared<FakeSimulators>()) const {
        StorageModelSetup s;
        s.home = home();
        s.simulators = std::move(simulators);
        return s;
    }
    static bool waitIdle(const StorageModel& model) {
        return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
    }

    std::unique_ptr<QTemporaryDir> m_home;
};

void StorageModelTest::init() {
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void StorageModelTest::makeProjects() {
    writeFile(home() + "/Code/app/package.json", "{}");
    writeFile(home() + "/Code/app/node_modules/left-pad/index.js", std::string(20000, 'x'));
    writeFile(home() + "/Code/site/package.json", "{}");
    writeFile(home() + "/Code/site/node_modules/a.js", "x");
    QVERIFY(!quillet::savePreferences(home(), {{home() + "/Code"}, {}}));
}

void StorageModelTest::startsIdleWithSavedPreferencesOrSuggestions() {
    {
        // No file: the suggestions, nothing kept, and loading writes nothing.
        writeFile(home() + "/Projects/tool/package.json", "{}");
        const StorageModel model(setup());
        QCOMPARE(model.roots(), tarnby::ProjectLocations::suggested(home()));
        QVERIFY(model.kept().empty());
        QVERIFY(!QFile::exists(QString::fromStdString(model.preferencesPath())));
        QVERIFY(model.preferencesPath().starts_with(home() + "/"));
    }
    QVERIFY(!quillet::savePreferences(home(), {{home() + "/Work"}, {home() + "/Work/x/node_modules"}}));
    const StorageModel model(setup());
    QCOMPARE(model.roots(), std::vector<std::string>{home() + "/Work"});
    QCOMPARE(model.kept(), std::set<std::string>{home() + "/Work/x/node_modules"});
    QCOMPARE(model.home(), home());

    QVERIFY(model.items().empty());
    QVERIFY(model.notes().empty());
    QVERIFY(!model.busy());
    QVERIFY(!model.scanning());
    QCOMPARE(model.status(), QStringLiteral("Ready when you are."));
    QVERIFY(model.selected().empty());
    QVERIFY(!model.didScan());
    QVERIFY(!model.plan());
    // Observers reach the same values through the property system.
    QCOMPARE(model.property("status").toString(), QStringLiteral("Ready when you are."));
    QCOMPARE(model.property("roots").value<std::vector<std::string>>(), model.roots());
    QCOMPARE(model.property("busy").toBool(), false);
}

void StorageModelTest::scanPublishesInStepOrderAndKeepsOldItemsUntilTheResult() {
    makeProjects();
    auto simulators = std::make_shared<FakeSimulators>();
    simulators->failure = std::make_exception_ptr(tarnby::StorageError::command("no tool"));
    StorageModel model(setup(simulators));

    model.scan();
    QVERIFY(waitIdle(model));
    QCOMPARE(model.status(), kComplete);
    QVERIFY(model.didScan());
    QCOMPARE(ids(model.items()), (std::vector<std::string>{home() + "/Code/app/node_modules",
                                                          home() + "/Code/site/node_modules"}));
    QCOMPARE(model.items().front().title, std::string("app / node_modules"));
    QCOMPARE(model.notes().size(), std::size_t(1));
    model.select(home() + "/Code/app/node_modules");

    const auto before = ids(model.items());
    SignalLog log(&model);
    model.scan();
    // Start: selection and notes go at once, the old items stay listed.
    QCOMPARE(log.names, (QStringList{"busyChanged", "scanningChanged", "selectedChanged", "selectedItemsChanged",
                                     "notesChanged", "statusChanged"}));
    QVERIFY(model.busy() && model.scanning());
    QVERIFY(model.selected().empty());
    QVERIFY(model.notes().empty());
    QCOMPARE(model.status(), kReading);
    QCOMPARE(ids(model.items()), before);

    log.names.clear();
    QVERIFY(waitIdle(model));
    // didScan was already true, so it does not fire again.
    while (!log.names.isEmpty() && log.names.front() == "statusChanged") log.names.removeFirst();  // progress texts
    QCOMPARE(log.names, (QStringList{"itemsChanged", "visibleItemsChanged", "notesChanged", "busyChanged",
                                     "scanningChanged", "statusChanged"}));
    QVERIFY(!model.scanning());
    QCOMPARE(model.status(), kComplete);
    QCOMPARE(simulators->calls.load(), 2);
}

void StorageModelTest::secondStartsWhileBusyChangeNothing() {
    auto simulators = std::make_shared<FakeSimulators>();
    simulators->gate = std::make_shared<Gate>();
    FakePlan planner;
    planner.gate = std::make_shared<Gate>();
    StorageModelSetup s = setup(simulators);
    s.planner = planner.function();
    StorageModel model(std::move(s));

    model.scan();
    SignalLog log(&model);
    model.scan();
    model.createPlan(true);
    QVERIFY(log.names.isEmpty());
    QVERIFY(model.scanning());
    simulators->gate->open();
    QVERIFY(waitIdle(model));
    QCOMPARE(simulators->calls.load(), 1);
    QCOMPARE(planner.calls.load(), 0);
    QVERIFY(!model.plan());

    model.createPlan(false);
    QVERIFY(model.busy());
    QVERIFY(!model.scanning());
    log.names.clear();
    model.scan();
    model.createPlan(true);
    model.stop();  // planning cannot be stopped
    QVERIFY(log.names.isEmpty());
    planner.gate->open();
    QVERIFY(waitIdle(model));
    QCOMPARE(planner.calls.load(), 1);
    QCOMPARE(simulators->calls.load(), 1);
    QVERIFY(!planner.acknowledged);
}

void StorageModelTest::stopPublishesThePartialResultAndOnlyReachesTheCurrentScan() {
    {
        // A stand-in scanner that waits after its first texts, then returns what it has.
        FakeScan scanner;
        scanner.progressTexts = {"Looking through " + home()};
        scanner.gate = std::make_shared<Gate>();
        scanner.result.items = {makeItem(home() + "/partial", 5)};
        StorageModelSetup s = setup();
        s.scanner = scanner.function();
        StorageModel model(std::move(s));

        model.scan();
        QTRY_COMPARE(model.status(), QString::fromStdString("Looking through " + home()));
        model.stop();
        QCOMPARE(model.status(), kStopping);
        QVERIFY(model.busy() && model.scanning());
        scanner.gate->open();
        QVERIFY(waitIdle(model));
        QVERIFY(scanner.sawCancellation);
        QCOMPARE(ids(model.items()), std::vector<std::string>{home() + "/partial"});
        QCOMPARE(model.status(), kStopped);
        QVERIFY(model.didScan());
        QVERIFY(!model.scanning());

        // The stop belonged to that scan only: the next one runs to the end.
        scanner.gate.reset();
        model.scan();
        QVERIFY(waitIdle(model));
        QVERIFY(!scanner.sawCancellation);
        QCOMPARE(model.status(), kComplete);
    }

    // With the real scanner, a stop made while the inventory is still being asked is seen
    // by the walk that follows it.
    makeProjects();
    auto simulators = std::make_shared<FakeSimulators>();
    simulators->gate = std::make_shared<Gate>();
    StorageModel model(setup(simulators));
    model.scan();
    QTRY_COMPARE(simulators->calls.load(), 1);
    model.stop();
    simulators->gate->open();
    QVERIFY(waitIdle(model));
    QCOMPARE(model.status(), kStopped);
    QVERIFY(model.didScan());
}

void StorageModelTest::progressShowsWhileScanningAndLateTextsAreDropped() {
    FakeScan scanner;
    scanner.progressTexts = {"Looking through one", "Looking through two"};
    StorageModelSetup s = setup();
    s.scanner = scanner.function();
    auto model = std::make_unique<StorageModel>(std::move(s));

    QSignalSpy statuses(model.get(), &StorageModel::statusChanged);
    model->scan();
    QVERIFY(waitIdle(*model));
    QStringList seen;
    for (const auto& arguments : statuses) seen << arguments.at(0).toString();
    QCOMPARE(seen, (QStringList{kReading, "Looking through one", "Looking through two", kComplete}));

    // A text that arrives after the result must not replace the final status.
    tarnby::Scanner::Progress late = scanner.keptProgress;
    std::thread([&] { late("Looking through three"); }).join();
    QTest::qWait(50);
    QCOMPARE(model->status(), kComplete);

    // Nor may it reach a model that is gone.
    model.reset();
    std::thread([&] { late("Looking through four"); }).join();
    QTest::qWait(50);
}

void StorageModelTest::inventoryFailureBecomesOneNoteAfterTheScanNotes() {
    {
        FakeScan scanner;
        scanner.result.notes = {"Could not inspect /x fully."};
        auto simulators = std::make_shared<FakeSimulators>();
        simulators->failure = std::make_exception_ptr(tarnby::StorageError::command("xcrun: error: unable to find utility"));
        StorageModelSetup s = setup(simulators);
        s.scanner = scanner.function();
        StorageModel model(std::move(s));
        model.scan();
        QVERIFY(waitIdle(model));
        QCOMPARE(model.notes(), (std::vector<std::string>{"Could not inspect /x fully.",
                                                          kInventoryNote + "xcrun: error: unable to find utility"}));
        QVERIFY(!scanner.devices);  // no inventory, not an empty one

        // Any error type gives its own description; a working inventory reaches the scanner.
        simulators->failure = std::make_exception_ptr(std::runtime_error("launch failed"));
        model.scan();
        QVERIFY(waitIdle(model));
        QCOMPARE(model.notes().back(), kInventoryNote + "launch failed");
        simulators->failure = nullptr;
        simulators->devices = {{"ABC", "iPhone", "Shutdown", true}};
        model.scan();
        QVERIFY(waitIdle(model));
        QCOMPARE(model.notes(), std::vector<std::string>{"Could not inspect /x fully."});
        QVERIFY(scanner.devices && *scanner.devices == simulators->devices);
    }

    // The real scan still lists folders.
    makeProjects();
    auto simulators = std::make_shared<FakeSimulators>();
    simulators->failure = std::make_exception_ptr(tarnby::StorageError::command("no simctl"));
    StorageModel model(setup(simulators));
    model.scan();
    QVERIFY(waitIdle(model));
    QCOMPARE(model.items().size(), std::size_t(2));
    QCOMPARE(std::count_if(model.notes().begin(), model.notes().end(),
                           [](const std::string& note) { return note.starts_with(kInventoryNote); }),
             1L);
}

void StorageModelTest::keepingHidesDeselectsAndSavesAtOnce() {
    makeProjects();
    StorageModel model(setup());
    model.scan();
    QVERIFY(waitIdle(model));
    const StorageItem app = model.items().at(0);
    const StorageItem site = model.items().at(1);
    model.selectListed(model.visibleItems());
    QCOMPARE(model.selectedItems().size(), std::size_t(2));

    SignalLog log(&model);
    model.keep(app);
    QCOMPARE(log.names, (QStringList{"keptChanged", "visibleItemsChanged", "selectedChanged", "selectedItemsChanged"}));
    QCOMPARE(model.kept(), std::set<std::string>{app.id()});
    QCOMPARE(model.selected(), std::set<std::string>{site.id()});
    QCOMPARE(ids(model.visibleItems()), std::vector<std::string>{site.id()});
    QCOMPARE(model.items().size(), std::size_t(2));
    const quillet::SavedPreferences saved = quillet::loadPreferences(home());
    QCOMPARE(saved.kept, std::set<std::string>{app.id()});
    QCOMPARE(saved.roots, model.roots());

    // Kept paths survive a restart and stay hidden from the next scan's list.
    StorageModel restarted(setup());
    restarted.scan();
    QVERIFY(waitIdle(restarted));
    QCOMPARE(ids(restarted.visibleItems()), std::vector<std::string>{site.id()});

    restarted.clearKept();
    QVERIFY(restarted.kept().empty());
    QCOMPARE(restarted.visibleItems().size(), std::size_t(2));
    QVERIFY(quillet::loadPreferences(home()).kept.empty());
}

void StorageModelTest::saveNormalisesRootsAndFailureBecomesANote() {
    QVERIFY(QDir().mkpath(m_home->filePath("b")));
    QVERIFY(QDir().mkpath(m_home->filePath("a")));
    QVERIFY(QFile::link(m_home->filePath("a"), m_home->filePath("link-to-a")));
    StorageModel model(setup());
    QSignalSpy roots(&model, &StorageModel::rootsChanged);
    model.save(std::vector<std::string>{home() + "/b", home() + "/link-to-a", home() + "/a"});
    QCOMPARE(model.roots(), (std::vector<std::string>{home() + "/a", home() + "/b"}));
    QCOMPARE(roots.count(), 1);
    QCOMPARE(quillet::loadPreferences(home()).roots, model.roots());
    QVERIFY(model.notes().empty());

    // "Library" as a file: the preferences folder cannot be made, even by root.
    QTemporaryDir blocked;
    writeFile(blocked.path().toStdString() + "/Library", "not a folder");
    StorageModelSetup s = setup();
    s.home = blocked.path().toStdString();
    StorageModel stuck(std::move(s));
    stuck.keep(std::string("/somewhere/node_modules"));
    QCOMPARE(stuck.notes().size(), std::size_t(1));
    QVERIFY(stuck.notes().front().starts_with("Could not save settings: "));
    QCOMPARE(stuck.kept(), std::set<std::string>{"/somewhere/node_modules"});
    stuck.save(std::vector<std::string>{blocked.path().toStdString()});
    QCOMPARE(stuck.notes().size(), std::size_t(2));
    QCOMPARE(stuck.roots(), std::vector<std::string>{blocked.path().toStdString()});
}

void StorageModelTest::planPublishesAndAppendsKeptLinesEachTime() {
    FakeScan scanner;
    scanner.result.items = {makeItem("/h/big", 30), makeItem("/h/mid", 20), makeItem("/h/small", 10)};
    scanner.result.notes = {"scan note"};
    FakePlan planner;
    planner.plan.id = "plan-1";
    planner.plan.items = {{"/h/mid", "mid", tarnby::PlannedOperation::moveFolderToTrash, 20}};
    planner.plan.kept = {"small: This item changed after the scan.", "big: Gone."};
    StorageModelSetup s = setup();
    s.scanner = scanner.function();
    s.planner = planner.function();
    StorageModel model(std::move(s));
    model.scan();
    QVERIFY(waitIdle(model));

    // Selected in another order than listed: the planner gets them in scan order.
    model.select("/h/small");
    model.select("/h/big");
    model.select("/h/mid");
    SignalLog log(&model);
    model.createPlan(true);
    QCOMPARE(log.names, QStringList{"busyChanged"});
    QVERIFY(!model.scanning());
    QVERIFY(waitIdle(model));
    QCOMPARE(log.names, (QStringList{"busyChanged", "planChanged", "notesChanged", "busyChanged", "statusChanged"}));
    QCOMPARE(planner.items, (std::vector<std::string>{"/h/big", "/h/mid", "/h/small"}));
    QVERIFY(planner.acknowledged);
    QVERIFY(model.plan());
    QCOMPARE(model.plan()->id, std::string("plan-1"));
    QCOMPARE(model.status(), QStringLiteral("Preview ready for 1 items. No files moved or deleted."));
    const std::vector<std::string> once{"scan note", "small: This item changed after the scan.", "big: Gone."};
    QCOMPARE(model.notes(), once);
    QCOMPARE(model.selected().size(), std::size_t(3));  // a plan leaves the selection alone

    planner.plan.id = "plan-2";
    model.createPlan(false);
    QVERIFY(waitIdle(model));
    QCOMPARE(model.plan()->id, std::string("plan-2"));
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin() + 1, once.end());
    QCOMPARE(model.notes(), twice);
}

void StorageModelTest::realPlannerReportsCountAndRefusals() {
    makeProjects();
    StorageModel model(setup());
    model.createPlan(false);
    QVERIFY(waitIdle(model));
    QVERIFY(model.plan());
    QVERIFY(model.plan()->items.empty());
    QCOMPARE(model.status(), QStringLiteral("Preview ready for 0 items. No files moved or deleted."));
    QVERIFY(model.notes().empty());
    QVERIFY(!model.didScan());

    model.scan();
    QVERIFY(waitIdle(model));
    model.selectListed(model.visibleItems());
    // One selected folder disappears between the scan and the plan.
    QVERIFY(QDir(m_home->filePath("Code/site/node_modules")).removeRecursively());
    model.createPlan(false);
    QVERIFY(waitIdle(model));
    QCOMPARE(model.plan()->items.size(), std::size_t(1));
    QCOMPARE(model.plan()->items.front().path, home() + "/Code/app/node_modules");
    QCOMPARE(model.status(), QStringLiteral("Preview ready for 1 items. No files moved or deleted."));
    QCOMPARE(model.notes().size(), std::size_t(1));
    QVERIFY(model.notes().front().starts_with("site / node_modules: "));
}

void StorageModelTest::selectionOperations() {
    FakeScan scanner;
    StorageItem incomplete = makeItem("/h/incomplete", 3);
    incomplete.measurement.complete = false;
    scanner.result.items = {makeItem("/h/a", 9), makeItem("/h/protected", 8, false), incomplete, makeItem("/h/b", 1)};
    StorageModelSetup s = setup();
    s.scanner = scanner.function();
    StorageModel model(std::move(s));
    model.scan();
    QVERIFY(waitIdle(model));

    QSignalSpy changes(&model, &StorageModel::selectedChanged);
    model.select("/h/b");
    model.select("/h/b");
    QCOMPARE(changes.count(), 1);
    model.selectListed({model.items().at(1), model.items().at(2), model.items().at(0)});
    QCOMPARE(model.selected(), (std::set<std::string>{"/h/a", "/h/b"}));
    QCOMPARE(ids(model.selectedItems()), (std::vector<std::string>{"/h/a", "/h/b"}));
    model.selectListed({model.items().at(1)});
    QCOMPARE(changes.count(), 2);

    model.deselect("/h/a");
    model.deselect("/h/never");
    QCOMPARE(model.selected(), std::set<std::string>{"/h/b"});
    model.clearSelection();
    QVERIFY(model.selected().empty());
    QVERIFY(model.selectedItems().empty());
    QCOMPARE(changes.count(), 4);

    // Stopping outside a scan neither cancels anything nor changes the status.
    model.stop();
    QCOMPARE(model.status(), kComplete);
}

void StorageModelTest::freeSpaceTextAndFallback() {
    StorageModelSetup s = setup();
    std::optional<std::int64_t> answer = 2'150'000'000;
    std::string asked;
    s.availableCapacity = [&](const std::string& path) {
        asked = path;
        return answer;
    };
    const StorageModel model(std::move(s));
    QCOMPARE(model.freeSpace(), QStringLiteral("2.15 GB available"));
    QCOMPARE(asked, home());
    answer.reset();
    QCOMPARE(model.freeSpace(), QStringLiteral("Available space unavailable"));

    // The real query: a real folder has a figure, a missing one has none.
    const StorageModel real(setup());
    QVERIFY(real.freeSpace().endsWith(QStringLiteral(" available")));
    StorageModelSetup missing = setup();
    missing.home = home() + "/no/such/home";
    const StorageModel nowhere(std::move(missing));
    QCOMPARE(nowhere.freeSpace(), QStringLiteral("Available space unavailable"));
}

void StorageModelTest::destroyingWhileAScanRunsIsSafe() {
    FakeScan scanner;
    scanner.progressTexts = {"Looking through one"};
    auto simulators = std::make_shared<FakeSimulators>();
    simulators->gate = std::make_shared<Gate>();
    StorageModelSetup s = setup(simulators);
    s.scanner = scanner.function();
    auto model = std::make_unique<StorageModel>(std::move(s));
    QSignalSpy destroyed(model.get(), &QObject::destroyed);
    model->scan();
    QTRY_COMPARE(simulators->calls.load(), 1);

    // The worker is released only after the destructor has begun waiting for it.
    std::thread release([gate = simulators->gate] {
        std::this_thread::sleep_for(100ms);
        gate->open();
    });
    model.reset();
    release.join();
    QCOMPARE(destroyed.count(), 1);
    QVERIFY(scanner.sawCancellation);  // the destructor stopped the scan
    QTest::qWait(50);  // queued progress and result calls find no model and are dropped
}

QTEST_GUILESS_MAIN(StorageModelTest)
#include "storage_model_qtest.moc"
