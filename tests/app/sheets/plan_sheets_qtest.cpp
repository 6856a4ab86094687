// The two sheets around a preview plan: the review before it is made and the plan itself.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "app/look/environment.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "tests/app/fixture.h"
#include "tests/support/contrast.h"

using namespace fixture;
using quillet::ui::PlanSheet;
using quillet::ui::ReviewSheet;
using Items = std::vector<tarnby::StorageItem>;

namespace {

const std::string kHome = "/home/robin";

template <typename Widget = QWidget>
Widget* part(const QWidget& sheet, const char* name) {
    return sheet.findChild<Widget*>(QString::fromLatin1(name));
}

QString freedLine(const QWidget& sheet) {
    auto* label = part<QLabel>(sheet, "freed-line");
    return label ? label->text() : QString();
}

}  // namespace

class PlanSheetsTest : public QObject {
    Q_OBJECT

    quillet::ui::Environment m_env;
    std::vector<bool> m_calls;  // every acknowledgement flag the review sheet called back with
    std::function<void(bool)> callback() {
        m_calls.clear();
        return [this](bool acknowledged) { m_calls.push_back(acknowledged); };
    }

private slots:
    void init() { m_env.setAppearance(quillet::ui::Appearance::light); }

    // Folders only, or nothing at all: no acknowledgement, and confirming says so.
    void foldersOnlyNeedNoAcknowledgementAndConfirmWithFalse() {
        for (const Items& items : {Items{folder(kHome, "site"), folder(kHome, "api")}, Items{}}) {
            ReviewSheet sheet(items, callback(), &m_env);
            QVERIFY(openSheet(sheet));
            QVERIFY(part(sheet, "erase-ack") == nullptr);
            QCOMPARE(part<QScrollArea>(sheet, "review-items")->widget()->findChildren<QLabel*>().isEmpty(),
                     items.empty());
            QSignalSpy finished(&sheet, &QDialog::finished);
            part<QPushButton>(sheet, "confirm-cleanup")->click();
            QCOMPARE(m_calls, std::vector<bool>{false});
            QCOMPARE(finished.count(), 1);
        }
    }

    // What cleaning frees is said only where it is less than the items take: a store and a project
    // sharing hard links each free little alone and nearly all together. The plan sheet figures it
    // from the items behind the plan, which its JSON does not carry.
    void whatCleaningFreesIsSaidOnlyWhereItIsLess() {
        const Items pair = sharedPair(kHome);
        QVERIFY(freedLine(ReviewSheet(pair, {}, &m_env))
                    .startsWith(QStringLiteral("Frees 91.3 MB of the 180.6 MB selected")));
        QVERIFY(freedLine(ReviewSheet({pair[1]}, {}, &m_env))
                    .startsWith(QStringLiteral("Frees 400 KB of the 89.7 MB selected")));
        QCOMPARE(freedLine(ReviewSheet({folder(kHome, "site"), folder(kHome, "api")}, {}, &m_env)), QString());

        const tarnby::CleanupPlan plan = fixture::plan(kHome, 2, false);  // 120 MB and 127.3 MB
        QVERIFY(freedLine(PlanSheet(plan, kHome, {91'300'000, true}, &m_env))
                    .startsWith(QStringLiteral("Frees about 91.3 MB of the 247.3 MB in this plan; ")));
        QCOMPARE(freedLine(PlanSheet(plan, kHome, freedAll(plan), &m_env)), QString());
    }

    void simulatorsGateConfirmOnTheAcknowledgement() {
        ReviewSheet sheet({folder(kHome, "site"), simulator(kHome, "iPhone 15", false)}, callback(), &m_env);
        QVERIFY(openSheet(sheet));
        auto* acknowledgement = part<QCheckBox>(sheet, "erase-ack");
        auto* confirm = part<QPushButton>(sheet, "confirm-cleanup");
        QVERIFY(acknowledgement != nullptr && acknowledgement->isVisible() && !acknowledgement->isChecked());
        QCOMPARE(unnamedControls(sheet), QStringList{});
        // Its box stands out from the sheet, in the dark appearance too.
        m_env.setAppearance(quillet::ui::Appearance::dark);
        const QImage shown = sheet.grab().toImage();
        const QRect box(acknowledgement->mapTo(&sheet, QPoint(0, 0)), acknowledgement->size());
        QVERIFY(quillet::testing::strongestContrast(shown, box, shown.pixelColor(box.left() - 3, box.center().y())) >=
                3);
        // Confirm is off, and looks it: its label is drawn dimmer than an enabled one.
        QVERIFY(!confirm->isEnabled());
        QVERIFY(confirm->palette().color(QPalette::Disabled, QPalette::ButtonText).alpha() <
                confirm->palette().color(QPalette::Active, QPalette::ButtonText).alpha());
        confirm->click();
        QVERIFY(m_calls.empty() && sheet.isVisible());

        // Clicking the wrapped text ticks the box too.
        auto* text = qobject_cast<QWidget*>(acknowledgement->parent())->findChild<QLabel*>();
        QTest::mouseClick(text->parentWidget(), Qt::LeftButton, {}, text->geometry().center());
        QVERIFY(acknowledgement->isChecked() && confirm->isEnabled());
        acknowledgement->click();
        QVERIFY(!confirm->isEnabled());
        QTest::keyClick(acknowledgement, Qt::Key_Space);
        QVERIFY(acknowledgement->isChecked() && confirm->isEnabled());
        confirm->click();
        QCOMPARE(m_calls, std::vector<bool>{true});
        QVERIFY(!sheet.isVisible());
    }

    void escapeAndCancelCloseWithoutCallingBack() {
        ReviewSheet sheet({simulator(kHome, "iPhone 15", false)}, callback(), &m_env);
        QVERIFY(openSheet(sheet));
        part<QCheckBox>(sheet, "erase-ack")->setChecked(true);
        QSignalSpy finished(&sheet, &QDialog::finished);
        press(sheet, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QVERIFY(!sheet.isVisible());
        QVERIFY(openSheet(sheet));
        part<QPushButton>(sheet, "cleanup-cancel")->click();
        QVERIFY(!sheet.isVisible() && m_calls.empty());

        // The window may drop the sheet as soon as the plan starts.
        QPointer<ReviewSheet> dropped;
        dropped = new ReviewSheet(
            {folder(kHome, "site")}, [&](bool) { delete dropped.data(); }, &m_env);
        part<QPushButton>(*dropped, "confirm-cleanup")->click();
        QVERIFY(dropped.isNull());
    }

    void aLongReviewScrollsWhileTextsAndButtonsStayVisible() {
        Items items;
        for (int i = 0; i < 40; ++i) items.push_back(folder(kHome, "project-" + std::to_string(i)));
        items.push_back(simulator(kHome, "iPad Air", false));
        ReviewSheet sheet(items, nullptr, &m_env);
        QVERIFY(openSheet(sheet));
        auto* list = part<QScrollArea>(sheet, "review-items");
        QVERIFY(list->height() <= ReviewSheet::kListMaximumHeight &&
                list->height() >= ReviewSheet::kListMaximumHeight - 1);
        QVERIFY(list->verticalScrollBar()->maximum() > 0);
        QVERIFY(sheet.height() < 800);
        for (const char* name : {"erase-ack", "cleanup-cancel", "confirm-cleanup"}) {
            QVERIFY2(visibleInside(*part(sheet, name), sheet), name);
        }
        // Scrolled to the end, the last item is in view.
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        const QList<QLabel*> labels = list->widget()->findChildren<QLabel*>();
        auto last = std::find_if(labels.begin(), labels.end(), [](QLabel* l) { return l->text() == "iPad Air"; });
        QVERIFY(last != labels.end());
        QVERIFY(
            list->viewport()->rect().contains(QRect((*last)->mapTo(list->viewport(), QPoint(0, 0)), (*last)->size())));
    }

    // The plan's JSON, without the lines about kept items, as the only thing on the clipboard
    // however often it is copied; the sheet says so and stays open.
    void copyReplacesTheClipboardWithOnePlainTextCopy() {
        tarnby::CleanupPlan plan = fixture::plan(kHome, 2, true);
        plan.kept = {"site / node_modules: Changed since the scan"};
        PlanSheet sheet(plan, kHome, freedAll(plan), &m_env);
        QVERIFY(openSheet(sheet));
        auto* earlier = new QMimeData;
        earlier->setHtml(QStringLiteral("<b>earlier</b>"));
        earlier->setText(QStringLiteral("earlier"));
        QGuiApplication::clipboard()->setMimeData(earlier);
        auto* copied = part<QLabel>(sheet, "plan-copied");
        QVERIFY(!copied->isVisible());
        part<QPushButton>(sheet, "copy-plan")->click();
        part<QPushButton>(sheet, "copy-plan")->click();
        const QMimeData* now = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(now->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(now->text(), QString::fromStdString(plan.json()));
        QVERIFY(!now->text().contains(QStringLiteral("Changed")));
        QVERIFY(visibleInside(*copied, sheet) && !copied->text().isEmpty());
    }

    void planEntriesShowActionPathAndSize() {
        const tarnby::CleanupPlan plan = fixture::plan(kHome, 2, true);
        PlanSheet sheet(plan, kHome, freedAll(plan), &m_env);
        QVERIFY(openSheet(sheet));
        QStringList shown;
        for (const QLabel* label : sheet.findChildren<QLabel*>()) shown << label->text();
        QCOMPARE(shown.count(QStringLiteral("Would move this folder to Trash")), 2);
        QCOMPARE(shown.count(QStringLiteral("Would permanently erase this simulator")), 1);
        QVERIFY(shown.contains(QStringLiteral("Estimated on disk: 2.15 GB")));
        QCOMPARE(unnamedControls(sheet), QStringList{});
        // The path under the home folder is shortened, the whole path its tip, and selectable.
        const QLabel* inside =
            sheet.findChildren<QLabel*>()[shown.indexOf(QStringLiteral("~/Code/site-1/node_modules"))];
        QCOMPARE(inside->toolTip(), QStringLiteral("/home/robin/Code/site-1/node_modules"));
        QVERIFY(inside->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    }

    // An empty plan lists nothing and keeps its buttons in view; Return presses the focused
    // button, else closes the sheet.
    void anEmptyPlanAndTheReturnKey() {
        PlanSheet empty(tarnby::CleanupPlan{}, kHome, {}, &m_env);
        QVERIFY(openSheet(empty));
        QVERIFY(part<QScrollArea>(empty, "plan-items")->widget()->findChildren<QLabel*>().isEmpty());
        QVERIFY(visibleInside(*part(empty, "plan-done"), empty));
        empty.reject();

        const tarnby::CleanupPlan plan = fixture::plan(kHome, 1, false);
        PlanSheet sheet(plan, kHome, freedAll(plan), &m_env);
        QVERIFY(openSheet(sheet));
        QSignalSpy finished(&sheet, &QDialog::finished);
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
        part(sheet, "copy-plan")->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(plan.json()));
        part<QScrollArea>(sheet, "plan-items")->findChild<QLabel*>()->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(PlanSheetsTest)
#include "plan_sheets_qtest.moc"
