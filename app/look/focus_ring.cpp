#include "app/look/focus_ring.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPainter>

#include <cmath>

#include "app/look/decoration.h"
#include "app/look/palette.h"

namespace quillet::ui {

namespace {
constexpr qreal kWidth = 2;
constexpr qreal kContrastWidth = 3;
constexpr qreal kRadius = 6;
}  // namespace

FocusLook focusLook(const Environment& env) {
    if (env.increasedContrast()) return {Woodland::ink().resolve(env), kContrastWidth};
    return {Woodland::accent().resolve(env), kWidth};
}

void paintFocus(QPainter& painter, const QRectF& bounds, qreal radius, const Environment& env) {
    const FocusLook look = focusLook(env);
    const qreal inset = look.width / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1.0);
    painter.setPen(QPen(look.colour, look.width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius - inset, radius - inset);
    painter.restore();
}

FocusRing::FocusRing(Environment* env, QWidget* window) : QWidget(window), m_env(env), m_window(window) {
    setObjectName(QStringLiteral("focus-ring"));
    makeDecoration(*this);
    hide();
    // Focus changes anywhere reach the application first; only this window's are followed.
    qApp->installEventFilter(this);
    connect(m_env, &Environment::changed, this, [this] {
        place();
        update();
    });
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusIn: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget == nullptr || widget->window() != m_window || widget == m_window) break;
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // The window coming back to the front returns focus where it was, ring and all.
            if (reason == Qt::ActiveWindowFocusReason && widget == m_target) break;
            const bool clicked = reason == Qt::MouseFocusReason && qobject_cast<QLineEdit*>(widget) == nullptr;
            follow(clicked || qobject_cast<QAbstractItemView*>(widget) ? nullptr : widget);
            break;
        }
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ParentChange:
            if (m_target && m_watched.contains(watched)) place();
            break;
        default: break;
    }
    return false;
}

void FocusRing::follow(QWidget* target) {
    m_target = target;
    m_watched.clear();
    for (QWidget* w = target; w != nullptr && w != m_window; w = w->parentWidget()) m_watched.append(w);
    place();
}

void FocusRing::place() {
    QWidget* target = m_target.data();
    if (target == nullptr || !target->isVisibleTo(m_window) || target->window() != m_window) {
        hide();
        return;
    }
    const int margin = kGap + static_cast<int>(std::ceil(focusLook(*m_env).width));
    const QRect ring =
        QRect(target->mapTo(m_window, QPoint(0, 0)), target->size()).adjusted(-margin, -margin, margin, margin);
    // A control scrolled partly out of its area keeps its ring inside the area too.
    QRect visible = m_window->rect();
    for (QWidget* w = target->parentWidget(); w != nullptr && w != m_window; w = w->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
            const QWidget* viewport = area->viewport();
            visible &= QRect(viewport->mapTo(m_window, QPoint(0, 0)), viewport->size());
        }
    }
    if (!visible.intersects(ring)) {
        hide();
        return;
    }
    setGeometry(ring);
    setMask(QRegion(visible.translated(-ring.topLeft()) & rect()));
    raise();
    show();
    update();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintFocus(painter, rect(), kRadius, *m_env);
}

}  // namespace quillet::ui
