#pragma once

#include <string>

#include "app/look/woodland_panel.h"
#include "core/planning/cleanup_plan.h"
#include "core/records/freed_space.h"

namespace quillet::ui {

// A preview plan: each planned item with the action a cleanup would take and its estimated
// size, and a button that copies the plan's JSON text. Changes nothing in the model.
class PlanSheet final : public WoodlandPanel {
    Q_OBJECT
public:
    static constexpr int kWidth = 650;
    static constexpr int kListMaximumHeight = 300;

    // `home`: the user's home folder, to show paths inside it as "~/…". `freed`: what removing
    // the planned items together frees (the plan's JSON does not say).
    PlanSheet(tarnby::CleanupPlan plan, std::string home, tarnby::FreedSpace freed, Environment* env,
              QWidget* parent = nullptr);

private:
    const tarnby::CleanupPlan m_plan;
    const std::string m_home;
};

}  // namespace quillet::ui
