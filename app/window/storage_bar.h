#pragma once

#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/look/environment.h"
#include "core/records/storage_item.h"

namespace quillet::ui {

// The thin bar under the total: one capsule per kind with bytes, in kind order, on a faint
// capsule track. Decoration only: hidden from accessibility, transparent to the mouse.
class StorageBar : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kGap = 3;
    static constexpr int kHeight = 8;
    static constexpr qreal kSegmentOpacity = 0.75;

    struct Segment {
        tarnby::StorageKind kind;
        QRectF rect;
    };

    StorageBar(Environment* env, QWidget* parent = nullptr);

    void setItems(const std::vector<tarnby::StorageItem>& items);
    // Only the items at `positions`, so a long shared list need not be copied.
    void setItems(const std::vector<tarnby::StorageItem>& items, const std::vector<std::size_t>& positions);
    const std::array<std::int64_t, 4>& totals() const { return m_totals; }

    // Bytes per kind in kind order.
    static std::array<std::int64_t, 4> totalsByKind(const std::vector<tarnby::StorageItem>& items);
    static std::array<std::int64_t, 4> totalsByKind(const std::vector<tarnby::StorageItem>& items,
                                                    const std::vector<std::size_t>& positions);
    // The segments inside `bounds`: 3-point gaps only between drawn segments, the rest shared in
    // proportion to each kind's bytes. Kinds with no bytes draw nothing and take no gap.
    static std::vector<Segment> segments(const std::array<std::int64_t, 4>& totals, const QRectF& bounds);

    QSize sizeHint() const override { return {240, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setTotals(const std::array<std::int64_t, 4>& totals);
    static void addTo(std::array<std::int64_t, 4>& totals, const tarnby::StorageItem& item);

    Environment* m_env;
    std::array<std::int64_t, 4> m_totals{};
};

}  // namespace quillet::ui
