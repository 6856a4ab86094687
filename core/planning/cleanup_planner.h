#pragma once

#include <vector>

#include "core/planning/cleanup_plan.h"
#include "core/records/scan_cancellation.h"
#include "core/records/storage_item.h"
#include "core/scanning/scan_configuration.h"
#include "core/simulators/simulator_inventory.h"

namespace tarnby::CleanupPlanner {

// Re-checks each item (recognition, a fresh measurement compared by fingerprint, and for
// simulators the acknowledgement and a fresh inventory) and plans the ones that pass.
// Never throws; blocks while it walks folders and runs the simulator tool.
// `abandon` is for an owner that goes away mid-plan: once it is cancelled the items not yet
// planned are kept, so the preview stays truthful but is cut short. Users cannot stop a plan.
CleanupPlan make(const std::vector<StorageItem>& items, const ScanConfiguration& configuration,
                 const SimulatorManaging& simulators, bool acknowledgeSimulatorRisk,
                 const ScanCancellation* abandon = nullptr);

}  // namespace tarnby::CleanupPlanner
