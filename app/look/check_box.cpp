#include "app/look/check_box.h"

#include <QPainter>
#include <QPainterPath>

namespace quillet::ui {

namespace {
constexpr qreal kOutline = 1.5;
constexpr qreal kContrastOutline = 2.5;
constexpr qreal kRadius = 3.5;
constexpr qreal kHoverOpacity = 0.15;
constexpr qreal kPressOpacity = 0.3;
constexpr qreal kDisabledOpacity = 0.45;
}  // namespace

void paintCheckBox(QPainter& painter, const QRectF& box, CheckBoxState state, const AdaptiveColor& tint,
                   const Environment& env) {
    const bool strong = env.increasedContrast();
    const QColor colour = (strong ? Woodland::ink() : tint).resolve(env);
    const qreal outline = strong ? kContrastOutline : kOutline;
    const QRectF frame = box.adjusted(outline / 2, outline / 2, -outline / 2, -outline / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, outline));
    if (state.checked) {
        painter.setBrush(colour);
    } else if (state.pressed || state.hovered) {
        painter.setBrush(withOpacity(colour, state.pressed ? kPressOpacity : kHoverOpacity));
    } else {
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawRoundedRect(frame, kRadius, kRadius);
    if (state.checked) {
        // The mark takes the colour of the surface, which the tint stands out from.
        const QColor mark = (env.appearance() == Appearance::dark ? Woodland::main() : Woodland::panel()).resolve(env);
        QPainterPath tick;
        tick.moveTo(box.left() + 0.27 * box.width(), box.top() + 0.53 * box.height());
        tick.lineTo(box.left() + 0.43 * box.width(), box.top() + 0.69 * box.height());
        tick.lineTo(box.left() + 0.74 * box.width(), box.top() + 0.33 * box.height());
        painter.setPen(QPen(mark, strong ? 2.5 : 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
    }
    painter.restore();
}

CheckBox::CheckBox(Environment* env, AdaptiveColor tint, QWidget* parent)
    : QCheckBox(parent), m_env(env), m_tint(tint) {
    setAttribute(Qt::WA_Hover);
    connect(m_env, &Environment::changed, this, qOverload<>(&QWidget::update));
}

void CheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!isEnabled()) painter.setOpacity(kDisabledOpacity);
    const QRectF box(QPointF((width() - kCheckBoxSize) / 2.0, (height() - kCheckBoxSize) / 2.0),
                     QSizeF(kCheckBoxSize, kCheckBoxSize));
    paintCheckBox(painter, box, {isChecked(), underMouse(), isDown()}, m_tint, *m_env);
}

}  // namespace quillet::ui
