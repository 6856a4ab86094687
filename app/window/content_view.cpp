#include "app/window/content_view.h"

#include <QDialog>
#include <QSplitter>
#include <QVBoxLayout>

#include <utility>

#include "app/look/environment.h"
#include "app/look/focus_ring.h"
#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"
#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/locations_sheet.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "app/window/results_area.h"
#include "app/window/results_model.h"
#include "app/window/sidebar.h"
#include "app/window/window_controls.h"
#include "app/window/window_footer.h"
#include "app/window/window_header.h"
#include "app/window/window_parts.h"
#include "app/window/window_toolbar.h"
#include "core/browsing/platform_texts.h"

namespace quillet::ui {

namespace {
constexpr int kSidebarMinimum = 205;
constexpr int kSidebarIdeal = 220;
constexpr int kSidebarMaximum = 260;
}  // namespace

ContentView::ContentView(StorageModel& model, Environment* environment, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_environment(environment) {
    setObjectName(QStringLiteral("content-view"));
    m_results = new ResultsModel(m_model, this);

    m_sidebar = new Sidebar(m_model, m_environment);
    QWidget* sidebar = layered({new WoodlandBackground(Surface::sidebar, m_environment)}, m_sidebar);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(kSidebarMinimum);
    sidebar->setMaximumWidth(kSidebarMaximum);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    split->addWidget(sidebar);
    split->addWidget(makeDetail());
    split->setStretchFactor(1, 1);
    split->setSizes({kSidebarIdeal, 10 * kSidebarIdeal});
    setCentralWidget(split);
    new FocusRing(m_environment, this);

    connect(m_sidebar, &Sidebar::categoryChanged, this,
            [this] { setChoice([category = m_sidebar->category()](auto& c) { c.category = category; }); });
    connect(m_toolbar, &WindowToolbar::locationsRequested, this, &ContentView::openLocations);
    connect(m_toolbar, &WindowToolbar::stopRequested, this, &ContentView::stopScan);
    connect(m_toolbar, &WindowToolbar::scanRequested, this, &ContentView::scan);
    connect(m_controls, &WindowControls::choiceChanged, this, &ContentView::setChoice);
    connect(m_controls, &WindowControls::selectVisibleRequested, this,
            [this] { m_model.selectListed(m_results->listedItems()); });
    connect(m_resultsArea, &ResultsArea::scanRequested, this, &ContentView::scan);
    connect(m_resultsArea, &ResultsArea::locationsRequested, this, &ContentView::openLocations);
    connect(m_resultsArea, &ResultsArea::detailsRequested, this, &ContentView::openDetails);
    connect(m_resultsArea, &ResultsArea::revealFailed, this,
            [this] { m_footer->showNotice(qt(tarnby::browsing::platformTexts().revealFailed)); });
    connect(m_footer, &WindowFooter::viewPlanRequested, this, &ContentView::openPlan);
    connect(m_footer, &WindowFooter::reviewRequested, this, &ContentView::openReview);
    connect(m_footer, &WindowFooter::clearSelectionRequested, this, [this] { m_model.clearSelection(); });

    connect(m_results, &ResultsModel::visibleItemsChanged, this, &ContentView::showVisibleItems);
    connect(m_results, &ResultsModel::listChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::busyChanged, this, &ContentView::showBusy);
    connect(&m_model, &StorageModel::scanningChanged, this, &ContentView::showBusy);
    connect(&m_model, &StorageModel::didScanChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::keptChanged, this, &ContentView::showState);
    connect(&m_model, &StorageModel::rootsChanged, m_resultsArea, &ResultsArea::showRoots);
    connect(&m_model, &StorageModel::notesChanged, this, [this] { m_footer->showNotes(m_model.notes()); });
    connect(&m_model, &StorageModel::statusChanged, m_footer, &WindowFooter::setStatus);
    connect(&m_model, &StorageModel::selectedChanged, this, &ContentView::showSelection);
    connect(&m_model, &StorageModel::selectedItemsChanged, this, &ContentView::showSelection);
    connect(&m_model, &StorageModel::planChanged, this,
            [this] { m_footer->showPlanButton(m_model.plan().has_value()); });
    // A finished scan (or plan) hands the keyboard to the search field. The model reports
    // busy before didScan, so the first scan's end arrives through didScanChanged.
    connect(&m_model, &StorageModel::busyChanged, this, &ContentView::focusSearchAfterWork);
    connect(&m_model, &StorageModel::didScanChanged, this, &ContentView::focusSearchAfterWork);
    connect(m_environment, &Environment::changed, this, &ContentView::applyAppearance);

    m_footer->setStatus(m_model.status());
    showVisibleItems();
    m_resultsArea->showRoots();
    m_footer->showNotes(m_model.notes());
    showSelection();
    m_footer->showPlanButton(m_model.plan().has_value());
    showBusy();
    applyAppearance();
}

ContentView::~ContentView() = default;

const tarnby::browsing::Choices& ContentView::choices() const { return m_results->choices(); }

QWidget* ContentView::makeDetail() {
    auto* content = new QWidget;
    QVBoxLayout* column = flushColumn(content);
    m_toolbar = new WindowToolbar(m_environment);
    m_header = new WindowHeader(m_environment);
    m_controls = new WindowControls;
    m_resultsArea = new ResultsArea(m_model, *m_results, m_environment);
    m_footer = new WindowFooter(m_environment);
    column->addWidget(m_toolbar);
    column->addWidget(m_header);
    column->addWidget(m_controls);
    column->addWidget(m_resultsArea, 1);
    column->addWidget(m_footer);

    m_motion = new WoodlandMotion(m_environment);
    return layered({new WoodlandBackground(Surface::main, m_environment), m_motion}, content);
}

// ---- Showing the model ----

void ContentView::setChoice(const std::function<void(tarnby::browsing::Choices&)>& change) {
    tarnby::browsing::Choices choices = m_results->choices();
    change(choices);
    m_results->setChoices(std::move(choices));
}

void ContentView::showVisibleItems() {
    const auto visible = m_results->visibleItems();
    m_header->showVisible(*visible->items, visible->positions);
    m_sidebar->setCounts(tarnby::browsing::kindCounts(*visible->items, visible->positions));
}

void ContentView::showState() {
    m_resultsArea->showState();
    m_controls->setSelectVisibleEnabled(!m_model.busy() && m_results->anySelectable());
}

void ContentView::showBusy() {
    const bool busy = m_model.busy();
    m_toolbar->setBusy(busy, m_model.scanning());
    m_footer->setBusy(busy);
    m_motion->setWorking(busy);
    m_resultsArea->showBusy();
    m_controls->setSelectVisibleEnabled(!busy && m_results->anySelectable());
}

void ContentView::showSelection() {
    const std::size_t count = m_model.selected().size();
    m_footer->showSelection(count, count > 0 ? tarnby::browsing::totalBytes(m_model.selectedItems()) : 0);
}

void ContentView::focusSearchAfterWork() {
    if (!m_model.busy() && m_model.didScan()) m_controls->focusSearch();
}

void ContentView::applyAppearance() {
    setPalette(woodlandPalette(*m_environment));
    m_sidebar->applyAppearance();
    m_resultsArea->applyAppearance();
    m_toolbar->applyAppearance();
    update();
}

// ---- Actions ----

void ContentView::scan() { m_model.scan(); }

void ContentView::stopScan() { m_model.stop(); }

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
    openSheet(new PlanSheet(*m_model.plan(), m_model.home(), m_model.planFreed(), m_environment, this));
}

void ContentView::openDetails(const tarnby::StorageItem& item) {
    openSheet(new DetailSheet(item, m_model, m_environment, this));
}

}  // namespace quillet::ui
