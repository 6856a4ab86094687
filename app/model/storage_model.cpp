#include "app/model/storage_model.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <iterator>
#include <mutex>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "core/browsing/result_browsing.h"
#include "core/planning/cleanup_planner.h"
#include "core/platform/file_system.h"
#include "core/platform/formatting.h"
#include "core/platform/paths.h"
#include "core/preferences/saved_preferences.h"
#include "core/scanning/platform_locations.h"

namespace quillet {

namespace {

const QString kReady = QStringLiteral("Ready when you are.");
const QString kReading = QStringLiteral("Reading developer storage…");
const QString kComplete = QStringLiteral("Scan complete. Nothing was changed.");
const QString kStopped = QStringLiteral("Scan stopped. Showing partial results.");
const QString kStopping = QStringLiteral("Stopping after the current operation…");
const std::string kScanFailed = "The scan could not be completed. Nothing was changed.";
const std::string kPlanFailed = "The preview could not be made. Nothing was changed.";
const std::string kNotStarted = "The work could not be started. Nothing was changed.";
// A list that grows faster would keep the main thread busy re-deriving it.
constexpr auto kPublishGap = std::chrono::milliseconds(100);

// Runs on the worker. The inventory is asked once; without it the scan goes on without
// devices and says why after its own notes.
tarnby::ScanResult runScan(const StorageModelSetup::ScanFunction& scanner, const tarnby::SimulatorManaging& simulators,
                           const tarnby::ScanConfiguration& configuration, const tarnby::ScanCancellation& cancellation,
                           const tarnby::Scanner::Progress& progress, const tarnby::Scanner::Measured& measured) {
    std::optional<std::string> inventoryNote;
    const auto devices = tarnby::inventoryForScan(simulators, configuration.devicesRoot(), inventoryNote, cancellation);
    tarnby::ScanResult result;
    try {
        result = scanner(configuration, devices, cancellation, progress, measured);
    } catch (const std::exception& error) {
        // The scanner promises not to throw; should it anyway, the model must not stay busy.
        result.notes.emplace_back(error.what());
    } catch (...) {
        result.notes.push_back(kScanFailed);
    }
    if (inventoryNote) result.notes.push_back(std::move(*inventoryNote));
    return result;
}

// Runs on the worker: what removing the planned ones among `items` frees together.
tarnby::FreedSpace plannedFreed(const std::vector<tarnby::StorageItem>& items, const tarnby::CleanupPlan& plan) {
    std::unordered_set<std::string_view> planned;
    for (const tarnby::PlannedItem& entry : plan.items) planned.insert(entry.path);
    std::vector<const tarnby::StorageItem*> behind;
    for (const tarnby::StorageItem& item : items) {
        if (planned.contains(item.url)) behind.push_back(&item);
    }
    return tarnby::freedTogether(behind);
}

// `items`, sorted by size, with `measured` put in as the scan's final sort puts them: each after
// every item at least its size, so equal sizes keep the order they were found in.
std::vector<tarnby::StorageItem> withMeasured(const std::vector<tarnby::StorageItem>& items,
                                              std::vector<tarnby::StorageItem> measured) {
    const auto larger = [](const tarnby::StorageItem& a, const tarnby::StorageItem& b) {
        return a.measurement.bytes > b.measurement.bytes;
    };
    std::stable_sort(measured.begin(), measured.end(), larger);
    std::vector<tarnby::StorageItem> merged;
    merged.reserve(items.size() + measured.size());
    std::merge(items.begin(), items.end(), std::make_move_iterator(measured.begin()),
               std::make_move_iterator(measured.end()), std::back_inserter(merged), larger);
    return merged;
}

}  // namespace

// Items measured on the scanning thread, waiting for the main thread.
class MeasuredFeed {
public:
    // True when nothing was waiting: the caller asks the main thread to come for it.
    bool add(const tarnby::StorageItem& item) {
        const std::lock_guard guard(m_lock);
        m_waiting.push_back(item);
        return m_waiting.size() == 1;
    }
    std::vector<tarnby::StorageItem> take() {
        const std::lock_guard guard(m_lock);
        return std::exchange(m_waiting, {});
    }

private:
    std::mutex m_lock;
    std::vector<tarnby::StorageItem> m_waiting;
};

StorageModel::StorageModel(StorageModelSetup setup, QObject* parent)
    : QObject(parent),
      m_home(setup.home.empty() ? tarnby::fs::currentUserHome() : tarnby::paths::standardized(setup.home)),
      m_simulators(setup.simulators ? std::move(setup.simulators) : std::make_shared<tarnby::SystemSimulators>()),
      m_scanner(setup.scanner
                    ? std::move(setup.scanner)
                    : StorageModelSetup::ScanFunction(
                          [](const tarnby::ScanConfiguration& configuration,
                             const std::optional<std::vector<tarnby::SimulatorDevice>>& devices,
                             const tarnby::ScanCancellation& cancellation, const tarnby::Scanner::Progress& progress,
                             const tarnby::Scanner::Measured& measured) {
                              return tarnby::Scanner::scan(configuration, devices, cancellation, progress, measured);
                          })),
      m_planner(setup.planner
                    ? std::move(setup.planner)
                    : StorageModelSetup::PlanFunction([](const std::vector<tarnby::StorageItem>& items,
                                                         const tarnby::ScanConfiguration& configuration,
                                                         const tarnby::SimulatorManaging& simulators, bool acknowledge,
                                                         const tarnby::ScanCancellation& abandon) {
                          return tarnby::CleanupPlanner::make(items, configuration, simulators, acknowledge, &abandon);
                      })),
      m_availableCapacity(setup.availableCapacity
                              ? std::move(setup.availableCapacity)
                              : StorageModelSetup::CapacityFunction(&tarnby::fs::availableCapacity)),
      m_environment(setup.environment ? std::move(*setup.environment) : tarnby::UserEnvironment::current()),
      m_cancellation(std::make_shared<tarnby::ScanCancellation>()),
      m_status(kReady) {
    m_feedTimer = new QTimer(this);
    m_feedTimer->setSingleShot(true);
    connect(m_feedTimer, &QTimer::timeout, this, [this] { takeMeasured(m_feed); });
    tarnby::SavedPreferences preferences = tarnby::loadPreferences(m_home);
    m_roots = std::move(preferences.roots);
    m_kept = std::move(preferences.kept);

    // One worker: busy already excludes a second job, and a single thread keeps the disk
    // walk from competing with itself.
    m_pool.setMaxThreadCount(1);
    m_pool.setThreadPriority(QThread::LowPriority);

    // The main thread never touches the disk, not even for the first free-space text. A pool
    // of its own, so the worker never has a second task queued behind a running one.
    m_probe.setMaxThreadCount(1);
    try {
        m_probe.start([this, capacity = m_availableCapacity, home = m_home] {
            const std::optional<std::int64_t> available = capacity(home);
            QMetaObject::invokeMethod(
                this, [this, available] { setFreeSpace(available); }, Qt::QueuedConnection);
        });
    } catch (...) {
        setFreeSpace(std::nullopt);
    }
}

StorageModel::~StorageModel() {
    // Queued results addressed to this object die with it, so once the worker is done
    // nothing can reach the model any more.
    m_cancellation->cancel();
    m_pool.waitForDone();
    m_probe.waitForDone();
}

std::shared_ptr<const VisibleSnapshot> StorageModel::visibleSnapshot() const {
    if (!m_visible) {
        m_visible = std::make_shared<const VisibleSnapshot>(
            VisibleSnapshot{m_items, tarnby::browsing::visiblePositions(*m_items, m_kept)});
    }
    return m_visible;
}

std::vector<tarnby::StorageItem> StorageModel::visibleItems() const {
    return tarnby::browsing::visibleItems(*m_items, m_kept);
}

std::vector<tarnby::StorageItem> StorageModel::selectedItems() const {
    if (!m_selectedItems) m_selectedItems = tarnby::browsing::selectedItems(*m_items, m_selected);
    return *m_selectedItems;
}

tarnby::ScanConfiguration StorageModel::scanConfiguration() const {
    return tarnby::PlatformLocations::configuration(m_home, m_roots, m_environment);
}

std::string StorageModel::preferencesPath() const { return tarnby::preferencesPath(m_home); }

void StorageModel::scan() {
    if (m_busy) return;
    setBusy(true);
    setScanning(true);
    setSelected({});
    setNotes({});
    setStatus(kReading);

    // A fresh flag per scan, so a late stop of an earlier scan cannot reach this one.
    m_cancellation = std::make_shared<tarnby::ScanCancellation>();
    const tarnby::ScanConfiguration configuration = scanConfiguration();

    // The worker posts with the model as context, and Qt drops a queued call whose context
    // is gone. The destructor waits for the worker, so a running scan always posts to a live
    // model; the guarded pointer covers a callback that someone kept beyond the scan.
    tarnby::Scanner::Progress progress = [self = QPointer<StorageModel>(this)](const std::string& text) {
        StorageModel* model = self.data();
        if (model == nullptr) return;
        QMetaObject::invokeMethod(
            model, [model, status = QString::fromStdString(text)] { model->showProgress(status); },
            Qt::QueuedConnection);
    };
    // Rows on screen stay until the result; an empty list shows each item once it is measured.
    tarnby::Scanner::Measured measured;
    m_feed.reset();
    if (visibleSnapshot()->positions.empty()) {
        // Only kept items, if any, which nobody sees: the new ones must not mix with them.
        if (!m_items->empty()) setItems({});
        m_feed = std::make_shared<MeasuredFeed>();
        m_nextPublish = {};
        measured = [self = QPointer<StorageModel>(this), feed = m_feed](const tarnby::StorageItem& item) {
            StorageModel* model = self.data();
            if (model == nullptr || !feed->add(item)) return;
            QMetaObject::invokeMethod(
                model, [model, feed] { model->takeMeasured(feed); }, Qt::QueuedConnection);
        };
    }
    // Copying the captures or queueing the task may throw; either way the model must not stay busy.
    try {
        m_pool.start([this, configuration, progress = std::move(progress), measured = std::move(measured),
                      cancellation = m_cancellation, simulators = m_simulators, scanner = m_scanner,
                      capacity = m_availableCapacity, home = m_home] {
            tarnby::ScanResult result = runScan(scanner, *simulators, configuration, *cancellation, progress, measured);
            // Asked after the scan, on the worker: the volume is likeliest to have changed meanwhile.
            const std::optional<std::int64_t> available = capacity(home);
            QMetaObject::invokeMethod(
                this,
                [this, result = std::move(result), available]() mutable { finishScan(std::move(result), available); },
                Qt::QueuedConnection);
        });
    } catch (...) {
        m_feed.reset();
        setScanning(false);
        setStatus(kReady);
        workNotStarted();
    }
}

void StorageModel::stop() {
    if (!m_scanning) return;
    m_cancellation->cancel();
    setStatus(kStopping);
}

void StorageModel::createPlan(bool allowSimulators) {
    if (m_busy) return;
    setBusy(true);

    // Its own flag, which only the destructor cancels: the user cannot stop a plan.
    m_cancellation = std::make_shared<tarnby::ScanCancellation>();
    const tarnby::ScanConfiguration configuration = scanConfiguration();
    try {
        m_pool.start([this, items = selectedItems(), configuration, simulators = m_simulators, planner = m_planner,
                      allowSimulators, cancellation = m_cancellation] {
            std::string reason;
            try {
                tarnby::CleanupPlan plan = planner(items, configuration, *simulators, allowSimulators, *cancellation);
                const tarnby::FreedSpace freed = plannedFreed(items, plan);
                QMetaObject::invokeMethod(
                    this, [this, plan = std::move(plan), freed]() mutable { finishPlan(std::move(plan), freed); },
                    Qt::QueuedConnection);
                return;
            } catch (const std::exception& error) {
                reason = error.what();
            } catch (...) {
                reason = kPlanFailed;
            }
            QMetaObject::invokeMethod(
                this, [this, reason = std::move(reason)] { failPlan(reason); }, Qt::QueuedConnection);
        });
    } catch (...) {
        workNotStarted();
    }
}

void StorageModel::workNotStarted() {
    try {
        appendNotes({kNotStarted});
    } catch (...) {
        // Out of memory even for the note: being idle again matters more.
    }
    setBusy(false);
}

void StorageModel::showProgress(const QString& text) {
    // Texts still queued when the result lands must not replace the final status.
    if (m_scanning) setStatus(text);
}

void StorageModel::takeMeasured(const std::shared_ptr<MeasuredFeed>& feed) {
    // Calls from a scan that has ended, or that the timer will make, find nothing to do.
    if (!feed || feed != m_feed || m_feedTimer->isActive()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextPublish) {
        m_feedTimer->start(std::chrono::ceil<std::chrono::milliseconds>(m_nextPublish - now));
        return;
    }
    m_nextPublish = now + kPublishGap;
    try {
        std::vector<tarnby::StorageItem> measured = feed->take();
        if (!measured.empty()) setItems(withMeasured(*m_items, std::move(measured)));
    } catch (...) {
        // Out of memory: these rows wait for the result, which lists them all.
    }
}

void StorageModel::finishScan(tarnby::ScanResult result, std::optional<std::int64_t> available) {
    // The result holds every item still waiting.
    m_feed.reset();
    m_feedTimer->stop();
    setFreeSpace(available);
    setItems(std::move(result.items));
    setNotes(std::move(result.notes));
    setBusy(false);
    setScanning(false);
    setDidScan(true);
    setStatus(result.cancelled ? kStopped : kComplete);
}

void StorageModel::finishPlan(tarnby::CleanupPlan plan, tarnby::FreedSpace freed) {
    const std::size_t planned = plan.items.size();
    m_plan = std::move(plan);
    m_planFreed = freed;
    emit planChanged();
    appendNotes(m_plan->kept);
    setBusy(false);
    setStatus(QStringLiteral("Preview ready for %1. No files moved or deleted.")
                  .arg(QString::fromStdString(tarnby::browsing::itemCount(planned))));
}

void StorageModel::failPlan(const std::string& reason) {
    appendNotes({reason});
    setBusy(false);
}

void StorageModel::keep(const tarnby::StorageItem& item) { keep(std::string(item.id())); }

void StorageModel::keep(std::string path) {
    if (!m_kept.contains(path)) {
        std::set<std::string> kept = m_kept;
        kept.insert(path);
        setKept(std::move(kept));
    }
    deselect(path);
    save();
}

void StorageModel::save(std::optional<std::vector<std::string>> roots) {
    if (roots) {
        std::vector<std::string> normalized = tarnby::normalizedRoots(*roots);
        if (normalized != m_roots) {
            m_roots = std::move(normalized);
            emit rootsChanged();
        }
    }
    if (std::optional<std::string> note = tarnby::savePreferences(m_home, tarnby::SavedPreferences{m_roots, m_kept})) {
        appendNotes({std::move(*note)});
    }
}

void StorageModel::select(std::string path) {
    if (m_selected.contains(path)) return;
    std::set<std::string> selected = m_selected;
    selected.insert(std::move(path));
    setSelected(std::move(selected));
}

void StorageModel::deselect(std::string path) {
    if (!m_selected.contains(path)) return;
    std::set<std::string> selected = m_selected;
    selected.erase(path);
    setSelected(std::move(selected));
}

void StorageModel::selectListed(const std::vector<tarnby::StorageItem>& listed) {
    std::set<std::string> selected = m_selected;
    for (const tarnby::StorageItem& item : listed) {
        if (item.selectable()) selected.insert(item.id());
    }
    setSelected(std::move(selected));
}

void StorageModel::clearSelection() { setSelected({}); }

void StorageModel::clearKept() {
    setKept({});
    save();
}

void StorageModel::setItems(std::vector<tarnby::StorageItem> items) {
    // A new scan result is always news, even when it happens to equal the last one.
    m_items = std::make_shared<const std::vector<tarnby::StorageItem>>(std::move(items));
    m_visible.reset();
    m_selectedItems.reset();
    emit itemsChanged();
    emit visibleItemsChanged();
    if (!m_selected.empty()) emit selectedItemsChanged();
}

void StorageModel::setNotes(std::vector<std::string> notes) {
    if (notes == m_notes) return;
    m_notes = std::move(notes);
    emit notesChanged();
}

void StorageModel::appendNotes(const std::vector<std::string>& notes) {
    if (notes.empty()) return;
    m_notes.insert(m_notes.end(), notes.begin(), notes.end());
    emit notesChanged();
}

void StorageModel::setKept(std::set<std::string> kept) {
    if (kept == m_kept) return;
    m_kept = std::move(kept);
    m_visible.reset();
    emit keptChanged();
    emit visibleItemsChanged();
}

void StorageModel::setSelected(std::set<std::string> selected) {
    if (selected == m_selected) return;
    m_selected = std::move(selected);
    m_selectedItems.reset();
    emit selectedChanged();
    emit selectedItemsChanged();
}

void StorageModel::setBusy(bool busy) {
    if (busy == m_busy) return;
    m_busy = busy;
    emit busyChanged(m_busy);
}

void StorageModel::setScanning(bool scanning) {
    if (scanning == m_scanning) return;
    m_scanning = scanning;
    emit scanningChanged(m_scanning);
}

void StorageModel::setStatus(const QString& status) {
    if (status == m_status) return;
    m_status = status;
    emit statusChanged(m_status);
}

void StorageModel::setFreeSpace(std::optional<std::int64_t> available) {
    const QString text = available ? QString::fromStdString(tarnby::formatting::byteCount(*available) + " available")
                                   : QStringLiteral("Available space unavailable");
    if (text == m_freeSpace) return;
    m_freeSpace = text;
    emit freeSpaceChanged(m_freeSpace);
}

void StorageModel::setDidScan(bool didScan) {
    if (didScan == m_didScan) return;
    m_didScan = didScan;
    emit didScanChanged(m_didScan);
}

}  // namespace quillet
