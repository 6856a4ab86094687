#include "app/window/window_header.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/look/typography.h"
#include "app/window/storage_bar.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"

namespace quillet::ui {

namespace {
constexpr int kSpacing = 18;
constexpr qreal kOpacity = 0.24;
constexpr qreal kHeadlinePoints = 29;
constexpr qreal kHeadlineTracking = -0.7;
constexpr qreal kTotalPoints = 34;
constexpr int kTotalSpacing = 12;
constexpr int kBarHeight = 8;
}  // namespace

WindowHeader::WindowHeader(Environment* environment, QWidget* parent)
    : Wash(environment, Woodland::selection(), kOpacity, 0, parent) {
    setObjectName(QStringLiteral("header"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPaneMargin, kPaneMargin, kPaneMargin, kPaneMargin);
    column->setSpacing(kSpacing);

    QFont headline = fontAt(kHeadlinePoints, QFont::DemiBold);
    headline.setLetterSpacing(QFont::AbsoluteSpacing, kHeadlineTracking);
    column->addWidget(makeLabel(QStringLiteral("More room. Less baggage."), headline, Woodland::ink(), *environment));
    QLabel* lead = makeLabel(QStringLiteral("Find the dependencies, builds and devices you can leave behind."),
                             ui::font(TextStyle::callout), Woodland::muted(), *environment);
    lead->setWordWrap(true);
    column->addWidget(lead);

    auto* totals = new QHBoxLayout;
    totals->setSpacing(kTotalSpacing);
    m_total =
        makeLabel(QString(), monospacedDigits(fontAt(kTotalPoints, QFont::Medium)), Woodland::ink(), *environment);
    m_total->setObjectName(QStringLiteral("total-size"));
    m_line = makeLabel(QString(), ui::font(TextStyle::callout), Woodland::muted(), *environment);
    m_line->setObjectName(QStringLiteral("total-line"));
    // Both texts share the first baseline: lift the smaller one by the difference of descents.
    m_line->setContentsMargins(0, 0, 0,
                               QFontMetrics(m_total->font()).descent() - QFontMetrics(m_line->font()).descent());
    totals->addWidget(m_total, 0, Qt::AlignBottom);
    totals->addWidget(m_line, 1, Qt::AlignBottom);
    column->addLayout(totals);

    m_bar = new StorageBar(environment);
    m_bar->setFixedHeight(kBarHeight);
    column->addWidget(m_bar);
}

void WindowHeader::showVisible(const std::vector<tarnby::StorageItem>& items,
                               const std::vector<std::size_t>& positions) {
    m_total->setText(qt(tarnby::formatting::byteCount(tarnby::browsing::totalBytes(items, positions))));
    m_line->setText(qt(tarnby::browsing::headerLine(positions.size())));
    m_bar->setItems(items, positions);
}

}  // namespace quillet::ui
