#include "app/window/content_view.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/desktop/desktop_services.h"
#include "app/look/decoration.h"
#include "app/look/environment.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"
#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/locations_sheet.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "app/sheets/sheet_parts.h"
#include "app/window/category_list.h"
#include "app/window/item_delegate.h"
#include "app/window/results_model.h"
#include "app/window/storage_bar.h"
#include "core/platform/formatting.h"

namespace quillet::ui {

namespace {

// Sidebar.
constexpr int kSidebarMinimum = 205;
constexpr int kSidebarIdeal = 220;
constexpr int kSidebarMaximum = 260;
constexpr int kBrandMargin = 16;  // left and right
constexpr int kBrandTop = 22;
constexpr int kBrandSpacing = 10;
constexpr int kBrandTextSpacing = 2;
constexpr int kAppIcon = 36;
const QString kAppIconResource = QStringLiteral(":/app/quillet.svg");
constexpr int kCategoryInset = 8;
constexpr int kSidebarFooterMargin = 16;
constexpr int kSidebarFooterSpacing = 8;

// Detail pane.
constexpr int kPaneMargin = 24;    // left and right of every block
constexpr int kToolbarMargin = 8;  // above and below the toolbar's buttons
constexpr int kToolbarSpacing = 6;
constexpr int kToolbarButtonPadding = 4;
constexpr int kHeaderSpacing = 18;
constexpr qreal kHeaderOpacity = 0.24;
constexpr qreal kHeadlinePoints = 29;
constexpr qreal kHeadlineTracking = -0.7;
constexpr qreal kTotalPoints = 34;
constexpr int kTotalSpacing = 12;
constexpr int kBarHeight = 8;
constexpr int kControlsSpacing = 10;
constexpr int kControlsMargin = 14;  // above and below
constexpr int kSortWidth = 130;
constexpr int kAgeWidth = 165;
constexpr int kFooterSpacing = 12;
constexpr int kFooterBottom = 18;
constexpr int kNotesMaximum = 95;
constexpr int kNotesSpacing = 8;
constexpr int kStatusSpacing = 5;
constexpr int kSelectionMargin = 12;
constexpr qreal kSelectionOpacity = 0.7;
constexpr qreal kSelectionRadius = 12;
constexpr int kProgressHeight = 6;

// Welcome and empty states.
constexpr int kWelcomeSpacing = 16;
constexpr int kWelcomeSymbol = 48;
constexpr int kWelcomeTextWidth = 450;
constexpr int kEmptyTextWidth = 400;

const QString kPreviewNote =
    QStringLiteral("PREVIEW ONLY · No cleanup actions are available. Changed is not proven last use.");

QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A size outside the type roles, grown with the desktop's font as the roles are.
QFont fontAt(qreal points, QFont::Weight weight) {
    QFont scaled = ui::font(TextStyle::body, weight);
    scaled.setPixelSize(qRound(scaled.pixelSize() * points / pointSize(TextStyle::body)));
    return scaled;
}

// A colour wash behind a block of the pane, optionally with rounded corners.
class Wash final : public QWidget {
public:
    Wash(Environment* environment, AdaptiveColor colour, qreal opacity, qreal radius, QWidget* parent = nullptr)
        : QWidget(parent), m_environment(environment), m_colour(colour), m_opacity(opacity), m_radius(radius) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor colour = m_colour.resolve(m_environment->appearance());
        colour.setAlphaF(static_cast<float>(m_opacity));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
    }

private:
    Environment* m_environment;
    AdaptiveColor m_colour;
    qreal m_opacity;
    qreal m_radius;
};

// Blocks stacked edge to edge; each block brings its own margins.
QVBoxLayout* flushColumn(QWidget* owner) {
    auto* column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

// Centres a fixed-width wrapped text. A layout alignment would size it by its one-line hint
// and cut the lines that do not fit; a row of stretches keeps its height for that width.
QHBoxLayout* centred(QWidget* widget) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(widget);
    row->addStretch(1);
    return row;
}

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

// Lets a centred page shrink below its height in a small window, scrolling instead of pushing the
// window's minimum size up. Transparent, so the background shows through.
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

// Puts `content` over decorative layers, all filling the same area.
QWidget* layered(std::initializer_list<QWidget*> layers, QWidget* content) {
    auto* holder = new QWidget;
    auto* stack = new QStackedLayout(holder);
    stack->setStackingMode(QStackedLayout::StackAll);
    for (QWidget* layer : layers) stack->addWidget(layer);
    stack->addWidget(content);
    stack->setCurrentWidget(content);
    return holder;
}

}  // namespace

ContentView::ContentView(StorageModel& model, Environment* environment, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_environment(environment) {
    setObjectName(QStringLiteral("content-view"));
    m_results = new ResultsModel(m_model, this);
    m_categories = new CategoryModel(this);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    split->addWidget(makeSidebar());
    split->addWidget(makeDetail());
    split->setStretchFactor(1, 1);
    split->setSizes({kSidebarIdeal, 10 * kSidebarIdeal});
    setCentralWidget(split);

    connect(m_results, &ResultsModel::visibleItemsChanged, this, &ContentView::showVisibleItems);
    connect(m_results, &ResultsModel::listChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::busyChanged, this, &ContentView::showBusy);
    connect(&m_model, &StorageModel::scanningChanged, this, &ContentView::showBusy);
    connect(&m_model, &StorageModel::didScanChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::keptChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::rootsChanged, this, &ContentView::showRoots);
    connect(&m_model, &StorageModel::notesChanged, this, &ContentView::showNotes);
    connect(&m_model, &StorageModel::statusChanged, m_status, &QLabel::setText);
    connect(&m_model, &StorageModel::selectedChanged, this, &ContentView::showSelection);
    connect(&m_model, &StorageModel::selectedItemsChanged, this, &ContentView::showSelection);
    connect(&m_model, &StorageModel::planChanged, this, &ContentView::showPlanButton);
    // The model asks the disk on its worker and says when the text changed.
    connect(&m_model, &StorageModel::freeSpaceChanged, m_freeSpace, &QLabel::setText);
    // A finished scan (or plan) hands the keyboard to the search field. The model reports
    // busy before didScan, so the first scan's end arrives through didScanChanged.
    connect(&m_model, &StorageModel::busyChanged, this, &ContentView::focusSearchAfterWork);
    connect(&m_model, &StorageModel::didScanChanged, this, &ContentView::focusSearchAfterWork);
    connect(m_environment, &Environment::changed, this, &ContentView::applyAppearance);

    m_status->setText(m_model.status());
    showVisibleItems();
    showRoots();
    showNotes();
    showSelection();
    showPlanButton();
    showBusy();
    applyAppearance();
}

ContentView::~ContentView() = default;

const tarnby::browsing::Choices& ContentView::choices() const { return m_results->choices(); }

// ---- Layout ----

QLabel* ContentView::makeLabel(const QString& text, const QFont& labelFont, const AdaptiveColor& colour) {
    auto* label = new QLabel(text);
    label->setFont(labelFont);
    setForeground(*label, colour, *m_environment);
    return label;
}

namespace {

// The display name the shell gave the application when it is text, else the product's name.
QString applicationName() {
    const QString name = QGuiApplication::applicationDisplayName().trimmed();
    return name.isEmpty() ? QStringLiteral("Quillet") : name;
}

}  // namespace

QWidget* ContentView::makeSidebar() {
    auto* content = new QWidget;
    QVBoxLayout* column = flushColumn(content);

    // Brand header.
    auto* brand = new QHBoxLayout;
    brand->setContentsMargins(kBrandMargin, kBrandTop, kBrandMargin, 0);
    brand->setSpacing(kBrandSpacing);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("app-icon"));
    icon->setFixedSize(kAppIcon, kAppIcon);
    makeDecoration(*icon);
    brand->addWidget(icon);
    auto* names = new QVBoxLayout;
    names->setSpacing(kBrandTextSpacing);
    names->addWidget(makeLabel(applicationName(), ui::font(TextStyle::title3, QFont::DemiBold), Woodland::ink()));
    names->addWidget(
        makeLabel(QStringLiteral("A little breathing room."), ui::font(TextStyle::caption), Woodland::muted()));
    brand->addLayout(names, 1);
    column->addLayout(brand);
    column->addSpacing(kBrandTop);

    // Categories.
    m_categoryList = new QListView;
    m_categoryList->setObjectName(QStringLiteral("categories"));
    m_categoryList->setAccessibleName(QStringLiteral("Categories"));
    m_categoryList->setModel(m_categories);
    m_categoryList->setItemDelegate(new CategoryDelegate(m_environment, m_categoryList));
    m_categoryList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_categoryList->setFrameShape(QFrame::NoFrame);
    m_categoryList->setAutoFillBackground(false);
    m_categoryList->viewport()->setAutoFillBackground(false);
    m_categoryList->setAttribute(Qt::WA_Hover);
    m_categoryList->setSelectionRectVisible(false);
    m_categoryList->selectionModel()->select(
        m_categories->index(m_categories->rowOf(std::string(tarnby::browsing::kAllCategories))),
        QItemSelectionModel::ClearAndSelect);
    connect(m_categoryList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { showCategory(QModelIndex()); });
    auto* categories = new QVBoxLayout;
    categories->setContentsMargins(kCategoryInset, 0, kCategoryInset, 0);
    categories->addWidget(m_categoryList);
    column->addLayout(categories, 1);

    // Privacy footer.
    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(kSidebarFooterMargin, kSidebarFooterMargin, kSidebarFooterMargin, kSidebarFooterMargin);
    footer->setSpacing(kSidebarFooterSpacing);
    footer->addWidget(new SymbolLabel("lock.shield", QStringLiteral("On this Mac"),
                                      ui::font(TextStyle::caption, QFont::Medium), Woodland::ink(), *m_environment));
    QLabel* privacy = makeLabel(QStringLiteral("Scans stay on your Mac. No telemetry or background cleanup."),
                                ui::font(TextStyle::caption), Woodland::muted());
    privacy->setWordWrap(true);
    footer->addWidget(privacy);
    m_freeSpace = makeLabel(m_model.freeSpace(), monospacedDigits(ui::font(TextStyle::caption)), Woodland::ink());
    m_freeSpace->setObjectName(QStringLiteral("free-space"));
    footer->addWidget(m_freeSpace);
    column->addLayout(footer);

    QWidget* sidebar = layered({new WoodlandBackground(Surface::sidebar, m_environment)}, content);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(kSidebarMinimum);
    sidebar->setMaximumWidth(kSidebarMaximum);
    return sidebar;
}

QWidget* ContentView::makeDetail() {
    auto* content = new QWidget;
    QVBoxLayout* column = flushColumn(content);
    column->addWidget(makeToolbar());
    column->addWidget(makeHeader());
    column->addWidget(makeControls());
    column->addWidget(makeResults(), 1);
    column->addWidget(makeFooter());

    m_motion = new WoodlandMotion(m_environment);
    return layered({new WoodlandBackground(Surface::main, m_environment), m_motion}, content);
}

QWidget* ContentView::makeToolbar() {
    auto* toolbar = new Wash(m_environment, Woodland::main(), 1.0, 0);
    toolbar->setObjectName(QStringLiteral("toolbar"));
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(kPaneMargin, kToolbarMargin, kPaneMargin - kToolbarButtonPadding, kToolbarMargin);
    row->setSpacing(kToolbarSpacing);
    row->addWidget(makeLabel(QStringLiteral("Developer storage"), ui::font(TextStyle::headline), Woodland::ink()), 1);

    m_locationsAction = new QAction(QStringLiteral("Scan locations"), this);
    connect(m_locationsAction, &QAction::triggered, this, &ContentView::openLocations);
    m_stopAction = new QAction(QStringLiteral("Stop scan"), this);
    connect(m_stopAction, &QAction::triggered, this, &ContentView::stopScan);
    m_scanAction = new QAction(QStringLiteral("Scan"), this);
    connect(m_scanAction, &QAction::triggered, this, &ContentView::scan);
    // Command-R on macOS, Ctrl+R elsewhere: Qt maps CTRL to the Command key there. A hidden or
    // disabled action ignores its shortcut, so the key does nothing while a scan or plan runs.
    m_scanAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    const std::pair<QAction*, QString> names[] = {
        {m_locationsAction, QStringLiteral("locations")},
        {m_stopAction, QStringLiteral("stop-scan")},
        {m_scanAction, QStringLiteral("scan")},
    };
    for (const auto& [action, name] : names) {
        action->setObjectName(name);
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        setForeground(*button, Woodland::ink(), *m_environment);
        // A tool button outside a QToolBar does not follow its action's visibility by itself.
        connect(action, &QAction::changed, button, [button, action] { button->setVisible(action->isVisible()); });
        row->addWidget(button);
    }
    return toolbar;
}

QWidget* ContentView::makeHeader() {
    auto* header = new Wash(m_environment, Woodland::selection(), kHeaderOpacity, 0);
    header->setObjectName(QStringLiteral("header"));
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(kPaneMargin, kPaneMargin, kPaneMargin, kPaneMargin);
    column->setSpacing(kHeaderSpacing);

    QFont headline = fontAt(kHeadlinePoints, QFont::DemiBold);
    headline.setLetterSpacing(QFont::AbsoluteSpacing, kHeadlineTracking);
    column->addWidget(makeLabel(QStringLiteral("More room. Less baggage."), headline, Woodland::ink()));
    QLabel* lead = makeLabel(QStringLiteral("Find the dependencies, builds and devices you can leave behind."),
                             ui::font(TextStyle::callout), Woodland::muted());
    lead->setWordWrap(true);
    column->addWidget(lead);

    auto* totals = new QHBoxLayout;
    totals->setSpacing(kTotalSpacing);
    m_total = makeLabel(QString(), monospacedDigits(fontAt(kTotalPoints, QFont::Medium)), Woodland::ink());
    m_total->setObjectName(QStringLiteral("total-size"));
    m_headerLine = makeLabel(QString(), ui::font(TextStyle::callout), Woodland::muted());
    m_headerLine->setObjectName(QStringLiteral("total-line"));
    // Both texts share the first baseline: lift the smaller one by the difference of descents.
    m_headerLine->setContentsMargins(
        0, 0, 0, QFontMetrics(m_total->font()).descent() - QFontMetrics(m_headerLine->font()).descent());
    totals->addWidget(m_total, 0, Qt::AlignBottom);
    totals->addWidget(m_headerLine, 1, Qt::AlignBottom);
    column->addLayout(totals);

    m_bar = new StorageBar(m_environment);
    m_bar->setFixedHeight(kBarHeight);
    column->addWidget(m_bar);
    return header;
}

QWidget* ContentView::makeControls() {
    auto* controls = new QWidget;
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(kPaneMargin, kControlsMargin, kPaneMargin, kControlsMargin);
    row->setSpacing(kControlsSpacing);

    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Filter by project or path"));
    m_search->setAccessibleName(QStringLiteral("Filter by project or path"));
    m_search->setClearButtonEnabled(true);
    // The toolkit's clear button is otherwise an unnamed button to a screen reader.
    for (QToolButton* clear : m_search->findChildren<QToolButton*>()) {
        clear->setAccessibleName(QStringLiteral("Clear search"));
    }
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        setChoice([&](tarnby::browsing::Choices& c) { c.query = text.toStdString(); });
    });
    row->addWidget(m_search, 1);

    m_order = new QComboBox;
    m_order->setObjectName(QStringLiteral("sort"));
    m_order->setAccessibleName(QStringLiteral("Sort"));
    m_order->setFixedWidth(kSortWidth);
    for (const auto& option : tarnby::browsing::kOrderOptions) m_order->addItem(qt(option.label), qt(option.value));
    connect(m_order, &QComboBox::currentIndexChanged, this, [this] {
        setChoice([&](tarnby::browsing::Choices& c) { c.order = m_order->currentData().toString().toStdString(); });
    });
    row->addWidget(m_order);

    m_age = new QComboBox;
    m_age->setObjectName(QStringLiteral("age"));
    m_age->setAccessibleName(QStringLiteral("Age"));
    m_age->setFixedWidth(kAgeWidth);
    for (const auto& option : tarnby::browsing::kAgeOptions) m_age->addItem(qt(option.label), option.value);
    connect(m_age, &QComboBox::currentIndexChanged, this,
            [this] { setChoice([&](tarnby::browsing::Choices& c) { c.age = m_age->currentData().toInt(); }); });
    row->addWidget(m_age);

    m_selectVisible = new QPushButton(QStringLiteral("Select visible"));
    m_selectVisible->setObjectName(QStringLiteral("select-visible"));
    connect(m_selectVisible, &QPushButton::clicked, this, [this] { m_model.selectListed(m_results->listedItems()); });
    row->addWidget(m_selectVisible);
    return controls;
}

QWidget* ContentView::makeResults() {
    auto* results = new QWidget;
    QVBoxLayout* column = flushColumn(results);

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
    m_list->setAccessibleName(QStringLiteral("Results"));
    m_list->setModel(m_results);
    m_delegate = new ItemDelegate(m_environment, m_list);
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
    connect(m_list, &QWidget::customContextMenuRequested, this, &ContentView::showContextMenu);
    // Return or Enter (and a double click) opens the current row's details, as does Ctrl+I.
    connect(m_list, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        if (auto item = m_results->itemAt(index.row())) openDetails(*item);
    });
    connect(m_delegate, &ItemDelegate::detailsRequested, this, [this](const QModelIndex& index) {
        if (auto item = m_results->itemAt(index.row())) openDetails(*item);
    });
    auto* details = new QAction(QStringLiteral("Details"), m_list);
    details->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    details->setShortcutContext(Qt::WidgetShortcut);
    connect(details, &QAction::triggered, this, [this] {
        if (auto item = m_results->itemAt(m_list->currentIndex().row())) openDetails(*item);
    });
    m_list->addAction(details);

    m_pages = new QStackedWidget;
    m_welcomePage = scrollable(makeWelcome());
    m_emptyPage = scrollable(makeEmpty());
    m_pages->addWidget(m_welcomePage);
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_emptyPage);
    column->addWidget(m_pages, 1);
    return results;
}

QLabel* ContentView::makeWrapped(const QString& text, const QFont& labelFont, const AdaptiveColor& colour, int width) {
    QLabel* label = makeLabel(text, labelFont, colour);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    label->setFixedWidth(width);
    return label;
}

// A centred state page: its symbol on top, then what the caller adds, all between stretches.
QVBoxLayout* ContentView::makeStatePage(QWidget* page, const QString& name) {
    page->setObjectName(name);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(kWelcomeSpacing);
    column->addStretch(1);
    auto* art = new QLabel;
    art->setObjectName(name + QStringLiteral("-symbol"));
    makeDecoration(*art);
    column->addWidget(art, 0, Qt::AlignHCenter);
    return column;
}

QWidget* ContentView::makeWelcome() {
    auto* welcome = new QWidget;
    QVBoxLayout* column = makeStatePage(welcome, QStringLiteral("welcome"));
    column->addWidget(makeLabel(QStringLiteral("Find your next few gigabytes."),
                                ui::font(TextStyle::title2, QFont::Medium), Woodland::ink()),
                      0, Qt::AlignHCenter);
    column->addLayout(centred(makeWrapped(
        QStringLiteral("We find rebuildable dependencies and build output inside suggested project locations, plus "
                       "known package caches, Xcode builds and simulator devices."),
        ui::font(TextStyle::body), Woodland::muted(), kWelcomeTextWidth)));
    m_suggested = makeWrapped(QString(), ui::font(TextStyle::caption), Woodland::muted(), kWelcomeTextWidth);
    m_suggested->setObjectName(QStringLiteral("suggested-locations"));
    column->addLayout(centred(m_suggested));
    QPushButton* start = makeProminentButton(QStringLiteral("Scan developer storage"), *m_environment);
    start->setObjectName(QStringLiteral("start-scan"));
    connect(start, &QPushButton::clicked, this, &ContentView::scan);
    column->addWidget(start, 0, Qt::AlignHCenter);
    auto* locations = new QPushButton(QStringLiteral("Review scan locations…"));
    locations->setObjectName(QStringLiteral("review-locations"));
    connect(locations, &QPushButton::clicked, this, &ContentView::openLocations);
    column->addWidget(locations, 0, Qt::AlignHCenter);
    column->addWidget(makeLabel(QStringLiteral("Scanning reads metadata. This build can only preview cleanup plans."),
                                ui::font(TextStyle::caption), Woodland::muted()),
                      0, Qt::AlignHCenter);
    column->addStretch(1);
    return welcome;
}

QWidget* ContentView::makeEmpty() {
    auto* empty = new QWidget;
    QVBoxLayout* column = makeStatePage(empty, QStringLiteral("empty"));
    m_emptyTitle = makeLabel(QString(), ui::font(TextStyle::title2), Woodland::ink());
    m_emptyTitle->setObjectName(QStringLiteral("empty-title"));
    column->addWidget(m_emptyTitle, 0, Qt::AlignHCenter);
    m_emptyMessage = makeWrapped(QString(), ui::font(TextStyle::body), Woodland::muted(), kEmptyTextWidth);
    m_emptyMessage->setObjectName(QStringLiteral("empty-message"));
    column->addLayout(centred(m_emptyMessage));
    m_showKept = new QPushButton;
    m_showKept->setObjectName(QStringLiteral("show-kept-items"));
    connect(m_showKept, &QPushButton::clicked, this, [this] { m_model.clearKept(); });
    column->addWidget(m_showKept, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return empty;
}

QWidget* ContentView::makeFooter() {
    auto* footer = new QWidget;
    footer->setObjectName(QStringLiteral("footer"));
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(kPaneMargin, 0, kPaneMargin, kFooterBottom);
    column->setSpacing(kFooterSpacing);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setForeground(*divider, Woodland::rule(), *m_environment);
    column->addWidget(divider);

    m_notesToggle = new Disclosure;
    m_notesToggle->setObjectName(QStringLiteral("scan-notes"));
    m_notesToggle->setCheckable(true);
    m_notesToggle->setAutoRaise(true);
    m_notesToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_notesToggle->setArrowType(Qt::RightArrow);
    setForeground(*m_notesToggle, Woodland::ink(), *m_environment);
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
    m_status = makeLabel(QString(), ui::font(TextStyle::callout), Woodland::ink());
    m_status->setObjectName(QStringLiteral("status"));
    statusTexts->addWidget(m_status);
    statusTexts->addWidget(makeLabel(kPreviewNote, ui::font(TextStyle::caption), Woodland::muted()));
    statusRow->addLayout(statusTexts, 1);
    m_viewPlan = new QPushButton(QStringLiteral("View plan"));
    m_viewPlan->setObjectName(QStringLiteral("view-plan"));
    connect(m_viewPlan, &QPushButton::clicked, this, &ContentView::openPlan);
    statusRow->addWidget(m_viewPlan, 0, Qt::AlignVCenter);
    column->addLayout(statusRow);

    m_selectionBar = new Wash(m_environment, Woodland::selection(), kSelectionOpacity, kSelectionRadius);
    m_selectionBar->setObjectName(QStringLiteral("selection-bar"));
    auto* bar = new QHBoxLayout(m_selectionBar);
    bar->setContentsMargins(kSelectionMargin, kSelectionMargin, kSelectionMargin, kSelectionMargin);
    m_selectionLine = makeLabel(QString(), ui::font(TextStyle::callout, QFont::Medium), Woodland::ink());
    m_selectionLine->setObjectName(QStringLiteral("selection-line"));
    bar->addWidget(m_selectionLine, 1, Qt::AlignVCenter);
    auto* clear = new QPushButton(QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("clear-selection"));
    connect(clear, &QPushButton::clicked, this, [this] { m_model.clearSelection(); });
    bar->addWidget(clear, 0, Qt::AlignVCenter);
    m_review = makeProminentButton(QStringLiteral("Review plan…"), *m_environment);
    m_review->setObjectName(QStringLiteral("review"));
    connect(m_review, &QPushButton::clicked, this, &ContentView::openReview);
    bar->addWidget(m_review, 0, Qt::AlignVCenter);
    column->addWidget(m_selectionBar);
    return footer;
}

// ---- Choices ----

void ContentView::setChoice(const std::function<void(tarnby::browsing::Choices&)>& change) {
    tarnby::browsing::Choices choices = m_results->choices();
    change(choices);
    m_results->setChoices(std::move(choices));
}

void ContentView::showCategory(const QModelIndex&) {
    const QModelIndexList chosen = m_categoryList->selectionModel()->selectedIndexes();
    setChoice([&](tarnby::browsing::Choices& c) {
        if (chosen.isEmpty()) {
            c.category.reset();
        } else {
            c.category = chosen.first().data(CategoryModel::TagRole).toString().toStdString();
        }
    });
}

// ---- Showing the model ----

void ContentView::showVisibleItems() {
    const auto visible = m_results->visibleItems();
    m_total->setText(
        qt(tarnby::formatting::byteCount(tarnby::browsing::totalBytes(*visible->items, visible->positions))));
    m_headerLine->setText(qt(tarnby::browsing::headerLine(visible->positions.size())));
    m_bar->setItems(*visible->items, visible->positions);
    m_categories->setCounts(tarnby::browsing::kindCounts(*visible->items, visible->positions));
}

void ContentView::showRoots() {
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

void ContentView::showState() {
    const bool busy = m_model.busy();
    QWidget* page = m_emptyPage;
    if (!m_model.didScan() && !busy) {
        page = m_welcomePage;
    } else if (m_results->rowCount() > 0 || busy) {
        page = m_list;
    }
    m_pages->setCurrentWidget(page);
    m_selectVisible->setEnabled(!busy && m_results->anySelectable());

    if (page == m_emptyPage) {
        const tarnby::browsing::EmptyState empty =
            tarnby::browsing::emptyState(!m_results->visibleItems()->positions.empty(), m_model.kept().size());
        m_emptyTitle->setText(qt(empty.title));
        m_emptyMessage->setText(qt(empty.message));
        m_showKept->setVisible(empty.keptButton.has_value());
        if (empty.keptButton) m_showKept->setText(qt(*empty.keptButton));
    }
}

void ContentView::showBusy() {
    const bool busy = m_model.busy();
    const bool scanning = m_model.scanning();
    m_progress->setVisible(busy);
    m_list->setEnabled(!busy);
    m_locationsAction->setEnabled(!busy);
    m_stopAction->setVisible(scanning);
    m_scanAction->setVisible(!scanning);
    m_scanAction->setEnabled(!busy);
    m_viewPlan->setEnabled(!busy);
    m_review->setEnabled(!busy);
    m_motion->setWorking(busy);
    showState();
}

void ContentView::showNotes() {
    const std::vector<std::string>& notes = m_model.notes();
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

void ContentView::showSelection() {
    const std::set<std::string>& selected = m_model.selected();
    m_selectionBar->setVisible(!selected.empty());
    if (selected.empty()) return;
    m_selectionLine->setText(
        qt(tarnby::browsing::selectionLine(selected.size(), tarnby::browsing::totalBytes(m_model.selectedItems()))));
}

void ContentView::showPlanButton() { m_viewPlan->setVisible(m_model.plan().has_value()); }

void ContentView::focusSearchAfterWork() {
    if (!m_model.busy() && m_model.didScan()) m_search->setFocus(Qt::OtherFocusReason);
}

void ContentView::applyAppearance() {
    const Appearance appearance = m_environment->appearance();
    setPalette(woodlandPalette(*m_environment));
    const QColor accent = Woodland::accent().resolve(appearance);
    const qreal ratio = devicePixelRatioF();
    findChild<QLabel*>(QStringLiteral("welcome-symbol"))
        ->setPixmap(symbol("externaldrive.badge.magnifyingglass", accent, kWelcomeSymbol, ratio));
    findChild<QLabel*>(QStringLiteral("empty-symbol"))
        ->setPixmap(symbol("checkmark.circle", accent, QFontInfo(ui::font(TextStyle::largeTitle)).pixelSize(), ratio));
    // The application's own icon; a symbol stands in where the icon was not built in.
    const QPixmap icon = QIcon(kAppIconResource).pixmap(QSize(kAppIcon, kAppIcon), ratio);
    findChild<QLabel*>(QStringLiteral("app-icon"))
        ->setPixmap(icon.isNull() ? symbol("square.stack.3d.up", accent, kAppIcon, ratio) : icon);
    m_locationsAction->setIcon(symbolIcon("folder.badge.gearshape", Woodland::ink().resolve(appearance)));
    m_scanAction->setIcon(symbolIcon("arrow.clockwise", Woodland::ink().resolve(appearance)));
    update();
}

// ---- Actions ----

void ContentView::scan() { m_model.scan(); }

void ContentView::stopScan() { m_model.stop(); }

void ContentView::showContextMenu(const QPoint& position) {
    QModelIndex index = m_list->indexAt(position);
    if (!index.isValid()) index = m_list->currentIndex();
    const std::optional<tarnby::StorageItem> item = m_results->itemAt(index.row());
    if (!item || m_model.busy()) return;
    QMenu menu(this);
    // The menu keeps its own copy of the path: the list may change while it is open.
    menu.addAction(QStringLiteral("Reveal in Finder"), this, [path = item->url] { revealInFileManager(path); });
    menu.addAction(QStringLiteral("Keep this item"), this, [this, path = item->url] { m_model.keep(path); });
    const QPoint at = m_list->indexAt(position).isValid() ? position : m_list->visualRect(index).center();
    menu.exec(m_list->viewport()->mapToGlobal(at));
}

void ContentView::openSheet(QDialog* sheet, std::function<void()> closed) {
    ++m_openSheets;
    m_motion->setObscured(true);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this, closed = std::move(closed)] {
        --m_openSheets;
        m_motion->setObscured(m_openSheets > 0);
        if (closed) closed();
    });
    sheet->open();
}

void ContentView::openLocations() {
    if (m_model.busy()) return;
    openSheet(new LocationsSheet(m_model, m_environment, this));
}

void ContentView::openReview() {
    if (m_model.busy()) return;
    openSheet(new ReviewSheet(
        m_model.selectedItems(), [this](bool allowSimulators) { m_model.createPlan(allowSimulators); }, m_environment,
        this));
}

void ContentView::openPlan() {
    if (m_model.busy() || !m_model.plan()) return;
    openSheet(new PlanSheet(*m_model.plan(), m_model.home(), m_environment, this));
}

void ContentView::openDetails(const tarnby::StorageItem& item) {
    openSheet(new DetailSheet(item, m_model, m_environment, this));
}

}  // namespace quillet::ui
