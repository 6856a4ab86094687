#include "app/window/window_footer.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/look/environment.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"
#include "app/window/window_parts.h"
#include "core/browsing/result_browsing.h"

namespace quillet::ui {

namespace {

constexpr int kSpacing = 12;
constexpr int kBottom = 18;
constexpr int kNotesMaximum = 95;
constexpr int kNotesSpacing = 8;
constexpr int kStatusSpacing = 5;
constexpr int kSelectionMargin = 12;
constexpr qreal kSelectionOpacity = 0.7;
constexpr qreal kSelectionRadius = 12;

const QString kPreviewNote =
    QStringLiteral("PREVIEW ONLY · No cleanup actions are available. Changed is not proven last use.");

// The notes' disclosure: a checkable tool button whose arrow, not a pressed panel, shows it open.
class Disclosure final : public QToolButton {
protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionToolButton option;
        initStyleOption(&option);
        option.state &= ~(QStyle::State_On | QStyle::State_Sunken);
        painter.drawComplexControl(QStyle::CC_ToolButton, option);
    }
};

}  // namespace

WindowFooter::WindowFooter(Environment* environment, QWidget* parent) : QWidget(parent), m_environment(environment) {
    setObjectName(QStringLiteral("footer"));
    Environment& env = *m_environment;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPaneMargin, 0, kPaneMargin, kBottom);
    column->setSpacing(kSpacing);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setForeground(*divider, Woodland::rule(), env);
    column->addWidget(divider);

    m_notesToggle = new Disclosure;
    m_notesToggle->setObjectName(QStringLiteral("scan-notes"));
    m_notesToggle->setCheckable(true);
    m_notesToggle->setAutoRaise(true);
    m_notesToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_notesToggle->setArrowType(Qt::RightArrow);
    answerReturn(*m_notesToggle);
    setForeground(*m_notesToggle, Woodland::ink(), env);
    m_notesArea = new BoundedScrollArea(kNotesMaximum, kNotesSpacing);
    m_notesArea->setObjectName(QStringLiteral("scan-notes-list"));
    m_notesArea->setAccessibleName(QStringLiteral("Scan notes"));
    m_notesArea->setVisible(false);
    connect(m_notesToggle, &QToolButton::toggled, this, [this](bool open) {
        m_notesToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_notesArea->setVisible(open);
    });
    column->addWidget(m_notesToggle, 0, Qt::AlignLeft);
    column->addWidget(m_notesArea);

    auto* statusRow = new QHBoxLayout;
    auto* statusTexts = new QVBoxLayout;
    statusTexts->setSpacing(kStatusSpacing);
    m_status = makeLabel(QString(), ui::font(TextStyle::callout), Woodland::ink(), env);
    m_status->setObjectName(QStringLiteral("status"));
    statusTexts->addWidget(m_status);
    statusTexts->addWidget(makeLabel(kPreviewNote, ui::font(TextStyle::caption), Woodland::muted(), env));
    m_notice = makeLabel(QString(), ui::font(TextStyle::caption), Woodland::warning(), env);
    m_notice->setObjectName(QStringLiteral("status-notice"));
    m_notice->hide();
    statusTexts->addWidget(m_notice);
    statusRow->addLayout(statusTexts, 1);
    m_viewPlan = makeButton(QStringLiteral("View plan"));
    m_viewPlan->setObjectName(QStringLiteral("view-plan"));
    connect(m_viewPlan, &QPushButton::clicked, this, &WindowFooter::viewPlanRequested);
    statusRow->addWidget(m_viewPlan, 0, Qt::AlignVCenter);
    column->addLayout(statusRow);

    m_selectionBar = new Wash(m_environment, Woodland::selection(), kSelectionOpacity, kSelectionRadius);
    m_selectionBar->setObjectName(QStringLiteral("selection-bar"));
    auto* bar = new QHBoxLayout(m_selectionBar);
    bar->setContentsMargins(kSelectionMargin, kSelectionMargin, kSelectionMargin, kSelectionMargin);
    m_selectionLine = makeLabel(QString(), ui::font(TextStyle::callout, QFont::Medium), Woodland::ink(), env);
    m_selectionLine->setObjectName(QStringLiteral("selection-line"));
    bar->addWidget(m_selectionLine, 1, Qt::AlignVCenter);
    QPushButton* clear = makeButton(QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("clear-selection"));
    connect(clear, &QPushButton::clicked, this, &WindowFooter::clearSelectionRequested);
    bar->addWidget(clear, 0, Qt::AlignVCenter);
    m_review = makeProminentButton(QStringLiteral("Review plan…"), env);
    m_review->setObjectName(QStringLiteral("review"));
    connect(m_review, &QPushButton::clicked, this, &WindowFooter::reviewRequested);
    bar->addWidget(m_review, 0, Qt::AlignVCenter);
    column->addWidget(m_selectionBar);
}

void WindowFooter::setStatus(const QString& status) {
    m_status->setText(status);
    m_notice->hide();
}

void WindowFooter::showNotice(const QString& notice) {
    m_notice->setText(notice);
    m_notice->show();
}

void WindowFooter::showNotes(const std::vector<std::string>& notes) {
    QVBoxLayout* lines = m_notesArea->content();
    while (QLayoutItem* old = lines->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    for (const std::string& note : notes) {
        QLabel* line = makeText(qt(note), ui::font(TextStyle::caption));
        makeSelectable(*line);
        setForeground(*line, Woodland::ink(), *m_environment);
        lines->addWidget(line);
    }
    m_notesToggle->setText(QStringLiteral("Scan notes (%1)").arg(notes.size()));
    m_notesToggle->setVisible(!notes.empty());
    // A new scan starts with its notes folded away again.
    if (notes.empty()) m_notesToggle->setChecked(false);
}

void WindowFooter::showSelection(std::size_t count, std::int64_t bytes) {
    m_selectionBar->setVisible(count > 0);
    if (count > 0) m_selectionLine->setText(qt(tarnby::browsing::selectionLine(count, bytes)));
}

void WindowFooter::showPlanButton(bool planPresent) { m_viewPlan->setVisible(planPresent); }

void WindowFooter::setBusy(bool busy) {
    m_viewPlan->setEnabled(!busy);
    m_review->setEnabled(!busy);
}

}  // namespace quillet::ui
