#include "app/window/window_parts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "app/look/environment.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"

namespace quillet::ui {

QFont fontAt(qreal points, QFont::Weight weight) {
    QFont scaled = ui::font(TextStyle::body, weight);
    scaled.setPixelSize(qRound(scaled.pixelSize() * points / pointSize(TextStyle::body)));
    return scaled;
}

QLabel* makeLabel(const QString& text, const QFont& labelFont, const AdaptiveColor& colour, Environment& environment) {
    auto* label = new QLabel;
    // Paths and folder names reach these labels: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(labelFont);
    setForeground(*label, colour, environment);
    return label;
}

QLabel* makeWrapped(const QString& text, const QFont& labelFont, const AdaptiveColor& colour, int width,
                    Environment& environment) {
    QLabel* label = makeLabel(text, labelFont, colour, environment);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    label->setFixedWidth(width);
    return label;
}

Wash::Wash(Environment* environment, AdaptiveColor colour, qreal opacity, qreal radius, QWidget* parent)
    : QWidget(parent), m_environment(environment), m_colour(colour), m_opacity(opacity), m_radius(radius) {}

void Wash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = m_colour.resolve(m_environment->appearance());
    colour.setAlphaF(static_cast<float>(m_opacity));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
}

QVBoxLayout* flushColumn(QWidget* owner) {
    auto* column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

QHBoxLayout* centred(QWidget* widget) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(widget);
    row->addStretch(1);
    return row;
}

QScrollArea* scrollable(QWidget* page) {
    auto* area = new QScrollArea;
    area->setObjectName(page->objectName());
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    // The page's buttons take the keyboard (and scroll into view); the area itself has nothing to say.
    area->setFocusPolicy(Qt::NoFocus);
    return area;
}

QWidget* layered(std::initializer_list<QWidget*> layers, QWidget* content) {
    auto* holder = new QWidget;
    auto* stack = new QStackedLayout(holder);
    stack->setStackingMode(QStackedLayout::StackAll);
    for (QWidget* layer : layers) stack->addWidget(layer);
    stack->addWidget(content);
    // Adding lowers each widget below those already there; stack them as listed, content on top.
    for (QWidget* layer : layers) layer->raise();
    content->raise();
    return holder;
}

}  // namespace quillet::ui
