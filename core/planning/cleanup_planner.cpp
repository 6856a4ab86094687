#include "core/planning/cleanup_planner.h"

#include <new>

#include "core/platform/uuid.h"
#include "core/records/scan_cancellation.h"
#include "core/records/storage_error.h"
#include "core/scanning/file_inspection.h"
#include "core/scanning/scanner.h"

namespace tarnby::CleanupPlanner {

namespace {

// Throws the StorageError that keeps the item, or whatever the inventory throws.
constexpr const char* kAbandonedText = "Planning stopped before this item was checked. It has been kept.";

struct Abandoned {};

void check(const StorageItem& item, const ScanConfiguration& configuration, const SimulatorManaging& simulators,
           bool acknowledgeSimulatorRisk, const ScanCancellation& abandon) {
    if (item.protection || !item.measurement.complete || !Scanner::recognized(item, configuration)) {
        throw StorageError::unsafePath();
    }

    // Only the owner's departure cuts this walk short, and then the item is kept: a plan is
    // never based on a partial walk.
    const Measurement now = FileInspection::measure(item.url, abandon);
    if (abandon.isCancelled()) throw Abandoned();
    if (!now.complete) throw StorageError::incomplete();
    if (now.fingerprint != item.measurement.fingerprint) throw StorageError::changed();

    if (!item.deviceID) return;
    if (!acknowledgeSimulatorRisk) {
        throw StorageError::command("Simulator data loss has not been acknowledged.");
    }
    // Asked again for every device: its state may have changed since the previous item.
    const std::vector<SimulatorDevice> devices = simulators.cancellableInventory(abandon);
    for (const SimulatorDevice& device : devices) {
        if (!sameDeviceID(device.udid, *item.deviceID)) continue;
        if (device.state != kShutdownState) throw StorageError::simulatorRunning();
        return;
    }
    throw StorageError::simulatorUnavailable();
}

std::string reason(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return "There was not enough memory to check this item. It has been kept.";
    }
    return error.what();
}

}  // namespace

CleanupPlan make(const std::vector<StorageItem>& items, const ScanConfiguration& configuration,
                 const SimulatorManaging& simulators, bool acknowledgeSimulatorRisk, const ScanCancellation* abandon) {
    const ScanCancellation neverCancelled;
    const ScanCancellation& stop = abandon != nullptr ? *abandon : neverCancelled;
    CleanupPlan plan;
    try {
        plan.id = uuid::makeRandom();
        for (const StorageItem& item : items) {
            try {
                if (stop.isCancelled()) throw Abandoned();
                check(item, configuration, simulators, acknowledgeSimulatorRisk, stop);
                plan.items.push_back(
                    PlannedItem{item.url, item.title,
                                item.deviceID ? PlannedOperation::eraseSimulator : PlannedOperation::moveFolderToTrash,
                                item.measurement.bytes});
            } catch (const Abandoned&) {
                plan.kept.push_back(item.title + ": " + kAbandonedText);
            } catch (const std::exception& error) {
                plan.kept.push_back(item.title + ": " + reason(error));
            } catch (...) {
                plan.kept.push_back(item.title + ": This item could not be checked. It has been kept.");
            }
        }
    } catch (...) {
        // Only reachable when memory runs out while writing a kept line; the plan made so far
        // is still a truthful preview, and nothing may escape to the caller.
    }
    return plan;
}

}  // namespace tarnby::CleanupPlanner
