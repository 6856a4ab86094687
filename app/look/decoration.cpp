#include "app/look/decoration.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

#include "app/look/environment.h"
#include "app/look/palette.h"

namespace quillet::ui {

namespace {
constexpr char kDecorationProperty[] = "quilletDecoration";
constexpr qreal kTrackOpacity = 0.08;
constexpr qreal kContrastTrackOpacity = 0.22;

class HiddenDecoration : public QAccessibleWidget {
public:
    explicit HiddenDecoration(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Graphic) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        s.focusable = false;
        return s;
    }
    QString text(QAccessible::Text) const override { return {}; }
};

QAccessibleInterface* decorationFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->property(kDecorationProperty).toBool()) return new HiddenDecoration(widget);
    return nullptr;
}
}  // namespace

void makeDecoration(QWidget& widget) {
    static const bool installed = (QAccessible::installFactory(decorationFactory), true);
    (void)installed;
    widget.setProperty(kDecorationProperty, true);
    widget.setAttribute(Qt::WA_TransparentForMouseEvents);
    widget.setFocusPolicy(Qt::NoFocus);
}

bool isDecoration(const QWidget& widget) { return widget.property(kDecorationProperty).toBool(); }

QColor trackColour(const Environment& env) {
    return withOpacity(Woodland::ink().resolve(env), env.increasedContrast() ? kContrastTrackOpacity : kTrackOpacity);
}

void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& colour) {
    const qreal radius = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, colour);
}

}  // namespace quillet::ui
