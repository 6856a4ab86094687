#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <vector>

#include "app/look/environment.h"
#include "app/sheets/review_sheet.h"
#include "tests/app/sheets/sheet_fixtures.h"
#include "tests/app/sheets/sheet_test_support.h"
#include "tests/support/contrast.h"

using quillet::ui::ReviewSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
namespace fixtures = quillet::ui::fixtures;

namespace {

const std::string kHome = "/home/robin";

// Every call the sheet makes to its callback.
struct Calls {
    std::vector<bool> flags;
    std::function<void(bool)> callback() {
        return [this](bool acknowledged) { flags.push_back(acknowledged); };
    }
};

}  // namespace

class ReviewSheetTest : public QObject {
    Q_OBJECT

private slots:
    // Folders only, or nothing at all: no acknowledgement, and confirming says so.
    void foldersOnlyNeedNoAcknowledgementAndConfirmWithFalse() {
        quillet::ui::Environment env;
        using Items = std::vector<tarnby::StorageItem>;
        for (const Items& items : {Items{fixtures::folder(kHome, "site"), fixtures::folder(kHome, "api")}, Items{}}) {
            Calls calls;
            ReviewSheet sheet(items, calls.callback(), &env);
            QVERIFY(openSheet(sheet));
            QVERIFY(sheet.findChild<QCheckBox*>(QStringLiteral("erase-ack")) == nullptr);
            QCOMPARE(sheet.findChild<QScrollArea*>(QStringLiteral("review-items"))
                             ->widget()
                             ->findChildren<QLabel*>()
                             .size() > 0,
                     !items.empty());
            QSignalSpy finished(&sheet, &QDialog::finished);
            sheet.findChild<QPushButton*>(QStringLiteral("confirm-cleanup"))->click();
            QCOMPARE(calls.flags, std::vector<bool>{false});
            QCOMPARE(finished.count(), 1);
        }
    }

    // A store and a project sharing hard links: each alone frees little, both together nearly all.
    void whatCleaningFreesIsSaidOnlyWhereItIsLess() {
        quillet::ui::Environment env;
        const std::vector<tarnby::StorageItem> pair = fixtures::sharedPair(kHome);
        const auto line = [&](std::vector<tarnby::StorageItem> items) {
            ReviewSheet sheet(std::move(items), {}, &env);
            auto* label = sheet.findChild<QLabel*>(QStringLiteral("freed-line"));
            return label ? label->text() : QString();
        };
        QVERIFY(line(pair).startsWith(QStringLiteral("Frees 91.3 MB of the 180.6 MB selected")));
        QVERIFY(line({pair[1]}).startsWith(QStringLiteral("Frees 400 KB of the 89.7 MB selected")));
        QCOMPARE(line({fixtures::folder(kHome, "site"), fixtures::folder(kHome, "api")}), QString());
    }

    void simulatorsGateConfirmOnTheAcknowledgement() {
        quillet::ui::Environment env;
        Calls calls;
        ReviewSheet sheet({fixtures::folder(kHome, "site"), fixtures::simulator(kHome, "iPhone 15", false)},
                          calls.callback(), &env);
        QVERIFY(openSheet(sheet));
        auto* acknowledgement = sheet.findChild<QCheckBox*>(QStringLiteral("erase-ack"));
        auto* confirm = sheet.findChild<QPushButton*>(QStringLiteral("confirm-cleanup"));
        QVERIFY(acknowledgement != nullptr && acknowledgement->isVisible() && !acknowledgement->isChecked());
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet), QStringList{});
        // Its box stands out from the sheet, in the dark appearance too.
        env.setAppearance(quillet::ui::Appearance::dark);
        const QImage shown = sheet.grab().toImage();
        const QRect box(acknowledgement->mapTo(&sheet, QPoint(0, 0)), acknowledgement->size());
        QVERIFY(quillet::testing::strongestContrast(shown, box, shown.pixelColor(box.left() - 3, box.center().y())) >=
                3);
        env.setAppearance(quillet::ui::Appearance::light);
        QVERIFY(!confirm->isEnabled());
        // And it looks disabled: its label is drawn dimmer than an enabled one.
        QVERIFY(confirm->palette().color(QPalette::Disabled, QPalette::ButtonText).alpha() <
                confirm->palette().color(QPalette::Active, QPalette::ButtonText).alpha());

        confirm->click();  // disabled: nothing happens
        QVERIFY(calls.flags.empty());
        QVERIFY(sheet.isVisible());

        // Clicking the wrapped text ticks the box too.
        auto* text = qobject_cast<QWidget*>(acknowledgement->parent())->findChild<QLabel*>();
        QTest::mouseClick(text->parentWidget(), Qt::LeftButton, {}, text->geometry().center());
        QVERIFY(acknowledgement->isChecked());
        QVERIFY(confirm->isEnabled());
        acknowledgement->click();
        QVERIFY(!confirm->isEnabled());
        QTest::keyClick(acknowledgement, Qt::Key_Space);
        QVERIFY(acknowledgement->isChecked());
        QVERIFY(confirm->isEnabled());

        confirm->click();
        QCOMPARE(calls.flags, std::vector<bool>{true});
        QVERIFY(!sheet.isVisible());
    }

    void escapeAndCancelCloseWithoutCallingBack() {
        quillet::ui::Environment env;
        Calls calls;
        ReviewSheet sheet({fixtures::simulator(kHome, "iPhone 15", false)}, calls.callback(), &env);
        QVERIFY(openSheet(sheet));
        sheet.findChild<QCheckBox*>(QStringLiteral("erase-ack"))->setChecked(true);
        QSignalSpy finished(&sheet, &QDialog::finished);
        press(sheet, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QVERIFY(!sheet.isVisible());

        QVERIFY(openSheet(sheet));
        sheet.findChild<QPushButton*>(QStringLiteral("cleanup-cancel"))->click();
        QVERIFY(!sheet.isVisible());
        QVERIFY(calls.flags.empty());
    }

    // The window may drop the sheet as soon as the plan starts.
    void aCallbackThatDeletesTheSheetIsSafe() {
        quillet::ui::Environment env;
        int calls = 0;
        QPointer<ReviewSheet> sheet;
        sheet = new ReviewSheet(
            {fixtures::folder(kHome, "site")},
            [&](bool) {
                ++calls;
                delete sheet.data();
            },
            &env);
        sheet->findChild<QPushButton*>(QStringLiteral("confirm-cleanup"))->click();
        QCOMPARE(calls, 1);
        QVERIFY(sheet.isNull());
    }

    void aLongListScrollsWhileTextsAndButtonsStayVisible() {
        quillet::ui::Environment env;
        std::vector<tarnby::StorageItem> items;
        for (int i = 0; i < 40; ++i) {
            items.push_back(fixtures::folder(kHome, "project-" + std::to_string(i)));
        }
        items.push_back(fixtures::simulator(kHome, "iPad Air", false));
        ReviewSheet sheet(items, nullptr, &env);
        QVERIFY(openSheet(sheet));
        auto* list = sheet.findChild<QScrollArea*>(QStringLiteral("review-items"));
        QVERIFY(list->height() <= ReviewSheet::kListMaximumHeight);
        QVERIFY(list->height() >= ReviewSheet::kListMaximumHeight - 1);
        QVERIFY(list->verticalScrollBar()->maximum() > 0);
        QVERIFY(sheet.height() < 800);
        for (const char* name : {"erase-ack", "cleanup-cancel", "confirm-cleanup"}) {
            auto* control = sheet.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(quillet::ui::testing::visibleInside(*control, sheet), name);
        }
        // Scrolled to the end, the last item is in view.
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        const QList<QLabel*> labels = list->widget()->findChildren<QLabel*>();
        auto last = std::find_if(labels.begin(), labels.end(),
                                 [](QLabel* label) { return label->text() == QStringLiteral("iPad Air"); });
        QVERIFY(last != labels.end());
        const QPoint top = (*last)->mapTo(list->viewport(), QPoint(0, 0));
        QVERIFY(list->viewport()->rect().contains(QRect(top, (*last)->size())));
    }
};

QTEST_MAIN(ReviewSheetTest)
#include "review_sheet_qtest.moc"
