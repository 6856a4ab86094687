#pragma once

#include <cstddef>
#include <vector>

#include "app/window/window_parts.h"
#include "core/records/storage_item.h"

class QLabel;

namespace quillet::ui {

class StorageBar;

// The pane's header: the headline, the lead, the total of the visible items with their count,
// and the storage bar.
class WindowHeader final : public Wash {
    Q_OBJECT

public:
    explicit WindowHeader(Environment* environment, QWidget* parent = nullptr);

    // The items at `positions` of `items` are the visible ones.
    void showVisible(const std::vector<tarnby::StorageItem>& items, const std::vector<std::size_t>& positions);

private:
    QLabel* m_total;
    QLabel* m_line;
    StorageBar* m_bar;
};

}  // namespace quillet::ui
