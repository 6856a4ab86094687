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
#include "core/browsing/result_browsing.h"
#include "tests/app/sheets/sheet_fixtures.h"
#include "tests/app/sheets/sheet_test_support.h"

using quillet::ui::PlanSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
namespace fixtures = quillet::ui::fixtures;

namespace {

const std::string kHome = "/home/robin";

QStringList texts(const QWidget& parent) {
    QStringList result;
    for (const QLabel* label : parent.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            result << label->text();
        }
    }
    return result;
}

const QLabel* labelWithText(const QWidget& parent, const QString& text) {
    for (const QLabel* label : parent.findChildren<QLabel*>()) {
        if (label->text() == text) {
            return label;
        }
    }
    return nullptr;
}

}  // namespace

class PlanSheetTest : public QObject {
    Q_OBJECT

private slots:
    void copyReplacesTheClipboardWithOnePlainTextCopy() {
        quillet::ui::Environment env;
        const tarnby::CleanupPlan plan = fixtures::plan(kHome, 2, true);
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));

        auto* earlier = new QMimeData;
        earlier->setHtml(QStringLiteral("<b>earlier</b>"));
        earlier->setText(QStringLiteral("earlier"));
        QGuiApplication::clipboard()->setMimeData(earlier);

        auto* copy = sheet.findChild<QPushButton*>(QStringLiteral("copy-plan"));
        QCOMPARE(copy->text(), QStringLiteral("Copy plan as JSON"));
        copy->click();
        copy->click();
        const QMimeData* now = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(now->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(now->text(), QString::fromStdString(plan.json()));
        QVERIFY(now->text().startsWith(QStringLiteral("[\n  {\n    \"estimatedBytes\" : ")));
        QVERIFY(sheet.isVisible());  // copying shows nothing and closes nothing
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
        tarnby::CleanupPlan plan = fixtures::plan(kHome, 1, true);
        // Paths the "~" rule must leave alone: home itself and a sibling sharing its first letters.
        plan.items.push_back({kHome, "home", tarnby::PlannedOperation::moveFolderToTrash, 1});
        plan.items.push_back({kHome + "son/site/.next", "robinson", tarnby::PlannedOperation::moveFolderToTrash, 2});
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        const QStringList shown = texts(sheet);
        QCOMPARE(shown.count(QStringLiteral("Would move this folder to Trash")), 3);
        QCOMPARE(shown.count(QStringLiteral("Would permanently erase this simulator")), 1);
        QVERIFY(shown.contains(QStringLiteral("Estimated on disk: 120 MB")));
        QVERIFY(shown.contains(QStringLiteral("Estimated on disk: 2.15 GB")));
        QVERIFY(shown.contains(QStringLiteral("Preview only. Nothing changed.")));
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet), QStringList{});

        const QLabel* inside = labelWithText(sheet, QStringLiteral("~/Code/site-1/node_modules"));
        QVERIFY(inside != nullptr);
        QCOMPARE(inside->toolTip(), QStringLiteral("/home/robin/Code/site-1/node_modules"));
        QVERIFY(inside->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(inside->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        // The edge cases go through the shared rule, whatever it decides.
        for (const std::string& path : {kHome, kHome + "son/site/.next"}) {
            const QString expected = QString::fromStdString(tarnby::browsing::displayPath(path, kHome));
            const QLabel* label = labelWithText(sheet, expected);
            QVERIFY2(label != nullptr, path.c_str());
            QCOMPARE(label->toolTip(), QString::fromStdString(path));
        }
    }

    void anEmptyPlanShowsTextsButtonsAndCopiesItsJson() {
        quillet::ui::Environment env;
        tarnby::CleanupPlan plan;
        plan.kept = {"site / node_modules: Changed since the scan"};
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        QVERIFY(
            sheet.findChild<QScrollArea*>(QStringLiteral("plan-items"))->widget()->findChildren<QLabel*>().isEmpty());
        QVERIFY(quillet::ui::testing::visibleInside(*sheet.findChild<QWidget*>(QStringLiteral("plan-done")), sheet));
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
        auto* copied = sheet.findChild<QLabel*>(QStringLiteral("plan-copied"));
        QVERIFY(!copied->isVisible());
        sheet.findChild<QPushButton*>(QStringLiteral("copy-plan"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(plan.json()));
        QVERIFY(!QGuiApplication::clipboard()->text().contains(QStringLiteral("Changed")));
        // It says so, in the sheet.
        QVERIFY(quillet::ui::testing::visibleInside(*copied, sheet));
        QCOMPARE(copied->text(), QStringLiteral("Copied the plan to the clipboard as JSON."));
    }

    void returnPressesTheFocusedButtonElseCloses() {
        quillet::ui::Environment env;
        const tarnby::CleanupPlan plan = fixtures::plan(kHome, 1, false);
        PlanSheet sheet(plan, kHome, fixtures::freedAll(plan), &env);
        QVERIFY(openSheet(sheet));
        QSignalSpy finished(&sheet, &QDialog::finished);
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
        sheet.findChild<QPushButton*>(QStringLiteral("copy-plan"))->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(fixtures::plan(kHome, 1, false).json()));
        sheet.findChild<QScrollArea*>(QStringLiteral("plan-items"))->findChild<QLabel*>()->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(PlanSheetTest)
#include "plan_sheet_qtest.moc"
