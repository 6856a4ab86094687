#include "app/window/results_area.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/desktop/desktop_services.h"
#include "app/look/decoration.h"
#include "app/look/environment.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/model/storage_model.h"
#include "app/sheets/sheet_parts.h"
#include "app/window/item_delegate.h"
#include "app/window/results_accessibility.h"
#include "app/window/results_model.h"
#include "app/window/window_parts.h"
#include "core/browsing/platform_texts.h"
#include "core/browsing/result_browsing.h"

namespace quillet::ui {

namespace {

constexpr int kProgressHeight = 6;
constexpr int kStateSpacing = 16;
constexpr int kWelcomeSymbol = 48;
constexpr int kWelcomeTextWidth = 450;
constexpr int kEmptyTextWidth = 400;

// A centred state page: its symbol on top, then what the caller adds, all between stretches.
QVBoxLayout* makeStatePage(QWidget* page, const QString& name, QLabel*& symbol) {
    page->setObjectName(name);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(kStateSpacing);
    column->addStretch(1);
    symbol = new QLabel;
    symbol->setObjectName(name + QStringLiteral("-symbol"));
    makeDecoration(*symbol);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    return column;
}

}  // namespace

ResultsArea::ResultsArea(StorageModel& model, ResultsModel& results, Environment* environment, QWidget* parent)
    : QWidget(parent), m_model(model), m_results(results), m_environment(environment) {
    QVBoxLayout* column = flushColumn(this);

    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(QStringLiteral("Working"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(kProgressHeight);
    auto* progressRow = new QHBoxLayout;
    progressRow->setContentsMargins(kPaneMargin, 0, kPaneMargin, 0);
    progressRow->addWidget(m_progress);
    column->addLayout(progressRow);

    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("results"));
    m_delegate = new ItemDelegate(m_environment, m_list);
    makeRowsAccessible(*m_list, m_results, *m_delegate);
    m_list->setAccessibleName(QStringLiteral("Results"));
    m_list->setModel(&m_results);
    m_list->setItemDelegate(m_delegate);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setAutoFillBackground(false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAttribute(Qt::WA_Hover);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &ResultsArea::showContextMenu);
    // Return or Enter (and a double click) opens the current row's details, as does Ctrl+I.
    connect(m_list, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { requestDetails(index.row()); });
    connect(m_delegate, &ItemDelegate::detailsRequested, this,
            [this](const QModelIndex& index) { requestDetails(index.row()); });
    auto* details = new QAction(QStringLiteral("Details"), m_list);
    details->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    details->setShortcutContext(Qt::WidgetShortcut);
    connect(details, &QAction::triggered, this, [this] { requestDetails(m_list->currentIndex().row()); });
    m_list->addAction(details);

    m_pages = new QStackedWidget;
    m_welcomePage = scrollable(makeWelcome());
    m_emptyPage = scrollable(makeEmpty());
    m_pages->addWidget(m_welcomePage);
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_emptyPage);
    column->addWidget(m_pages, 1);
}

QWidget* ResultsArea::makeWelcome() {
    auto* welcome = new QWidget;
    QVBoxLayout* column = makeStatePage(welcome, QStringLiteral("welcome"), m_welcomeSymbol);
    Environment& env = *m_environment;
    column->addWidget(makeLabel(QStringLiteral("Find your next few gigabytes."),
                                ui::font(TextStyle::title2, QFont::Medium), Woodland::ink(), env),
                      0, Qt::AlignHCenter);
    column->addLayout(centred(makeWrapped(
        QStringLiteral("We find rebuildable dependencies and build output inside suggested project locations, plus "
                       "known package caches, Xcode builds and simulator devices."),
        ui::font(TextStyle::body), Woodland::muted(), kWelcomeTextWidth, env)));
    m_suggested = makeWrapped(QString(), ui::font(TextStyle::caption), Woodland::muted(), kWelcomeTextWidth, env);
    m_suggested->setObjectName(QStringLiteral("suggested-locations"));
    column->addLayout(centred(m_suggested));
    QPushButton* start = makeProminentButton(QStringLiteral("Scan developer storage"), env);
    start->setObjectName(QStringLiteral("start-scan"));
    connect(start, &QPushButton::clicked, this, &ResultsArea::scanRequested);
    column->addWidget(start, 0, Qt::AlignHCenter);
    QPushButton* locations = makeButton(QStringLiteral("Review scan locations…"));
    locations->setObjectName(QStringLiteral("review-locations"));
    connect(locations, &QPushButton::clicked, this, &ResultsArea::locationsRequested);
    column->addWidget(locations, 0, Qt::AlignHCenter);
    column->addWidget(makeLabel(QStringLiteral("Scanning reads metadata. This build can only preview cleanup plans."),
                                ui::font(TextStyle::caption), Woodland::muted(), env),
                      0, Qt::AlignHCenter);
    column->addStretch(1);
    return welcome;
}

QWidget* ResultsArea::makeEmpty() {
    auto* empty = new QWidget;
    QVBoxLayout* column = makeStatePage(empty, QStringLiteral("empty"), m_emptySymbol);
    m_emptyTitle = makeLabel(QString(), ui::font(TextStyle::title2), Woodland::ink(), *m_environment);
    m_emptyTitle->setObjectName(QStringLiteral("empty-title"));
    column->addWidget(m_emptyTitle, 0, Qt::AlignHCenter);
    m_emptyMessage =
        makeWrapped(QString(), ui::font(TextStyle::body), Woodland::muted(), kEmptyTextWidth, *m_environment);
    m_emptyMessage->setObjectName(QStringLiteral("empty-message"));
    column->addLayout(centred(m_emptyMessage));
    m_showKept = makeButton(QString());
    m_showKept->setObjectName(QStringLiteral("show-kept-items"));
    connect(m_showKept, &QPushButton::clicked, this, [this] { m_model.clearKept(); });
    column->addWidget(m_showKept, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return empty;
}

void ResultsArea::showState() {
    const bool busy = m_model.busy();
    QWidget* page = m_emptyPage;
    if (!m_model.didScan() && !busy) {
        page = m_welcomePage;
    } else if (m_results.rowCount() > 0 || busy) {
        page = m_list;
    }
    m_pages->setCurrentWidget(page);
    if (page != m_emptyPage) return;
    const tarnby::browsing::EmptyState empty =
        tarnby::browsing::emptyState(!m_results.visibleItems()->positions.empty(), m_model.kept().size());
    m_emptyTitle->setText(qt(empty.title));
    m_emptyMessage->setText(qt(empty.message));
    m_showKept->setVisible(empty.keptButton.has_value());
    if (empty.keptButton) m_showKept->setText(qt(*empty.keptButton));
}

void ResultsArea::showBusy() {
    const bool busy = m_model.busy();
    m_progress->setVisible(busy);
    m_list->setEnabled(!busy);
    showState();
}

void ResultsArea::showRoots() {
    const std::vector<std::string>& roots = m_model.roots();
    if (roots.empty()) {
        m_suggested->setText(QStringLiteral(
            "Known caches and Xcode locations are ready to scan. Add a custom project location anytime."));
        return;
    }
    QStringList names;
    for (const std::string& root : roots) names << qt(std::string_view(root).substr(root.rfind('/') + 1));
    m_suggested->setText(QStringLiteral("Suggested project locations: ") + names.join(QStringLiteral(", ")));
}

void ResultsArea::applyAppearance() {
    const QColor accent = Woodland::accent().resolve(m_environment->appearance());
    const qreal ratio = devicePixelRatioF();
    m_welcomeSymbol->setPixmap(symbol("externaldrive.badge.magnifyingglass", accent, kWelcomeSymbol, ratio));
    m_emptySymbol->setPixmap(
        symbol("checkmark.circle", accent, QFontInfo(ui::font(TextStyle::largeTitle)).pixelSize(), ratio));
}

void ResultsArea::requestDetails(int row) {
    if (auto item = m_results.itemAt(row)) emit detailsRequested(*item);
}

void ResultsArea::showContextMenu(const QPoint& position) {
    QModelIndex index = m_list->indexAt(position);
    if (!index.isValid()) index = m_list->currentIndex();
    const std::optional<tarnby::StorageItem> item = m_results.itemAt(index.row());
    if (!item || m_model.busy()) return;
    QMenu menu(this);
    // The menu keeps its own copy of the path: the list may change while it is open.
    menu.addAction(qt(tarnby::browsing::platformTexts().reveal), this, [this, path = item->url] {
        revealInFileManager(path, [area = QPointer<ResultsArea>(this)] {
            if (area) emit area->revealFailed();
        });
    });
    menu.addAction(QStringLiteral("Keep this item"), this, [this, path = item->url] { m_model.keep(path); });
    const QPoint at = m_list->indexAt(position).isValid() ? position : m_list->visualRect(index).center();
    menu.exec(m_list->viewport()->mapToGlobal(at));
}

}  // namespace quillet::ui
