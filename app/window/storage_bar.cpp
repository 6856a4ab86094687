#include "app/window/storage_bar.h"

#include <QPainter>
#include <algorithm>

#include "app/look/decoration.h"
#include "app/look/palette.h"

namespace quillet::ui {

StorageBar::StorageBar(Environment* env, QWidget* parent) : QWidget(parent), m_env(env) {
    makeDecoration(*this);
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_env, &Environment::changed, this, qOverload<>(&QWidget::update));
}

void StorageBar::setItems(const std::vector<tarnby::StorageItem>& items) { setTotals(totalsByKind(items)); }

void StorageBar::setItems(const std::vector<tarnby::StorageItem>& items, const std::vector<std::size_t>& positions) {
    setTotals(totalsByKind(items, positions));
}

void StorageBar::setTotals(const std::array<std::int64_t, 4>& totals) {
    if (totals == m_totals) return;
    m_totals = totals;
    update();
}

std::array<std::int64_t, 4> StorageBar::totalsByKind(const std::vector<tarnby::StorageItem>& items) {
    std::array<std::int64_t, 4> totals{};
    for (const tarnby::StorageItem& item : items) addTo(totals, item);
    return totals;
}

std::array<std::int64_t, 4> StorageBar::totalsByKind(const std::vector<tarnby::StorageItem>& items,
                                                     const std::vector<std::size_t>& positions) {
    std::array<std::int64_t, 4> totals{};
    for (std::size_t position : positions) addTo(totals, items[position]);
    return totals;
}

void StorageBar::addTo(std::array<std::int64_t, 4>& totals, const tarnby::StorageItem& item) {
    totals[size_t(item.kind)] += item.measurement.bytes;
}

std::vector<StorageBar::Segment> StorageBar::segments(const std::array<std::int64_t, 4>& totals, const QRectF& bounds) {
    // Only positive totals take part, in the sum as well as in the drawing, so the drawn
    // segments can never run past the bar.
    std::int64_t sum = 0;
    int drawn = 0;
    for (std::int64_t t : totals) {
        if (t > 0) {
            sum += t;
            ++drawn;
        }
    }
    const double whole = double(std::max<std::int64_t>(sum, 1));
    const qreal gaps = drawn > 0 ? kGap * (drawn - 1) : 0;
    const qreal usable = std::max<qreal>(0, bounds.width() - gaps);
    std::vector<Segment> result;
    qreal x = bounds.left();
    for (size_t k = 0; k < totals.size(); ++k) {
        if (totals[k] <= 0) continue;
        const qreal width = usable * (double(totals[k]) / whole);
        result.push_back({tarnby::kAllStorageKinds[k], QRectF(x, bounds.top(), width, bounds.height())});
        x += width + kGap;
    }
    return result;
}

void StorageBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    fillCapsule(painter, bounds, trackColour(*m_env));
    for (const Segment& segment : segments(m_totals, bounds)) {
        fillCapsule(painter, segment.rect,
                    withOpacity(Woodland::category(segment.kind).resolve(*m_env), kSegmentOpacity));
    }
}

}  // namespace quillet::ui
