#include "app/look/woodland_panel.h"

#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/look/focus_ring.h"
#include "app/look/palette.h"
#include "app/look/woodland_background.h"

namespace quillet::ui {

WoodlandPanel::WoodlandPanel(Environment* env, int width, QWidget* parent)
    : QDialog(parent), m_env(env), m_content(new QVBoxLayout(this)) {
    setWindowModality(Qt::WindowModal);
#ifdef Q_OS_MACOS
    setWindowFlag(Qt::Sheet);
#endif
    setFixedWidth(width);
    setAutoFillBackground(false);
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(0);
    applyPalette();
    new FocusRing(m_env, this);
    connect(m_env, &Environment::changed, this, [this] {
        applyPalette();
        appearanceChanged();
        update();
    });
}

void WoodlandPanel::applyPalette() {
    QPalette p = woodlandPalette(*m_env);
    p.setColor(QPalette::Window, Woodland::panel().resolve(*m_env));
    setPalette(p);
}

void WoodlandPanel::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->isDefault()) {
            button->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void WoodlandPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintWoodlandBackground(painter, rect(), Surface::panel, *m_env);
    // A hairline edge keeps the sheet apart from the window behind it where no window manager
    // draws a frame or shadow.
    painter.setPen(QPen((m_env->increasedContrast() ? Woodland::ink() : Woodland::rule()).resolve(*m_env), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace quillet::ui
