#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>

#include "app/look/environment.h"
#include "app/sheets/plan_sheet.h"
#include "tests/app/sheets/sheet_fixtures.h"
#include "tests/app/sheets/sheet_test_support.h"

using quillet::ui::PlanSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
using quillet::ui::testing::visibleInside;
namespace fixtures = quillet::ui::fixtures;

namespace {

const std::string kHome = "/home/robin";

QStringList texts(const QWidget& parent) {
    QStringList result;
    for (const QLabel* label : parent.findChildren<QLabel*>()) result << label->text();
    return result;
}

}  // namespace

class PlanSheetTest : public QObject {
    Q_OBJECT

private slots:
    // The plan's JSON, without the lines about kept items, as the only thing on the clipboard
    // however often it is copied; the sheet says so and stays open.
    void copyReplacesTheClipboardWithOnePlainTextCopy() {
        quillet::ui::Environment env;
        tarnby::CleanupPlan plan = fixtures::plan(kHome, 2, true);
        plan.kept = {"site / node_modules: Changed since the scan"};
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        auto* earlier = new QMimeData;
        earlier->setHtml(QStringLiteral("<b>earlier</b>"));
        earlier->setText(QStringLiteral("earlier"));
        QGuiApplication::clipboard()->setMimeData(earlier);
        auto* copied = sheet.findChild<QLabel*>(QStringLiteral("plan-copied"));
        QVERIFY(!copied->isVisible());

        auto* copy = sheet.findChild<QPushButton*>(QStringLiteral("copy-plan"));
        copy->click();
        copy->click();
        const QMimeData* now = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(now->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(now->text(), QString::fromStdString(plan.json()));
        QVERIFY(!now->text().contains(QStringLiteral("Changed")));
        QVERIFY(visibleInside(*copied, sheet) && !copied->text().isEmpty());
    }

    // Figured from the items behind the plan, which its JSON does not carry.
    void whatCleaningFreesIsSaidWhereItIsLessWithAboutForAnEstimate() {
        quillet::ui::Environment env;
        const tarnby::CleanupPlan plan = fixtures::plan(kHome, 2, false);  // 120 MB and 127.3 MB
        PlanSheet shared(plan, kHome, {91'300'000, true}, &env);
        QVERIFY(shared.findChild<QLabel*>(QStringLiteral("freed-line"))
                    ->text()
                    .startsWith(QStringLiteral("Frees about 91.3 MB of the 247.3 MB in this plan; ")));
        PlanSheet whole(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(whole.findChild<QLabel*>(QStringLiteral("freed-line")) == nullptr);
    }

    void entriesShowActionPathAndSize() {
        quillet::ui::Environment env;
        const tarnby::CleanupPlan plan = fixtures::plan(kHome, 2, true);
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        const QStringList shown = texts(sheet);
        QCOMPARE(shown.count(QStringLiteral("Would move this folder to Trash")), 2);
        QCOMPARE(shown.count(QStringLiteral("Would permanently erase this simulator")), 1);
        QVERIFY(shown.contains(QStringLiteral("Estimated on disk: 2.15 GB")));
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet), QStringList{});
        // The path under the home folder is shortened, the whole path its tip, and selectable.
        const QList<QLabel*> labels = sheet.findChildren<QLabel*>();
        const auto inside = std::find_if(labels.begin(), labels.end(), [](const QLabel* label) {
            return label->text() == QStringLiteral("~/Code/site-1/node_modules");
        });
        QVERIFY(inside != labels.end());
        QCOMPARE((*inside)->toolTip(), QStringLiteral("/home/robin/Code/site-1/node_modules"));
        QVERIFY((*inside)->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    }

    // An empty plan lists nothing and keeps its buttons in view; Return presses the focused
    // button, else closes the sheet.
    void anEmptyPlanAndTheReturnKey() {
        quillet::ui::Environment env;
        PlanSheet empty(tarnby::CleanupPlan{}, kHome, {}, &env);
        QVERIFY(openSheet(empty));
        QVERIFY(
            empty.findChild<QScrollArea*>(QStringLiteral("plan-items"))->widget()->findChildren<QLabel*>().isEmpty());
        QVERIFY(visibleInside(*empty.findChild<QWidget*>(QStringLiteral("plan-done")), empty));
        empty.reject();

        const tarnby::CleanupPlan plan = fixtures::plan(kHome, 1, false);
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        QSignalSpy finished(&sheet, &QDialog::finished);
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
        sheet.findChild<QPushButton*>(QStringLiteral("copy-plan"))->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(plan.json()));
        sheet.findChild<QScrollArea*>(QStringLiteral("plan-items"))->findChild<QLabel*>()->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(PlanSheetTest)
#include "plan_sheet_qtest.moc"
