// The sheets the window opens: an item's details, the project locations, the review and the plan.
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSemaphore>
#include <QTest>
#include <QToolButton>

#include <functional>

#include "app/look/environment.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/locations_sheet.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"
#include "core/scanning/project_locations.h"
#include "tests/app/fixture.h"
#include "tests/support/contrast.h"

using namespace fixture;
using quillet::ui::DetailSheet;
using quillet::ui::LocationsSheet;
using quillet::ui::PlanSheet;
using quillet::ui::ReviewSheet;
using Items = std::vector<tarnby::StorageItem>;
using Paths = std::vector<std::string>;

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

// The labelled values in order, as "label=value".
QStringList values(const DetailSheet& sheet) {
    auto* grid = part<QGridLayout>(sheet, "detail-values");
    const auto text = [grid](int row, int column) {
        return qobject_cast<QLabel*>(grid->itemAtPosition(row, column)->widget())->text();
    };
    QStringList rows;
    for (int row = 0; row < grid->rowCount(); ++row) {
        rows << (grid->itemAtPosition(row, 0) ? text(row, 0) + QLatin1Char('=') + text(row, 1) : "(empty row)");
    }
    return rows;
}

QString when(const std::optional<tarnby::TimePoint>& at) {
    return QString::fromStdString(tarnby::formatting::date(*at, true));
}

}  // namespace

class SheetsTest : public QObject {
    Q_OBJECT

    std::optional<Home> m_home;
    std::optional<quillet::StorageModel> m_model;
    std::optional<quillet::ui::Environment> m_env;
    std::optional<LocationsSheet> m_sheet;
    std::string home() const { return m_home->path(); }
    quillet::ui::Environment* env() { return &*m_env; }
    std::string at(const char* relative) const { return m_home->path() + "/" + relative; }
    void makeDir(const char* relative) const { QVERIFY(QDir().mkpath(QString::fromStdString(at(relative)))); }
    // The folder the test made, as the chooser hands it over: links resolved.
    std::string resolved(const char* relative) const {
        return QDir(m_home->folder.path()).canonicalPath().toStdString() + "/" + relative;
    }
    LocationsSheet& locations() { return m_sheet ? *m_sheet : m_sheet.emplace(*m_model, env()); }
    QToolButton* remove(int position) {
        return locations().findChild<QToolButton*>(QStringLiteral("remove-root-%1").arg(position));
    }
    QPushButton* button(const char* name) { return locations().findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString removeName(const char* relative) { return QString::fromStdString("Remove " + at(relative)); }
    // Suggestions wait for the test's release (at most 10 s, so a failing test cannot hang the pool).
    void suggest(QSemaphore& release, std::function<Paths(const std::string&)> suggested) {
        locations().setSuggester([&release, suggested](const std::string& home) {
            release.tryAcquire(1, 10000);
            return suggested(home);
        });
    }

    std::vector<bool> m_calls;  // every acknowledgement flag the review sheet called back with
    std::function<void(bool)> callback() {
        m_calls.clear();
        return [this](bool acknowledged) { m_calls.push_back(acknowledged); };
    }

private slots:
    // A model of a fixture home that lists two projects' node_modules and has three roots.
    void init() {
        QVERIFY(m_home.emplace().folder.isValid());
        m_home->scan.result.items = {folder(home(), "site"), folder(home(), "api")};
        m_model.emplace(m_home->setup());
        m_model->scan();
        QVERIFY(idle(*m_model));
        m_model->save(Paths{at("alpha"), at("beta"), at("gamma")});
        m_env.emplace();
    }
    void cleanup() {
        m_sheet.reset();
        m_model.reset();
    }

    // A row for what cleaning alone frees only where that differs, a boot row only for a
    // simulator, a word for a date that is not known, and why an item cannot be selected (which
    // reason is the core's: one case stands for all).
    void theValuesFollowTheItem() {
        tarnby::StorageItem undated = folder(home(), "site");
        undated.measurement.modified.reset();
        const tarnby::StorageItem shared = sharedPair(home())[1];
        const tarnby::StorageItem booted = simulator(home(), "iPhone 15", true);
        const tarnby::StorageItem neverBooted = simulator(home(), "iPhone 15", false, false);
        const auto files = [](int n) { return "Files=" + QString::fromStdString(tarnby::formatting::integer(n)); };
        const QString folderFiles = files(48'213), simulatorFiles = files(9'120);
        const QString simulatorChanged = "Last changed=" + when(booted.measurement.modified);
        const std::pair<tarnby::StorageItem, QStringList> cases[] = {
            {undated, {"Estimated on disk=734 MB", folderFiles, "Last changed=Unknown"}},
            {shared,
             {"Estimated on disk=89.7 MB", folderFiles, "Last changed=" + when(shared.measurement.modified),
              "Frees if cleaned alone=400 KB"}},
            {booted,
             {"Estimated on disk=2.15 GB", simulatorFiles, simulatorChanged,
              "Last boot (metadata)=" + when(booted.lastBoot)}},
            {neverBooted,
             {"Estimated on disk=2.15 GB", simulatorFiles, simulatorChanged, "Last boot (metadata)=Not recorded"}},
        };
        for (const auto& [item, expected] : cases) {
            DetailSheet sheet(item, *m_model, env());
            QCOMPARE(values(sheet), expected);
            // The command to recreate it, selectable for copying.
            auto* rebuild = part<QLabel>(sheet, "detail-rebuild");
            QVERIFY(rebuild->text() == QString::fromStdString(item.rebuild) &&
                    rebuild->textInteractionFlags() & Qt::TextSelectableByKeyboard);
            const bool simulator = item.kind == tarnby::StorageKind::simulators;
            QCOMPARE(part<QLabel>(sheet, "device-note") != nullptr, simulator);
            QCOMPARE(part<QLabel>(sheet, "detail-shared") != nullptr, &item == &cases[1].first);
            auto* reason = part<quillet::ui::SymbolLabel>(sheet, "detail-protection");
            QCOMPARE(reason ? reason->text()->text() : QString(),
                     QString::fromStdString(tarnby::browsing::unselectableReason(item).value_or("")));
        }
    }

    // Each child by name and size, largest first; nothing for an item without children.
    void whatTakesTheSpace() {
        const tarnby::StorageItem project = sharedPair(home())[1];
        DetailSheet sheet(project, *m_model, env());
        auto* grid = qobject_cast<QGridLayout*>(part<QWidget>(sheet, "detail-largest")->layout());
        QCOMPARE(grid->rowCount(), int(project.measurement.largest.size()));
        for (int row = 0; row < grid->rowCount(); ++row) {
            const tarnby::ChildBytes& child = project.measurement.largest[std::size_t(row)];
            auto* name = qobject_cast<quillet::ui::ElidedLabel*>(grid->itemAtPosition(row, 0)->widget());
            QCOMPARE(name->fullText() + " " + qobject_cast<QLabel*>(grid->itemAtPosition(row, 2)->widget())->text(),
                     QString::fromStdString(child.name + " " + tarnby::formatting::byteCount(child.bytes)));
        }
        QVERIFY(!DetailSheet(folder(home(), "site"), *m_model, env()).findChild<QWidget*>("detail-largest"));
    }

    void keepClosesAndTheItemLeavesTheListAtOnce() {
        // Handed a reference into the model's own list, which keep() rebuilds.
        DetailSheet sheet(m_model->visibleItems().front(), *m_model, env());
        const std::string kept = sheet.item().url;
        QVERIFY(openSheet(sheet));
        part<QPushButton>(sheet, "detail-keep")->click();
        QVERIFY(!sheet.isVisible() && sheet.item().url == kept);
        QCOMPARE(m_model->kept(), std::set<std::string>{kept});
        QVERIFY(m_model->visibleItems().size() == 1 && m_model->visibleItems().front().url != kept);
    }

    void revealLeavesTheSheetOpenAndSaysWhenNothingAnswered() {
        const tarnby::StorageItem item = folder(home(), "site");
        DetailSheet sheet(item, *m_model, env());
        std::vector<std::string> revealed;
        std::function<void()> unanswered;
        sheet.setReveal([&](const std::string& path, std::function<void()> failed) {
            revealed.push_back(path);
            unanswered = std::move(failed);
        });
        QVERIFY(openSheet(sheet));
        part<QPushButton>(sheet, "detail-reveal")->click();
        QCOMPARE(revealed, std::vector<std::string>{item.url});
        auto* notice = part<QLabel>(sheet, "notice");
        QVERIFY(sheet.isVisible() && !notice->isVisible());
        unanswered();
        QVERIFY(!notice->text().isEmpty() && visibleInside(*notice, sheet));
    }

    // Removing edits a draft: Cancel or Escape drop it, and the sheet shown again starts from the
    // roots; the remove buttons follow the positions; Return presses the focused button, and with
    // the keyboard on no button it saves. Tab follows the screen.
    void theDraftIsSavedOnlyBySave() {
        const Paths roots = m_model->roots();
        for (const Qt::Key key : {Qt::Key_unknown, Qt::Key_Escape}) {
            QVERIFY(openSheet(locations()));
            QCOMPARE(locations().draft(), roots);
            for (int i = 0; i < 3; ++i) remove(0)->click();
            QVERIFY(locations().draft().empty());
            key == Qt::Key_Escape ? press(locations(), key) : button("locations-cancel")->click();
            QVERIFY(!locations().isVisible());
            QCOMPARE(m_model->roots(), roots);
        }

        QVERIFY(openSheet(locations()));
        QCOMPARE(locations().focusWidget(), button("locations-save"));
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            press(locations(), Qt::Key_Tab);
            visited << locations().focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"remove-root-0", "remove-root-1", "remove-root-2", "find-project-locations",
                                       "add-folder", "locations-cancel", "locations-save"}));
        remove(0)->click();
        QCOMPARE(locations().draft(), (Paths{at("beta"), at("gamma")}));
        QVERIFY(remove(1)->accessibleName() == removeName("gamma") && remove(2) == nullptr);
        remove(1)->setFocus();
        press(locations(), Qt::Key_Return);
        QCOMPARE(locations().draft(), Paths{at("beta")});
        QVERIFY(remove(1) == nullptr && remove(0)->isVisible() && locations().isVisible());
        locations().setFocus();
        press(locations(), Qt::Key_Return);
        QVERIFY(!locations().isVisible());
        QCOMPARE(m_model->roots(), Paths{at("beta")});
    }

    // Off the main thread, each path once, in plain byte order (upper case first, digits as characters).
    void findProjectLocationsMergesOffTheMainThreadAndSorts() {
        QCOMPARE(LocationsSheet::merged({"/h/b", "/h/proj2", "/h/b"}, {"/h/a", "/h/b", "/h/proj10", "/h/Z"}),
                 (Paths{"/h/Z", "/h/a", "/h/b", "/h/proj10", "/h/proj2"}));
        // Suggested: the customary "Developer" and "src", and the project-like "website".
        for (const char* name : {"Developer", "src", "website", "notes"}) makeDir(name);
        QFile(QString::fromStdString(at("website/package.json"))).open(QIODevice::WriteOnly);
        m_model->save(Paths{at("src"), at("Zed"), at("beta")});
        QSemaphore release;
        suggest(release, tarnby::ProjectLocations::suggested);
        QVERIFY(openSheet(locations()));
        QPushButton* find = button("find-project-locations");
        find->click();
        QVERIFY(!find->isEnabled());  // while the disk is read
        find->click();                // and a second press starts nothing
        release.release();
        QTRY_VERIFY(find->isEnabled());
        const Paths found{at("Developer"), at("Zed"), at("beta"), at("src"), at("website")};
        QCOMPARE(locations().draft(), found);
        QCOMPARE(m_model->roots(), (Paths{at("Zed"), at("beta"), at("src")}));  // only the draft changed
        QCOMPARE(remove(4)->accessibleName(), removeName("website"));
        button("locations-save")->click();
        QCOMPARE(m_model->roots(), found);

        // Suggestions for an earlier opening are dropped.
        suggest(release, [this](const std::string&) { return Paths{at("late")}; });
        QVERIFY(openSheet(locations()));
        find->click();
        locations().reject();
        QVERIFY(openSheet(locations()));
        release.release();
        QTRY_VERIFY(find->isEnabled());
        QCOMPARE(locations().draft(), m_model->roots());
    }

    // Appended in the chooser's order, links resolved, no check for folders already listed.
    void addedFoldersAreResolvedAndAppendedAsChosen() {
        makeDir("real/app");
        QVERIFY(QFile::link(QString::fromStdString(at("real/app")), QString::fromStdString(at("shortcut"))));
        std::optional<Paths> answer = Paths{at("shortcut"), at("alpha"), at("missing/folder")};
        int asked = 0;
        locations().setFolderChooser([&](QWidget* parent, const std::string& from) {
            asked += parent == &locations() && from == m_home->path() ? 1 : 100;
            return answer;
        });
        QVERIFY(openSheet(locations()));
        button("add-folder")->click();
        QCOMPARE(locations().draft(), (Paths{at("alpha"), at("beta"), at("gamma"), resolved("real/app"),
                                             resolved("alpha"), at("missing/folder")}));
        answer.reset();  // cancelled
        button("add-folder")->click();
        QVERIFY(asked == 2 && locations().draft().size() == 6);
    }

    // "Show all kept items" appears only with kept items, and the sheet stays open.
    void showAllKeptItems() {
        QVERIFY(openSheet(locations()));
        QPushButton* showKept = button("show-kept");
        QVERIFY(!showKept->isVisible());
        m_model->keep(at("alpha/node_modules"));
        QVERIFY(showKept->isVisible());
        QCOMPARE(unnamedControls(locations()), QStringList{});
        showKept->click();
        QVERIFY(m_model->kept().empty() && !showKept->isVisible() && locations().isVisible());
    }

    // Folders only, or nothing at all: no acknowledgement, and confirming says so.
    void foldersOnlyNeedNoAcknowledgementAndConfirmWithFalse() {
        for (const Items& items : {Items{folder(kHome, "site"), folder(kHome, "api")}, Items{}}) {
            ReviewSheet sheet(items, callback(), env());
            QVERIFY(openSheet(sheet) && part(sheet, "erase-ack") == nullptr);
            QCOMPARE(part<QScrollArea>(sheet, "review-items")->widget()->findChildren<QLabel*>().isEmpty(),
                     items.empty());
            part<QPushButton>(sheet, "confirm-cleanup")->click();
            QVERIFY(m_calls == std::vector<bool>{false} && !sheet.isVisible());
        }
    }

    // What cleaning frees is said only where it is less than the items take (a store and a project sharing
    // hard links); the plan sheet figures it from the items behind the plan, which its JSON does not carry.
    void whatCleaningFreesIsSaidOnlyWhereItIsLess() {
        const Items pair = sharedPair(kHome);
        QVERIFY(freedLine(ReviewSheet(pair, {}, env()))
                    .startsWith(QStringLiteral("Frees 91.3 MB of the 180.6 MB selected")));
        QVERIFY(freedLine(ReviewSheet({pair[1]}, {}, env()))
                    .startsWith(QStringLiteral("Frees 400 KB of the 89.7 MB selected")));
        QCOMPARE(freedLine(ReviewSheet({folder(kHome, "site"), folder(kHome, "api")}, {}, env())), QString());

        const tarnby::CleanupPlan plan = fixture::plan(kHome, 2, false);  // 120 MB and 127.3 MB
        QVERIFY(freedLine(PlanSheet(plan, kHome, {91'300'000, true}, env()))
                    .startsWith(QStringLiteral("Frees about 91.3 MB of the 247.3 MB in this plan; ")));
        QCOMPARE(freedLine(PlanSheet(plan, kHome, freedAll(plan), env())), QString());
    }

    void simulatorsGateConfirmOnTheAcknowledgement() {
        ReviewSheet sheet({folder(kHome, "site"), simulator(kHome, "iPhone 15", false)}, callback(), env());
        QVERIFY(openSheet(sheet));
        auto* acknowledgement = part<QCheckBox>(sheet, "erase-ack");
        auto* confirm = part<QPushButton>(sheet, "confirm-cleanup");
        QVERIFY(acknowledgement != nullptr && acknowledgement->isVisible() && !acknowledgement->isChecked());
        QCOMPARE(unnamedControls(sheet), QStringList{});
        // Its box stands out from the sheet, in the dark appearance too.
        m_env->setAppearance(quillet::ui::Appearance::dark);
        const QImage shown = sheet.grab().toImage();
        const QRect box(acknowledgement->mapTo(&sheet, QPoint(0, 0)), acknowledgement->size());
        QVERIFY(quillet::testing::strongestContrast(shown, box, shown.pixelColor(box.left() - 3, box.center().y())) >=
                3);
        // Confirm is off, and looks it: its label is drawn dimmer than an enabled one.
        QVERIFY(!confirm->isEnabled() && confirm->palette().color(QPalette::Disabled, QPalette::ButtonText).alpha() <
                                             confirm->palette().color(QPalette::Active, QPalette::ButtonText).alpha());

        // Clicking the wrapped text ticks the box too.
        auto* text = qobject_cast<QWidget*>(acknowledgement->parent())->findChild<QLabel*>();
        QTest::mouseClick(text->parentWidget(), Qt::LeftButton, {}, text->geometry().center());
        QVERIFY(acknowledgement->isChecked() && confirm->isEnabled());
        QTest::keyClick(acknowledgement, Qt::Key_Space);
        QVERIFY(!confirm->isEnabled());
        acknowledgement->click();
        confirm->click();
        QCOMPARE(m_calls, std::vector<bool>{true});
        QVERIFY(!sheet.isVisible());
    }

    void escapeAndCancelCloseWithoutCallingBack() {
        ReviewSheet sheet({simulator(kHome, "iPhone 15", false)}, callback(), env());
        QVERIFY(openSheet(sheet));  // Escape: the locations sheet's test
        part<QCheckBox>(sheet, "erase-ack")->setChecked(true);
        part<QPushButton>(sheet, "cleanup-cancel")->click();
        QVERIFY(!sheet.isVisible() && m_calls.empty());

        // The window may drop the sheet as soon as the plan starts.
        QPointer<ReviewSheet> dropped;
        dropped = new ReviewSheet(
            {folder(kHome, "site")}, [&](bool) { delete dropped.data(); }, env());
        part<QPushButton>(*dropped, "confirm-cleanup")->click();
        QVERIFY(dropped.isNull());
    }

    // The plan's JSON, without the lines about kept items, as the only thing on the clipboard
    // however often it is copied; the sheet says so and stays open.
    void copyReplacesTheClipboardWithOnePlainTextCopy() {
        tarnby::CleanupPlan plan = fixture::plan(kHome, 2, true);
        plan.kept = {"site / node_modules: Changed since the scan"};
        PlanSheet sheet(plan, kHome, freedAll(plan), env());
        QVERIFY(openSheet(sheet));
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
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
        PlanSheet sheet(plan, kHome, freedAll(plan), env());
        QVERIFY(openSheet(sheet));
        QStringList shown;
        for (const QLabel* label : sheet.findChildren<QLabel*>()) shown << label->text();
        QCOMPARE(shown.count(QStringLiteral("Would move this folder to Trash")), 2);
        QCOMPARE(shown.count(QStringLiteral("Would permanently erase this simulator")), 1);
        QVERIFY(shown.contains(QStringLiteral("Estimated on disk: 2.15 GB")));
        // The path under the home folder is shortened, the whole path its tip, and selectable.
        const QLabel* inside =
            sheet.findChildren<QLabel*>()[shown.indexOf(QStringLiteral("~/Code/site-1/node_modules"))];
        QCOMPARE(inside->toolTip(), QStringLiteral("/home/robin/Code/site-1/node_modules"));
        QVERIFY(inside->textInteractionFlags() & Qt::TextSelectableByKeyboard);

        PlanSheet empty(tarnby::CleanupPlan{}, kHome, {}, env());
        QVERIFY(openSheet(empty) && visibleInside(*part(empty, "plan-done"), empty));
        QVERIFY(part<QScrollArea>(empty, "plan-items")->widget()->findChildren<QLabel*>().isEmpty());
    }
};

QTEST_MAIN(SheetsTest)
#include "sheets_qtest.moc"
