#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include "app/model/storage_model.h"
#include "app/window/results_model.h"
#include "tests/app/window/window_fixture.h"

using namespace window_fixture;
using quillet::StorageModel;
using quillet::ui::ResultsModel;
using tarnby::StorageKind;

namespace {

QStringList titles(const ResultsModel& results) {
    QStringList out;
    for (int row = 0; row < results.rowCount(); ++row) out << results.index(row).data().toString();
    return out;
}

}  // namespace

class ResultsModelTest : public QObject {
    Q_OBJECT

    std::optional<Home> m_home;

    // Items under the fixture home, one outside it, one protected and one incompletely measured.
    void prepare() {
        const std::string home = m_home->path();
        auto locked =
            item(home + "/Library/Developer/CoreSimulator/Devices/A", "iPhone 15", StorageKind::simulators, 700);
        locked.protection = "This simulator is running.";
        auto partial = item(home + "/Library/Caches/Yarn", "Yarn cache", StorageKind::caches, 500, std::nullopt);
        partial.measurement.complete = false;
        m_home->scan.result.items = {
            item(home + "/Code/app/node_modules", "app node_modules", StorageKind::dependencies, 900),
            item("/opt/work/site/.next", "site .next", StorageKind::builds, 800, 5),
            locked,
            partial,
            item(home + "/Code/tool2/target", "tool2 target", StorageKind::builds, 300),
            item(home + "/Code/Tool10/target", "Tool10 target", StorageKind::builds, 300),
            item(home + "-old/cache", "old cache", StorageKind::caches, 100),
        };
    }

private slots:
    void init() {
        m_home.emplace();
        QVERIFY(m_home->folder.isValid());
        prepare();
    }

    void rowsFollowTheChoicesTheScanAndTheKeptSet() {
        StorageModel model(m_home->setup());
        ResultsModel results(model);
        QAbstractItemModelTester tester(&results, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(results.rowCount(), 0);

        model.scan();
        QVERIFY(idle(model));
        QCOMPARE(titles(results), (QStringList{"app node_modules", "site .next", "iPhone 15", "Yarn cache",
                                               "tool2 target", "Tool10 target", "old cache"}));

        tarnby::browsing::Choices choices;
        choices.category = "builds";
        choices.order = "name";
        results.setChoices(choices);
        QCOMPARE(titles(results), (QStringList{"site .next", "tool2 target", "Tool10 target"}));

        choices.category = "all";
        choices.order = "size";
        choices.query = "CODE/T";  // spans title and path, any case
        results.setChoices(choices);
        QCOMPARE(titles(results), (QStringList{"tool2 target", "Tool10 target"}));

        // Typing narrows the rows listed already; deleting widens again. Each step lists what a
        // fresh derivation lists.
        for (const char* typed : {"t", "ta", "TAR", "tar", "a", "", "o", "ol", "old c"}) {
            choices.query = typed;
            results.setChoices(choices);
            QStringList expected;
            for (const auto& listed :
                 tarnby::browsing::filtered(model.visibleItems(), choices, std::chrono::system_clock::now()))
                expected << QString::fromStdString(listed.title);
            QCOMPARE(titles(results), expected);
        }

        choices.query.clear();
        choices.age = 30;  // the 5-day-old and the undated items drop out
        results.setChoices(choices);
        QCOMPARE(titles(results),
                 (QStringList{"app node_modules", "iPhone 15", "tool2 target", "Tool10 target", "old cache"}));

        // Keeping drops the row at once; the snapshot the window totals from follows.
        model.keep(m_home->path() + "/Code/tool2/target");
        QCOMPARE(titles(results), (QStringList{"app node_modules", "iPhone 15", "Tool10 target", "old cache"}));
        QCOMPARE(results.visibleItems()->positions.size(), std::size_t(6));
    }

    // What the row delegate paints, paths shortened against the model's home folder.
    void rowsShowShortenedPathsSizesAndDates() {
        StorageModel model(m_home->setup());
        ResultsModel results(model);
        model.scan();
        QVERIFY(idle(model));
        const QModelIndex first = results.index(0);
        QCOMPARE(first.data(ResultsModel::DisplayPathRole).toString(), QStringLiteral("~/Code/app/node_modules"));
        QCOMPARE(first.data(ResultsModel::PathRole).toString(),
                 QString::fromStdString(m_home->path() + "/Code/app/node_modules"));
        QCOMPARE(first.data(ResultsModel::SizeTextRole).toString(), QStringLiteral("900 bytes"));
        QCOMPARE(first.data(ResultsModel::KindRole).toInt(), static_cast<int>(StorageKind::dependencies));
        QCOMPARE(results.index(3).data(ResultsModel::ChangedLineRole).toString(),
                 QStringLiteral("Change date unknown"));
    }

    void checkboxesFollowTheSelectionAndOnlySelectableRowsToggle() {
        StorageModel model(m_home->setup());
        ResultsModel results(model);
        QAbstractItemModelTester tester(&results, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.scan();
        QVERIFY(idle(model));
        QSignalSpy resets(&results, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&results, &QAbstractItemModel::dataChanged);

        const QModelIndex first = results.index(0);
        QVERIFY(first.flags().testFlag(Qt::ItemIsUserCheckable));
        QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
        QVERIFY(results.setData(first, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.selected(), (std::set<std::string>{m_home->path() + "/Code/app/node_modules"}));
        QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
        // A selection change repaints the check column only; the rows stay.
        QCOMPARE(resets.count(), 0);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.first().at(2).value<QList<int>>(), QList<int>{Qt::CheckStateRole});

        // The protected and the incompletely measured rows cannot be ticked.
        for (int row : {2, 3}) {
            const QModelIndex locked = results.index(row);
            QVERIFY(!locked.flags().testFlag(Qt::ItemIsUserCheckable));
            QVERIFY(!locked.data(ResultsModel::SelectableRole).toBool());
            QVERIFY(!results.setData(locked, Qt::Checked, Qt::CheckStateRole));
        }
        QCOMPARE(model.selected().size(), std::size_t(1));

        QVERIFY(results.setData(first, Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(model.selected().empty());
        // Copies, not references: the item outlives a change of the list it came from.
        const auto copy = results.itemAt(0);
        model.keep(copy->url);
        QCOMPARE(copy->title, std::string("app node_modules"));
        QVERIFY(!results.itemAt(99));
    }

    void aBusyModelDisablesEveryRow() {
        StorageModel model(m_home->setup());
        ResultsModel results(model);
        model.scan();
        QVERIFY(idle(model));
        QVERIFY(results.anySelectable());

        // The previous result stays listed, but nothing in it can be used.
        m_home->scan.hold();
        model.scan();
        QCOMPARE(results.rowCount(), 7);
        QVERIFY(!results.index(0).flags().testFlag(Qt::ItemIsEnabled));
        QVERIFY(!results.setData(results.index(0), Qt::Checked, Qt::CheckStateRole));
        m_home->scan.release();
        QVERIFY(idle(model));
        QVERIFY(results.index(0).flags().testFlag(Qt::ItemIsEnabled));
    }
};

QTEST_GUILESS_MAIN(ResultsModelTest)
#include "results_model_qtest.moc"
