#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

#include <memory>

#include "app/look/environment.h"
#include "app/look/focus_ring.h"
#include "app/look/palette.h"
#include "app/look/woodland_motion.h"
#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/sheet_parts.h"
#include "app/window/category_list.h"
#include "app/window/content_view.h"
#include "app/window/item_delegate.h"
#include "app/window/results_area.h"
#include "app/window/results_model.h"
#include "core/browsing/platform_texts.h"
#include "tests/app/window/window_fixture.h"
#include "tests/support/contrast.h"

using namespace window_fixture;
using quillet::StorageModel;
using quillet::ui::Appearance;
using quillet::ui::ContentView;
using quillet::ui::LeafSet;
using quillet::ui::ResultsModel;
using tarnby::StorageKind;

namespace {

template <typename Widget>
Widget* child(const QWidget& window, const char* name) {
    auto* found = window.findChild<Widget*>(QString::fromLatin1(name));
    if (found == nullptr) qFatal("no %s", name);
    return found;
}

QString text(const QWidget& window, const char* name) { return child<QLabel>(window, name)->text(); }

// The page the results area shows: "welcome", "results" or "empty".
QString shownPage(const QWidget& window) {
    const auto* stack = qobject_cast<QStackedWidget*>(child<QListView>(window, "results")->parentWidget());
    return stack->currentWidget()->objectName();
}

// Shows the window at its first size, in front, so shortcuts and focus work as for a person.
bool showActive(ContentView& window) {
    window.resize(1100, 760);
    window.show();
    return QTest::qWaitForWindowActive(&window);
}

// Pixels of `area` (clipped to both images) that differ between `a` and `b`.
int changedPixels(const QImage& a, const QImage& b, const QRect& area) {
    int changed = 0;
    const QRect inside = area & a.rect() & b.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
    }
    return changed;
}

QRect inWindow(const QWidget& widget, const QRect& rect, const QWidget& window) {
    return QRect(widget.mapTo(&window, rect.topLeft()), rect.size());
}

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

    std::optional<Home> m_home;
    quillet::ui::Environment m_environment;

    std::string home() const { return m_home->path(); }

    // One of each kind under the home folder, plus a protected and an incompletely measured item.
    void prepareItems() {
        auto locked =
            item(home() + "/Library/Developer/CoreSimulator/Devices/A", "iPhone 15", StorageKind::simulators, 700);
        locked.protection = "This simulator is running.";
        auto partial = item(home() + "/Code/web/.next", "web .next", StorageKind::builds, 600);
        partial.measurement.complete = false;
        m_home->scan.result.items = {
            item(home() + "/Code/app/node_modules", "app node_modules", StorageKind::dependencies, 900),
            item(home() + "/Code/tool/target", "tool target", StorageKind::builds, 800),
            locked,
            partial,
            item(home() + "/Library/Caches/Yarn", "Yarn cache", StorageKind::caches, 500, 3),
        };
    }

    static void scanAndWait(StorageModel& model) {
        model.scan();
        QVERIFY(idle(model));
    }

private slots:
    void init() {
        m_home.emplace();
        QVERIFY(m_home->folder.isValid());
    }

    void welcomeNamesTheRootsAndNoScanStartsByItself() {
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QCOMPARE(shownPage(window), QStringLiteral("welcome"));
        QVERIFY(!model.busy());
        // The free space arrives from the model's worker.
        QTRY_COMPARE(text(window, "free-space"), QStringLiteral("123 GB available"));
        // An empty fixture home suggests nothing.
        QCOMPARE(text(window, "suggested-locations"),
                 QStringLiteral(
                     "Known caches and Xcode locations are ready to scan. Add a custom project location anytime."));

        QVERIFY(QDir().mkpath(QString::fromStdString(home() + "/Work")));
        QVERIFY(QDir().mkpath(QString::fromStdString(home() + "/Code")));
        model.save(std::vector<std::string>{home() + "/Work", home() + "/Code"});
        QCOMPARE(text(window, "suggested-locations"), QStringLiteral("Suggested project locations: Code, Work"));
        QCOMPARE(shownPage(window), QStringLiteral("welcome"));

        // A change of appearance recolours the window while it is open.
        m_environment.setAppearance(quillet::ui::Appearance::dark);
        QCOMPARE(child<QLabel>(window, "suggested-locations")->palette().color(QPalette::WindowText),
                 quillet::ui::Woodland::muted().resolve(quillet::ui::Appearance::dark));
        m_environment.setAppearance(quillet::ui::Appearance::light);
        QCOMPARE(child<QLabel>(window, "suggested-locations")->palette().color(QPalette::WindowText),
                 quillet::ui::Woodland::muted().resolve(quillet::ui::Appearance::light));
    }

    void theBrandHeaderNamesTheApplicationAsTheShellCalledIt() {
        StorageModel model(m_home->setup());
        const QString before = QGuiApplication::applicationDisplayName();
        auto brandShown = [&](const QString& name) {
            ContentView window(model, &m_environment);
            for (const QLabel* label : window.findChildren<QLabel*>()) {
                if (label->text() == name) return true;
            }
            return false;
        };
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Quillet Nightly"));
        QVERIFY(brandShown(QStringLiteral("Quillet Nightly")));
        // A name that is no text at all falls back to the product's own.
        QGuiApplication::setApplicationDisplayName(QStringLiteral("  "));
        QVERIFY(brandShown(QStringLiteral("Quillet")));
        QGuiApplication::setApplicationDisplayName(before);
    }

    void aRunningScanShowsProgressOverTheListAndDisablesTheControls() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        auto* scanButton = child<QToolButton>(window, "scan");
        auto* stopButton = child<QToolButton>(window, "stop-scan");
        auto* scanAction = child<QAction>(window, "scan");
        QSignalSpy scans(scanAction, &QAction::triggered);

        // Ctrl+R starts a scan from anywhere in the window.
        QVERIFY(!stopButton->isVisible() && scanButton->isVisible());
        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(scans.count(), 1);
        QVERIFY(idle(model));
        model.select(home() + "/Code/app/node_modules");
        model.createPlan(false);
        QVERIFY(idle(model));
        QVERIFY(child<QPushButton>(window, "view-plan")->isVisible());

        m_home->scan.hold();
        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(scans.count(), 2);
        QVERIFY(model.scanning());
        QVERIFY(child<QProgressBar>(window, "progress")->isVisible());
        QVERIFY(window.findChild<quillet::ui::WoodlandMotion*>()->working());
        QCOMPARE(shownPage(window), QStringLiteral("results"));
        QVERIFY(stopButton->isVisible() && !scanButton->isVisible());
        // While busy, Ctrl+R does nothing and the controls are off.
        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(scans.count(), 2);
        QVERIFY(!child<QListView>(window, "results")->isEnabled());
        QVERIFY(!child<QToolButton>(window, "locations")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "select-visible")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "view-plan")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "review")->isEnabled());
        QVERIFY(!child<QWidget>(window, "selection-bar")->isVisible());  // the scan emptied the selection

        QTest::mouseClick(stopButton, Qt::LeftButton);
        QCOMPARE(text(window, "status"), QStringLiteral("Stopping after the current operation…"));
        m_home->scan.release();
        QVERIFY(idle(model));
        QCOMPARE(text(window, "status"), QStringLiteral("Scan stopped. Showing partial results."));
        QVERIFY(!child<QProgressBar>(window, "progress")->isVisible());
        QVERIFY(!stopButton->isVisible() && scanButton->isVisible() && scanButton->isEnabled());
        QVERIFY(child<QListView>(window, "results")->isEnabled());
    }

    // The first scan starts over an empty list, which grows as items are measured: rows are only
    // ever added. A stop keeps them; a rescan shows them, disabled, until its result.
    void theFirstScanListsItemsAsTheyAreMeasuredAndAStopOrRescanKeepsThem() {
        const std::string h = home();
        m_home->scan.found = {item(h + "/Code/a/node_modules", "a node_modules", StorageKind::dependencies, 5000),
                              item(h + "/Code/b/target", "b target", StorageKind::builds, 9000),
                              item(h + "/Library/Caches/Yarn", "Yarn cache", StorageKind::caches, 5000),
                              item(h + "/Code/c/.next", "c .next", StorageKind::builds, 7000)};
        m_home->scan.holdSteps();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        ResultsModel& rows = window.results();
        QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&rows, &QAbstractItemModel::modelReset);
        QSignalSpy removals(&rows, &QAbstractItemModel::rowsRemoved);
        const auto titles = [&rows] {
            QStringList out;
            for (int row = 0; row < rows.rowCount(); ++row) out << rows.index(row).data().toString();
            return out;
        };

        QTest::mouseClick(child<QPushButton>(window, "start-scan"), Qt::LeftButton);
        QCOMPARE(shownPage(window), QStringLiteral("results"));
        QCOMPARE(rows.rowCount(), 0);
        QVERIFY(child<QProgressBar>(window, "progress")->isVisibleTo(&window));
        m_home->scan.steps->release();
        QTRY_COMPARE(titles(), QStringList{"a node_modules"});
        m_home->scan.steps->release();
        QTRY_COMPARE(titles(), (QStringList{"b target", "a node_modules"}));
        QCOMPARE(text(window, "total-size"), QStringLiteral("14 KB"));
        QCOMPARE(text(window, "total-line"), QStringLiteral("estimated on disk · 2 items"));
        auto* sidebar = qobject_cast<quillet::ui::CategoryModel*>(child<QListView>(window, "categories")->model());
        QCOMPARE(sidebar->index(sidebar->rowOf("builds")).data(quillet::ui::CategoryModel::CountRole).toInt(), 1);
        QVERIFY(!child<QListView>(window, "results")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "select-visible")->isEnabled());
        QVERIFY(!(rows.flags(rows.index(0)) & Qt::ItemIsUserCheckable));

        model.stop();
        QVERIFY(idle(model));
        QCOMPARE(titles(), (QStringList{"b target", "a node_modules"}));
        QCOMPARE(model.status(), QStringLiteral("Scan stopped. Showing partial results."));

        m_home->scan.hold();
        model.scan();
        m_home->scan.steps->release(4);
        QTRY_COMPARE(m_home->scan.reported.load(), 4);
        QTest::qWait(250);  // more than a batch waits: a list that should grow would have
        QCOMPARE(titles(), (QStringList{"b target", "a node_modules"}));
        m_home->scan.release();
        QVERIFY(idle(model));
        QCOMPARE(titles(), (QStringList{"b target", "c .next", "a node_modules", "Yarn cache"}));
        QCOMPARE(resets.count() + removals.count(), 0);
    }

    void emptyStatesAndBringingBackKeptItems() {
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        auto* showKept = child<QPushButton>(window, "show-kept-items");

        scanAndWait(model);
        QCOMPARE(shownPage(window), QStringLiteral("empty"));
        QCOMPARE(text(window, "empty-title"), QStringLiteral("A little breathing room."));
        QCOMPARE(text(window, "empty-message"),
                 QStringLiteral("No recognized items found. Add another project folder or review scan notes."));
        QVERIFY(!showKept->isVisibleTo(&window));

        prepareItems();
        scanAndWait(model);
        QCOMPARE(shownPage(window), QStringLiteral("results"));
        for (const auto& found : m_home->scan.result.items) model.keep(found.url);
        QCOMPARE(shownPage(window), QStringLiteral("empty"));
        QCOMPARE(text(window, "empty-title"), QStringLiteral("A little breathing room."));
        QVERIFY(showKept->isVisibleTo(&window));
        QCOMPARE(showKept->text(), QStringLiteral("Show kept items (5)"));

        QTest::mouseClick(showKept, Qt::LeftButton);
        QVERIFY(model.kept().empty());
        QCOMPARE(shownPage(window), QStringLiteral("results"));
        QFile preferences(QString::fromStdString(model.preferencesPath()));
        QVERIFY(preferences.open(QIODevice::ReadOnly));
        QVERIFY(preferences.readAll().contains("\"kept\":[]"));

        // Items hidden only by the filters.
        child<QLineEdit>(window, "search")->setText(QStringLiteral("nothing like this"));
        QCOMPARE(shownPage(window), QStringLiteral("empty"));
        QCOMPARE(text(window, "empty-title"), QStringLiteral("No matches."));
        QCOMPARE(text(window, "empty-message"), QStringLiteral("Try another filter or age range."));
        QVERIFY(!showKept->isVisibleTo(&window));
        child<QLineEdit>(window, "search")->clear();

        // The "Browse" heading cannot be chosen; clicking it keeps the category.
        auto* categories = child<QListView>(window, "categories");
        QVERIFY(showActive(window));
        QTest::mouseClick(categories->viewport(), Qt::LeftButton, {},
                          categories->visualRect(categories->model()->index(1, 0)).center());
        QCOMPARE(window.choices().category, std::optional<std::string>("all"));
        // The arrow keys step over it.
        categories->setFocus();
        categories->setCurrentIndex(categories->model()->index(0, 0));
        QTest::keyClick(categories, Qt::Key_Down);
        QCOMPARE(window.choices().category, std::optional<std::string>("dependencies"));
        QTest::keyClick(categories, Qt::Key_Up);
        QCOMPARE(window.choices().category, std::optional<std::string>("all"));

        // No category chosen in the sidebar lists nothing.
        categories->selectionModel()->clearSelection();
        QVERIFY(!window.choices().category.has_value());
        QCOMPARE(shownPage(window), QStringLiteral("empty"));
        QCOMPARE(text(window, "empty-title"), QStringLiteral("No matches."));
    }

    void selectVisibleAddsOnlySelectableListedItems() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        scanAndWait(model);
        const std::string earlier = home() + "/Code/app/node_modules";
        model.select(earlier);

        // Builds: one selectable, one incompletely measured.
        auto* categories = child<QListView>(window, "categories");
        auto* sidebar = qobject_cast<quillet::ui::CategoryModel*>(categories->model());
        categories->setCurrentIndex(sidebar->index(sidebar->rowOf("builds")));
        QCOMPARE(window.results().rowCount(), 2);
        auto* selectVisible = child<QPushButton>(window, "select-visible");
        QTest::mouseClick(selectVisible, Qt::LeftButton);
        QCOMPARE(model.selected(), (std::set<std::string>{earlier, home() + "/Code/tool/target"}));
        QVERIFY(child<QWidget>(window, "selection-bar")->isVisibleTo(&window));
        QCOMPARE(text(window, "selection-line"), QStringLiteral("2 selected · 2 KB estimated"));

        // Only the running simulator listed: nothing to select.
        categories->setCurrentIndex(sidebar->index(sidebar->rowOf("simulators")));
        QCOMPARE(window.results().rowCount(), 1);
        QVERIFY(!selectVisible->isEnabled());
        QTest::mouseClick(child<QPushButton>(window, "clear-selection"), Qt::LeftButton);
        QVERIFY(model.selected().empty());
        QVERIFY(!child<QWidget>(window, "selection-bar")->isVisibleTo(&window));
    }

    void rowsShowHomeAsTildeAndSidebarCountsIgnoreTheFilters() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        scanAndWait(model);
        QCOMPARE(window.results().index(0).data(ResultsModel::DisplayPathRole).toString(),
                 QStringLiteral("~/Code/app/node_modules"));
        QCOMPARE(text(window, "total-size"), QStringLiteral("4 KB"));
        QCOMPARE(text(window, "total-line"), QStringLiteral("estimated on disk · 5 items"));

        auto* categories = child<QListView>(window, "categories");
        auto* sidebar = qobject_cast<quillet::ui::CategoryModel*>(categories->model());
        auto count = [&](const char* kind) {
            return sidebar->index(sidebar->rowOf(kind)).data(quillet::ui::CategoryModel::CountRole).toInt();
        };
        QCOMPARE(count("builds"), 2);
        child<QLineEdit>(window, "search")->setText(QStringLiteral("tool"));
        categories->setCurrentIndex(sidebar->index(sidebar->rowOf("caches")));
        window.findChild<QComboBox*>(QStringLiteral("age"))->setCurrentIndex(2);
        QCOMPARE(window.results().rowCount(), 0);
        QCOMPARE(count("builds"), 2);
        QCOMPARE(count("caches"), 1);
        QCOMPARE(count("simulators"), 1);
        // Kept items are not counted, nor in the totals.
        model.keep(home() + "/Code/tool/target");
        QCOMPARE(count("builds"), 1);
        QCOMPARE(text(window, "total-line"), QStringLiteral("estimated on disk · 4 items"));
    }

    void reviewingMakesAPlanThatViewPlanOpens() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        scanAndWait(model);
        model.select(home() + "/Code/tool/target");
        model.select(home() + "/Code/app/node_modules");
        auto* viewPlan = child<QPushButton>(window, "view-plan");
        QVERIFY(!viewPlan->isVisible());

        QTest::mouseClick(child<QPushButton>(window, "review"), Qt::LeftButton);
        QVERIFY(window.sheetOpen());
        auto* review = child<QDialog>(window, "review-sheet");
        m_home->plan.hold();
        QTest::mouseClick(child<QPushButton>(*review, "confirm-cleanup"), Qt::LeftButton);
        QVERIFY(!window.sheetOpen());

        // Planning: busy but not scanning. Scan stays in place, disabled, and Ctrl+R is ignored.
        QVERIFY(model.busy() && !model.scanning());
        auto* scanButton = child<QToolButton>(window, "scan");
        QVERIFY(scanButton->isVisible() && !scanButton->isEnabled());
        QSignalSpy scans(child<QAction>(window, "scan"), &QAction::triggered);
        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(scans.count(), 0);
        QVERIFY(!child<QPushButton>(window, "review")->isEnabled());
        m_home->plan.release();
        QVERIFY(idle(model));
        // The selection went to the planner in scan order, without the simulator acknowledgement.
        QCOMPARE(m_home->plan.given,
                 (std::vector<std::string>{home() + "/Code/app/node_modules", home() + "/Code/tool/target"}));
        QVERIFY(!m_home->plan.acknowledged);

        // The plan does not open by itself; "View plan" opens it.
        QVERIFY(!window.sheetOpen());
        QVERIFY(viewPlan->isVisible() && viewPlan->isEnabled());
        QTest::mouseClick(viewPlan, Qt::LeftButton);
        QVERIFY(window.sheetOpen());
        QVERIFY(child<QDialog>(window, "plan-sheet")->isVisible());
    }

    void theSearchFieldTakesFocusWhenAScanEnds() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        auto* search = child<QLineEdit>(window, "search");
        child<QListView>(window, "categories")->setFocus();
        QVERIFY(!search->hasFocus());

        // The first scan: the model reports busy before didScan.
        scanAndWait(model);
        QVERIFY(search->hasFocus());
        child<QListView>(window, "results")->setFocus();
        scanAndWait(model);
        QVERIFY(search->hasFocus());
    }

    void rowsToggleWithTheMouseAndSpaceAndOpenTheirDetails() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        scanAndWait(model);
        auto* list = child<QListView>(window, "results");
        auto* delegate = qobject_cast<quillet::ui::ItemDelegate*>(list->itemDelegate());
        QVERIFY(delegate);
        QCOMPARE(list->accessibleName(), QStringLiteral("Results"));

        const QModelIndex first = window.results().index(0);
        const auto layout = delegate->rowLayout(list->visualRect(first));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, layout.checkbox.center());
        QCOMPARE(model.selected(), (std::set<std::string>{home() + "/Code/app/node_modules"}));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, layout.checkbox.center());
        QVERIFY(model.selected().empty());

        // Space on the current row; an unselectable row ignores it.
        list->setFocus();
        list->setCurrentIndex(window.results().index(1));
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(model.selected(), (std::set<std::string>{home() + "/Code/tool/target"}));
        list->setCurrentIndex(window.results().index(2));
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(model.selected().size(), std::size_t(1));

        // The details button and Return open the detail sheet; closing it clears the flag.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, layout.details.center());
        QVERIFY(window.sheetOpen());
        auto* motion = window.findChild<quillet::ui::WoodlandMotion*>();
        QVERIFY(motion->obscured());
        auto* sheet = window.findChild<QDialog*>();
        QVERIFY(sheet && sheet->isVisible());
        sheet->reject();
        QVERIFY(!window.sheetOpen());
        QVERIFY(!motion->obscured());
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(window.sheetOpen());
        qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
        QVERIFY(!window.sheetOpen());

        // The context menu's "Keep this item" keeps the row it was opened on.
        const QPoint onSecond = list->visualRect(window.results().index(1)).center();
        QTimer::singleShot(0, this, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QStringList texts;
            for (QAction* action : menu->actions()) texts << action->text();
            QCOMPARE(texts, (QStringList{quillet::ui::qt(tarnby::browsing::platformTexts().reveal), "Keep this item"}));
            menu->actions().at(1)->trigger();
            menu->close();
        });
        QContextMenuEvent request(QContextMenuEvent::Mouse, onSecond, list->viewport()->mapToGlobal(onSecond));
        QApplication::sendEvent(list->viewport(), &request);
        QCOMPARE(model.kept(), (std::set<std::string>{home() + "/Code/tool/target"}));
        QVERIFY(model.selected().empty());  // keeping also deselects

        // A reveal no file manager answered is said under the status, until the status moves on.
        auto* notice = child<QLabel>(window, "status-notice");
        emit window.findChild<quillet::ui::ResultsArea*>()->revealFailed();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), quillet::ui::qt(tarnby::browsing::platformTexts().revealFailed));
        scanAndWait(model);
        QVERIFY(!notice->isVisible());
    }

    // The idle leaf drifts above the background; during a scan the busy leaves join it.
    void theLeavesAreDrawnAboveTheBackground() {
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        auto* motion = window.findChild<quillet::ui::WoodlandMotion*>();
        double now = 0;
        motion->setClock([&now] { return now; });
        QVERIFY(motion->allowed());
        auto leaves = [&](LeafSet set) {
            QRect area;
            for (const auto& pose : leafPoses(set, motion->size(), motion->animationTime())) {
                area |= inWindow(*motion, leafBounds(pose).toAlignedRect(), window);
            }
            return area;
        };
        const QImage first = window.grab().toImage();
        const QRect before = leaves(LeafSet::idle);
        now += 4;
        QVERIFY(changedPixels(first, window.grab().toImage(), before | leaves(LeafSet::idle)) > 200);

        m_home->scan.hold();
        model.scan();
        motion->setObscured(true);  // holds the clock, so only the busy leaves change below
        QVERIFY(motion->working());
        const QImage busy = window.grab().toImage();
        motion->setWorking(false);
        QVERIFY(changedPixels(busy, window.grab().toImage(), leaves(LeafSet::busy)) > 200);
        m_home->scan.release();
        QVERIFY(idle(model));
    }

    void sidebarRowsFollowItsWidth() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        window.resize(960, 660);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        scanAndWait(model);
        auto* split = window.findChild<QSplitter*>();
        auto* categories = child<QListView>(window, "categories");
        for (int width : {260, 215, 205}) {
            split->setSizes({width, 2000});
            QTRY_COMPARE(split->sizes().first(), width);
            QTest::qWait(20);
            QVERIFY2(!categories->horizontalScrollBar()->isVisible(), qPrintable(QString::number(width)));
            const QModelIndex last = categories->model()->index(categories->model()->rowCount() - 1, 0);
            QVERIFY(categories->visualRect(last).right() < categories->viewport()->width());
        }
    }

    // Keyboard focus and unticked checkboxes at 3:1 or more against what surrounds them, and
    // stronger with increased contrast, measured on the rendered window.
    void focusAndCheckboxesStandOut() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        scanAndWait(model);
        model.select(home() + "/Code/tool/target");  // shows the selection bar and "Review plan…"
        auto* list = child<QListView>(window, "results");
        auto* delegate = qobject_cast<quillet::ui::ItemDelegate*>(list->itemDelegate());
        auto* review = child<QPushButton>(window, "review");
        auto* search = child<QLineEdit>(window, "search");
        for (const bool strong : {false, true}) {
            for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
                m_environment.setAppearance(appearance);
                m_environment.setIncreasedContrast(strong);
                const double least = strong ? 7 : 3;
                const QString where = QStringLiteral("%1%2").arg(appearance == Appearance::dark ? "dark" : "light",
                                                                 strong ? ", increased contrast" : "");
                search->setFocus(Qt::MouseFocusReason);
                const QImage plain = window.grab().toImage();
                const auto row = delegate->rowLayout(list->visualRect(window.results().index(0)));
                const QRect box = inWindow(*list->viewport(), row.checkbox, window);
                const QColor beside = plain.pixelColor(box.left() - 4, box.center().y());
                QVERIFY2(quillet::testing::strongestContrast(plain, box, beside) >= least, qPrintable(where));

                // The ring around a prominent button, a little outside each edge.
                review->setFocus(Qt::TabFocusReason);
                const QImage ringed = window.grab().toImage();
                const QRect button = inWindow(*review, review->rect(), window);
                const int out = quillet::ui::FocusRing::kGap + 1;
                for (const QPoint at : {QPoint(button.left() - out, button.center().y()),
                                        QPoint(button.right() + out, button.center().y()),
                                        QPoint(button.center().x(), button.top() - out),
                                        QPoint(button.center().x(), button.bottom() + out)}) {
                    QVERIFY2(quillet::testing::contrastRatio(ringed.pixelColor(at), plain.pixelColor(at)) >= least,
                             qPrintable(where));
                }

                // And around the current row, reached with Tab.
                child<QPushButton>(window, "select-visible")->setFocus(Qt::TabFocusReason);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QCOMPARE(QApplication::focusWidget(), list);
                const QRect card = inWindow(*list->viewport(), row.background, window);
                const QPoint edge(card.left() + 1, card.center().y());
                QVERIFY2(quillet::testing::contrastRatio(window.grab().toImage().pixelColor(edge),
                                                         plain.pixelColor(edge)) >= least,
                         qPrintable(where));
            }
        }
        m_environment.setIncreasedContrast(false);
        m_environment.setAppearance(Appearance::light);
    }

    void returnPressesTheFocusedButtonAndTipsSayWhatTheyDo() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        QVERIFY(child<QToolButton>(window, "scan")->toolTip().contains(QStringLiteral("Ctrl+R")));
        auto* start = child<QPushButton>(window, "start-scan");
        start->setFocus(Qt::TabFocusReason);
        QTest::keyClick(start, Qt::Key_Return);
        QVERIFY(model.busy() || model.didScan());
        QVERIFY(idle(model));
        auto* selectVisible = child<QPushButton>(window, "select-visible");
        selectVisible->setFocus(Qt::TabFocusReason);
        QTest::keyClick(selectVisible, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(model.selected().size(), std::size_t(3));
        auto* locations = child<QToolButton>(window, "locations");
        locations->setFocus(Qt::TabFocusReason);
        QTest::keyClick(locations, Qt::Key_Return);
        QVERIFY(window.sheetOpen());
        qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();

        // Tips: the details button says what it opens, an unselectable row's checkbox why.
        auto* list = child<QListView>(window, "results");
        auto* delegate = qobject_cast<quillet::ui::ItemDelegate*>(list->itemDelegate());
        auto tipAt = [&](int row, auto part) {
            const QPoint at = (delegate->rowLayout(list->visualRect(window.results().index(row))).*part).center();
            QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list->viewport(), &help);
            return QToolTip::text();
        };
        using Layout = quillet::ui::ItemDelegate::RowLayout;
        QCOMPARE(tipAt(0, &Layout::details), QStringLiteral("Details and rebuild instructions"));
        QCOMPARE(tipAt(0, &Layout::checkbox), QStringLiteral("Select app node_modules"));
        QCOMPARE(tipAt(2, &Layout::checkbox), QStringLiteral("This simulator is running."));
        QCOMPARE(tipAt(0, &Layout::title), QString::fromStdString(home() + "/Code/app/node_modules"));
    }

    // Each row offers a checkbox and a details button to assistive technology, which can tick
    // the row and open its details without the keyboard. (What the bus hears: tests/e2e.)
    void rowsOfferTheirPartsToAssistiveTechnology() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        QVERIFY(showActive(window));
        scanAndWait(model);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(child<QListView>(window, "results"));
        QCOMPARE(list->childCount(), 5);
        QAccessibleInterface* row = list->child(0);
        QCOMPARE(row->text(QAccessible::Name), QStringLiteral("app node_modules"));
        QAccessibleInterface* select = row->child(0);
        QAccessibleInterface* details = row->child(1);
        QVERIFY(select != nullptr && details != nullptr && select->parent() == row && list->indexOfChild(row) == 0);
        QCOMPARE(select->text(QAccessible::Name), QStringLiteral("Select app node_modules"));
        QCOMPARE(select->object()->objectName(), QString::fromStdString("select-" + home() + "/Code/app/node_modules"));
        QVERIFY(select->state().checkable && !select->state().checked && !select->state().disabled);
        QCOMPARE(details->text(QAccessible::Name), QStringLiteral("Details for app node_modules"));
        QCOMPARE(details->text(QAccessible::Help), QStringLiteral("Details and rebuild instructions"));
        QVERIFY(list->rect().contains(select->rect()) && select->rect().right() < details->rect().left());

        select->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(model.selected(), (std::set<std::string>{home() + "/Code/app/node_modules"}));
        QVERIFY(select->state().checked && row->state().checked);

        // The running simulator cannot be ticked, and says why.
        QAccessibleInterface* locked = list->child(2)->child(0);
        QVERIFY(locked->state().disabled);
        QCOMPARE(locked->text(QAccessible::Description), QStringLiteral("This simulator is running."));
        locked->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(model.selected().size(), std::size_t(1));

        details->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        auto* sheet = qobject_cast<quillet::ui::DetailSheet*>(QApplication::activeModalWidget());
        QVERIFY(sheet != nullptr);
        QCOMPARE(sheet->item().url, home() + "/Code/app/node_modules");
        sheet->reject();

        // Rows derived again are new rows: the old parts go.
        child<QLineEdit>(window, "search")->setText(QStringLiteral("tool"));
        QCOMPARE(list->childCount(), 1);
        QCOMPARE(list->child(0)->child(0)->text(QAccessible::Name), QStringLiteral("Select tool target"));
    }

    // The viewport's last Leave reaches the row delegate while the list is being destroyed.
    void theWindowClosesWithThePointerOverARow() {
        prepareItems();
        StorageModel model(m_home->setup());
        auto window = std::make_unique<ContentView>(model, &m_environment);
        window->resize(1100, 760);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        scanAndWait(model);
        auto* list = child<QListView>(*window, "results");
        auto* delegate = qobject_cast<quillet::ui::ItemDelegate*>(list->itemDelegate());
        QVERIFY(delegate);
        const auto layout = delegate->rowLayout(list->visualRect(window->results().index(0)));
        QTest::mouseMove(list->viewport(), layout.details.center());
        QVERIFY(list->viewport()->underMouse());
        window.reset();
    }
};

QTEST_MAIN(ContentViewTest)
#include "content_view_qtest.moc"
