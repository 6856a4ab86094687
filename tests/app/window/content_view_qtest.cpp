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
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/look/woodland_motion.h"
#include "app/model/storage_model.h"
#include "app/window/category_list.h"
#include "app/window/content_view.h"
#include "app/window/item_delegate.h"
#include "app/window/results_model.h"
#include "tests/app/window/window_fixture.h"

using namespace window_fixture;
using quillet::StorageModel;
using quillet::ui::ContentView;
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

    void theFirstScanShowsProgressOverAnEmptyList() {
        prepareItems();
        StorageModel model(m_home->setup());
        ContentView window(model, &m_environment);
        m_home->scan.hold();
        QTest::mouseClick(child<QPushButton>(window, "start-scan"), Qt::LeftButton);
        QVERIFY(model.busy());
        QCOMPARE(shownPage(window), QStringLiteral("results"));
        QCOMPARE(window.results().rowCount(), 0);
        QVERIFY(child<QProgressBar>(window, "progress")->isVisibleTo(&window));
        m_home->scan.release();
        QVERIFY(idle(model));
        QCOMPARE(window.results().rowCount(), 5);
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
            QCOMPARE(texts, (QStringList{"Reveal in Finder", "Keep this item"}));
            menu->actions().at(1)->trigger();
            menu->close();
        });
        QContextMenuEvent request(QContextMenuEvent::Mouse, onSecond, list->viewport()->mapToGlobal(onSecond));
        QApplication::sendEvent(list->viewport(), &request);
        QCOMPARE(model.kept(), (std::set<std::string>{home() + "/Code/tool/target"}));
        QVERIFY(model.selected().empty());  // keeping also deselects
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
