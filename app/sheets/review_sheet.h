#pragma once

#include <functional>
#include <vector>

#include "app/look/woodland_panel.h"
#include "core/records/storage_item.h"

class QCheckBox;
class QPushButton;

namespace quillet::ui {

class BoundedScrollArea;

// The selected items once more before a preview plan is made, with the simulator
// acknowledgement when simulator devices are among them. Confirming hands the acknowledgement
// to `perform` once and closes; Cancel and Escape close without calling it.
class ReviewSheet final : public WoodlandPanel {
    Q_OBJECT
public:
    static constexpr int kWidth = 650;
    static constexpr int kListMaximumHeight = 280;

    ReviewSheet(std::vector<tarnby::StorageItem> items, std::function<void(bool)> perform, Environment* env,
                QWidget* parent = nullptr);

    bool acknowledged() const;

private:
    void confirm();
    void updateConfirm();

    const std::vector<tarnby::StorageItem> m_items;
    std::function<void(bool)> m_perform;
    bool m_hasSimulators = false;
    QCheckBox* m_acknowledgement = nullptr;  // only with simulators
    QPushButton* m_confirm = nullptr;
};

}  // namespace quillet::ui
