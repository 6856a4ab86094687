#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/planning/cleanup_plan.h"
#include "core/records/freed_space.h"
#include "core/records/scan_cancellation.h"
#include "core/records/scan_result.h"
#include "core/records/simulator_device.h"
#include "core/records/storage_item.h"
#include "core/scanning/platform_locations.h"
#include "core/scanning/scan_configuration.h"
#include "core/scanning/scanner.h"
#include "core/simulators/simulator_inventory.h"

class QTimer;

namespace quillet {

// What a model works with. The defaults are the real machine; tests hand in a fixture home,
// a stand-in inventory and, where timing matters, a stand-in scanner or planner.
struct StorageModelSetup {
    using ScanFunction = std::function<tarnby::ScanResult(
        const tarnby::ScanConfiguration&, const std::optional<std::vector<tarnby::SimulatorDevice>>&,
        const tarnby::ScanCancellation&, const tarnby::Scanner::Progress&, const tarnby::Scanner::Measured&)>;
    // The flag is cancelled only when the model goes away; a plan that sees it may end early.
    using PlanFunction = std::function<tarnby::CleanupPlan(
        const std::vector<tarnby::StorageItem>&, const tarnby::ScanConfiguration&, const tarnby::SimulatorManaging&,
        bool acknowledgeSimulatorRisk, const tarnby::ScanCancellation&)>;
    using CapacityFunction = std::function<std::optional<std::int64_t>(const std::string&)>;

    std::string home;                                             // empty: the current user's home folder
    std::shared_ptr<const tarnby::SimulatorManaging> simulators;  // null: the developer tools' simctl
    ScanFunction scanner;                                         // null: tarnby::Scanner::scan
    PlanFunction planner;                                         // null: tarnby::CleanupPlanner::make
    CapacityFunction availableCapacity;                           // null: tarnby::fs::availableCapacity
    std::optional<tarnby::UserEnvironment> environment;           // none: the process's own, read once
};

// The items listed at one moment: the scan's items, shared rather than copied, and the positions
// among them that are not kept. Never changed once made, so a holder keeps a consistent list
// however the model changes afterwards; a keep makes new positions and shares the items.
struct VisibleSnapshot {
    std::shared_ptr<const std::vector<tarnby::StorageItem>> items;
    std::vector<std::size_t> positions;
};

class MeasuredFeed;

// The state behind the window: roots, the last scan's items, notes, kept and selected paths,
// the status line and the last plan. Lives on the main thread, and every member is read and
// changed there; scans and plans run one at a time on a low-priority worker and come back as
// values. Each change signal fires after its member changed and only when it did change.
// Never throws: failures become notes or a status text.
class StorageModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<tarnby::StorageItem> items READ items NOTIFY itemsChanged)
    Q_PROPERTY(std::vector<std::string> notes READ notes NOTIFY notesChanged)
    Q_PROPERTY(std::vector<std::string> roots READ roots NOTIFY rootsChanged)
    Q_PROPERTY(std::set<std::string> kept READ kept NOTIFY keptChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool scanning READ scanning NOTIFY scanningChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(std::set<std::string> selected READ selected NOTIFY selectedChanged)
    Q_PROPERTY(bool didScan READ didScan NOTIFY didScanChanged)
    Q_PROPERTY(std::optional<tarnby::CleanupPlan> plan READ plan NOTIFY planChanged)
    Q_PROPERTY(std::vector<tarnby::StorageItem> visibleItems READ visibleItems NOTIFY visibleItemsChanged)
    Q_PROPERTY(std::vector<tarnby::StorageItem> selectedItems READ selectedItems NOTIFY selectedItemsChanged)
    Q_PROPERTY(QString freeSpace READ freeSpace NOTIFY freeSpaceChanged)

public:
    // Loads the saved roots and kept paths of the setup's home folder, or the defaults.
    explicit StorageModel(StorageModelSetup setup = {}, QObject* parent = nullptr);
    // Stops a running scan or plan and waits for the worker, so nothing outlives the model.
    // A blocked simulator tool is waited for (the tool has its own time limit).
    ~StorageModel() override;

    const std::vector<tarnby::StorageItem>& items() const { return *m_items; }
    const std::vector<std::string>& notes() const { return m_notes; }
    const std::vector<std::string>& roots() const { return m_roots; }
    const std::set<std::string>& kept() const { return m_kept; }
    bool busy() const { return m_busy; }
    bool scanning() const { return m_scanning; }
    const QString& status() const { return m_status; }
    const std::set<std::string>& selected() const { return m_selected; }
    bool didScan() const { return m_didScan; }
    const std::optional<tarnby::CleanupPlan>& plan() const { return m_plan; }
    // What removing the plan's items together frees, from the scan's measurements of them;
    // changes with the plan.
    const tarnby::FreedSpace& planFreed() const { return m_planFreed; }

    // `items` that are not kept / that are selected, in `items` order. Copies, so a caller's
    // list survives the next keep or selection change.
    std::vector<tarnby::StorageItem> visibleItems() const;
    std::vector<tarnby::StorageItem> selectedItems() const;
    // The visible items without copying them; never null. Made once per change of the items or
    // the kept paths, and shared with every caller until the next.
    std::shared_ptr<const VisibleSnapshot> visibleSnapshot() const;
    // "<size> available" for the volume holding home, or "Available space unavailable"; empty
    // until the worker has first asked. Asked again on the worker after every scan.
    const QString& freeSpace() const { return m_freeSpace; }

    const std::string& home() const { return m_home; }
    std::string preferencesPath() const;
    // Home, the current roots and the platform's cache locations, as the next scan or plan uses them.
    tarnby::ScanConfiguration scanConfiguration() const;

    // Starts a scan of home and the roots unless the model is busy; returns at once. When nothing
    // is listed as it starts, `items` grows as the scan measures them, in their final order and
    // with their final values, at most about ten times a second; otherwise the old items stay
    // until the result. Either way the result then replaces them.
    void scan();
    // Asks the running scan to stop; it ends at its next check and its partial result is
    // published as usual. Does nothing unless a scan is running.
    void stop();
    // Starts a plan of the selected items unless the model is busy; returns at once.
    // `allowSimulators`: the user accepted that erasing a simulator loses its data.
    void createPlan(bool allowSimulators);

    // Keeps an item out of cleanup: kept, no longer selected, saved at once.
    // Paths are taken by value: a caller's reference may point into state that changes here.
    void keep(const tarnby::StorageItem& item);
    void keep(std::string path);
    // With roots, replaces them (links resolved, duplicates dropped, sorted) before writing;
    // without, writes the current roots and kept paths. A failure becomes a note.
    void save(std::optional<std::vector<std::string>> roots = std::nullopt);

    void select(std::string path);
    void deselect(std::string path);
    // Adds the selectable ones among the listed items; earlier selections stay.
    void selectListed(const std::vector<tarnby::StorageItem>& listed);
    void clearSelection();
    // Forgets every kept path and saves.
    void clearKept();

signals:
    void itemsChanged();
    void notesChanged();
    void rootsChanged();
    void keptChanged();
    void busyChanged(bool busy);
    void scanningChanged(bool scanning);
    void statusChanged(const QString& status);
    void selectedChanged();
    void didScanChanged(bool didScan);
    void planChanged();
    void visibleItemsChanged();
    void selectedItemsChanged();
    void freeSpaceChanged(const QString& freeSpace);

private:
    // A scan or plan whose task could not be queued: a note, and idle again.
    void workNotStarted();
    void finishScan(tarnby::ScanResult result, std::optional<std::int64_t> available);
    void takeMeasured(const std::shared_ptr<MeasuredFeed>& feed);
    void finishPlan(tarnby::CleanupPlan plan, tarnby::FreedSpace freed);
    void failPlan(const std::string& reason);
    void showProgress(const QString& text);

    void setItems(std::vector<tarnby::StorageItem> items);
    void setNotes(std::vector<std::string> notes);
    void appendNotes(const std::vector<std::string>& notes);
    void setKept(std::set<std::string> kept);
    void setSelected(std::set<std::string> selected);
    void setBusy(bool busy);
    void setScanning(bool scanning);
    void setStatus(const QString& status);
    void setDidScan(bool didScan);
    void setFreeSpace(std::optional<std::int64_t> available);

    std::string m_home;
    std::shared_ptr<const tarnby::SimulatorManaging> m_simulators;
    StorageModelSetup::ScanFunction m_scanner;
    StorageModelSetup::PlanFunction m_planner;
    StorageModelSetup::CapacityFunction m_availableCapacity;
    tarnby::UserEnvironment m_environment;
    std::shared_ptr<tarnby::ScanCancellation> m_cancellation;

    // Shared with the visible snapshots; replaced whole by each scan, never changed in place.
    std::shared_ptr<const std::vector<tarnby::StorageItem>> m_items =
        std::make_shared<const std::vector<tarnby::StorageItem>>();
    std::vector<std::string> m_notes;
    std::vector<std::string> m_roots;
    std::set<std::string> m_kept;
    bool m_busy = false;
    bool m_scanning = false;
    QString m_status;
    std::set<std::string> m_selected;
    bool m_didScan = false;
    std::optional<tarnby::CleanupPlan> m_plan;
    tarnby::FreedSpace m_planFreed;
    QString m_freeSpace;

    // The items the running scan has measured and the window has not seen yet; none unless the
    // list grows during this scan. The timer runs only while some wait for their turn.
    std::shared_ptr<MeasuredFeed> m_feed;
    QTimer* m_feedTimer;
    std::chrono::steady_clock::time_point m_nextPublish;

    // Derived lists, rebuilt on the first read after items, kept or selected changed.
    mutable std::shared_ptr<const VisibleSnapshot> m_visible;
    mutable std::optional<std::vector<tarnby::StorageItem>> m_selectedItems;

    // Last members: destroyed first, so they have finished with the members above.
    QThreadPool m_probe;  // the first free-space query only
    QThreadPool m_pool;
};

}  // namespace quillet
