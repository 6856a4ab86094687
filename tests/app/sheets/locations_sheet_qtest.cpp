#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <optional>
#include <vector>

#include "app/look/environment.h"
#include "app/model/storage_model.h"
#include "app/sheets/locations_sheet.h"
#include "core/scanning/project_locations.h"
#include "tests/app/sheets/sheet_test_support.h"

using quillet::ui::LocationsSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
using Paths = std::vector<std::string>;

namespace {

struct NoSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override { return {}; }
};

QToolButton* removeButton(const LocationsSheet& sheet, int position) {
    return sheet.findChild<QToolButton*>(QStringLiteral("remove-root-%1").arg(position));
}

QPushButton* button(const LocationsSheet& sheet, const char* name) {
    return sheet.findChild<QPushButton*>(QString::fromLatin1(name));
}

}  // namespace

class LocationsSheetTest : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;
    std::unique_ptr<quillet::StorageModel> m_model;

    std::string home() const { return m_home->path().toStdString(); }
    std::string at(const char* relative) const { return home() + "/" + relative; }
    void makeDir(const char* relative) const { QVERIFY(QDir().mkpath(QString::fromStdString(at(relative)))); }

private slots:
    void init() {
        QVERIFY(m_home.emplace().isValid());
        quillet::StorageModelSetup setup;
        setup.home = home();
        setup.simulators = std::make_shared<NoSimulators>();
        m_model = std::make_unique<quillet::StorageModel>(setup);  // empty home: no suggested roots
        m_model->save(Paths{at("alpha"), at("beta"), at("gamma")});
        QCOMPARE(m_model->roots(), (Paths{at("alpha"), at("beta"), at("gamma")}));
    }
    void cleanup() { m_model.reset(); }

    void cancelOrEscapeDropTheDraft() {
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(sheet.width(), 570);
        QCOMPARE(sheet.draft(), m_model->roots());
        for (int i = 0; i < 3; ++i) {
            removeButton(sheet, 0)->click();
        }
        QVERIFY(sheet.draft().empty());
        button(sheet, "locations-cancel")->click();
        QVERIFY(!sheet.isVisible());
        QCOMPARE(m_model->roots(), (Paths{at("alpha"), at("beta"), at("gamma")}));

        // Shown again, the draft starts from the roots once more; Escape drops it too.
        QVERIFY(openSheet(sheet));
        QCOMPARE(sheet.draft(), m_model->roots());
        removeButton(sheet, 1)->click();
        press(sheet, Qt::Key_Escape);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(m_model->roots(), (Paths{at("alpha"), at("beta"), at("gamma")}));
    }

    void removeButtonsFollowPositions() {
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(removeButton(sheet, 0)->accessibleName(), QString::fromStdString("Remove " + at("alpha")));
        QVERIFY(removeButton(sheet, 2) != nullptr);

        removeButton(sheet, 0)->click();
        QCOMPARE(sheet.draft(), (Paths{at("beta"), at("gamma")}));
        QCOMPARE(removeButton(sheet, 0)->accessibleName(), QString::fromStdString("Remove " + at("beta")));
        QCOMPARE(removeButton(sheet, 1)->accessibleName(), QString::fromStdString("Remove " + at("gamma")));
        QVERIFY(removeButton(sheet, 2) == nullptr);

        removeButton(sheet, 1)->click();
        QCOMPARE(sheet.draft(), Paths{at("beta")});
        QVERIFY(removeButton(sheet, 1) == nullptr);
        QVERIFY(removeButton(sheet, 0)->isVisible());

        // Return presses the focused button; with the keyboard on no button, it saves.
        sheet.reject();
        m_model->save(Paths{at("alpha"), at("beta")});
        QVERIFY(openSheet(sheet));
        removeButton(sheet, 0)->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(sheet.draft(), Paths{at("beta")});
        QVERIFY(sheet.isVisible());
        sheet.setFocus();
        press(sheet, Qt::Key_Return);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(m_model->roots(), Paths{at("beta")});
    }

    void tabFollowsTheScreenAndTheSheetOpensOnSave() {
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(sheet.focusWidget(), button(sheet, "locations-save"));
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            press(sheet, Qt::Key_Tab);
            visited << sheet.focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"remove-root-0", "remove-root-1", "remove-root-2", "find-project-locations",
                                       "add-folder", "locations-cancel", "locations-save"}));
    }

    void findProjectLocationsMergesOffTheMainThreadAndSorts() {
        // Suggested: the customary "Developer" and "src", and the project-like "website".
        makeDir("Developer");
        makeDir("src");
        makeDir("website");
        QFile(QString::fromStdString(at("website/package.json"))).open(QIODevice::WriteOnly);
        makeDir("notes");
        m_model->save(Paths{at("src"), at("Zed"), at("beta")});

        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QSemaphore release;
        sheet.setSuggester([&release](const std::string& home) {
            release.tryAcquire(1, 10000);  // bounded, so a failing test cannot hang the pool
            return tarnby::ProjectLocations::suggested(home);
        });
        QVERIFY(openSheet(sheet));
        QPushButton* find = button(sheet, "find-project-locations");
        find->click();
        QVERIFY(!find->isEnabled());  // while the disk is read
        find->click();                // and a second press starts nothing
        release.release();
        QTRY_VERIFY(find->isEnabled());
        // Once each, in plain byte order: upper case before lower case.
        QCOMPARE(sheet.draft(), (Paths{at("Developer"), at("Zed"), at("beta"), at("src"), at("website")}));
        QCOMPARE(m_model->roots(), (Paths{at("Zed"), at("beta"), at("src")}));  // only the draft changed
        QCOMPARE(removeButton(sheet, 4)->accessibleName(), QString::fromStdString("Remove " + at("website")));

        // A second find adds nothing new.
        release.release();
        find->click();
        QTRY_VERIFY(find->isEnabled());
        QCOMPARE(sheet.draft().size(), std::size_t{5});

        button(sheet, "locations-save")->click();
        QVERIFY(!sheet.isVisible());
        QCOMPARE(m_model->roots(), (Paths{at("Developer"), at("Zed"), at("beta"), at("src"), at("website")}));
    }

    void suggestionsForAnEarlierOpeningAreDropped() {
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QSemaphore release;
        sheet.setSuggester([&release, this](const std::string&) {
            release.tryAcquire(1, 10000);  // bounded, so a failing test cannot hang the pool
            return Paths{at("late")};
        });
        QVERIFY(openSheet(sheet));
        button(sheet, "find-project-locations")->click();
        sheet.reject();
        QVERIFY(openSheet(sheet));
        release.release();
        QTRY_VERIFY(button(sheet, "find-project-locations")->isEnabled());
        QCOMPARE(sheet.draft(), m_model->roots());
    }

    void addedFoldersAreResolvedAndAppendedAsChosen() {
        makeDir("real/app");
        QVERIFY(QFile::link(QString::fromStdString(at("real/app")), QString::fromStdString(at("shortcut"))));
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        std::optional<Paths> answer = Paths{at("shortcut"), at("alpha"), at("missing/folder")};
        int asked = 0;
        sheet.setFolderChooser([&](QWidget* parent, const std::string& from) {
            ++asked;
            [&] {
                QCOMPARE(parent, static_cast<QWidget*>(&sheet));
                QCOMPARE(from, home());
            }();
            return answer;
        });
        QVERIFY(openSheet(sheet));
        QPushButton* add = button(sheet, "add-folder");
        QCOMPARE(add->text(), QStringLiteral("Add folder\u2026"));
        add->click();
        // Appended in the chooser's order, links resolved, no check for folders already listed.
        const std::string resolvedHome = QDir(QString::fromStdString(home())).canonicalPath().toStdString();
        QCOMPARE(sheet.draft(), (Paths{at("alpha"), at("beta"), at("gamma"), resolvedHome + "/real/app",
                                       resolvedHome + "/alpha", at("missing/folder")}));

        answer.reset();  // cancelled
        add->click();
        QCOMPARE(asked, 2);
        QCOMPARE(sheet.draft().size(), std::size_t{6});
    }

    void theChooserTakesSeveralFoldersAtOnce() {
        makeDir("one");
        makeDir("two");
        makeDir("three");
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        bool configured = false;
        QTimer::singleShot(0, &sheet, [&] {
            auto* dialog = sheet.findChild<QFileDialog*>();
            QVERIFY(dialog != nullptr);
            auto finish = qScopeGuard([dialog] { dialog->reject(); });
            QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
            QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
            auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
            auto* files = qobject_cast<QFileSystemModel*>(list->model());
            QVERIFY(files != nullptr);
            QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
            QTRY_VERIFY(files->index(QString::fromStdString(at("two"))).isValid());
            for (const char* name : {"one", "three"}) {
                list->selectionModel()->select(files->index(QString::fromStdString(at(name))),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
            finish.dismiss();
            configured = true;
            static_cast<QDialog*>(dialog)->accept();  // as the Choose button does
        });
        button(sheet, "add-folder")->click();
        QVERIFY(configured);
        const std::string resolvedHome = QDir(QString::fromStdString(home())).canonicalPath().toStdString();
        const Paths draft = sheet.draft();
        QCOMPARE(draft.size(), std::size_t{5});
        QCOMPARE((Paths{draft[3], draft[4]}), (Paths{resolvedHome + "/one", resolvedHome + "/three"}));
    }

    void showAllKeptItemsAppearsOnlyWithKeptItems() {
        quillet::ui::Environment env;
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        QPushButton* showKept = button(sheet, "show-kept");
        QVERIFY(!showKept->isVisible());
        m_model->keep(at("alpha/node_modules"));
        QVERIFY(showKept->isVisible());
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet), QStringList{});
        showKept->click();
        QVERIFY(m_model->kept().empty());
        QVERIFY(!showKept->isVisible());
        QVERIFY(sheet.isVisible());  // the sheet stays open
    }

    void mergeKeepsEachPathOnceInPlainOrder() {
        QCOMPARE(LocationsSheet::merged({"/h/b", "/h/Z", "/h/b"}, {"/h/a", "/h/b", "/h/proj10", "/h/proj2"}),
                 (Paths{"/h/Z", "/h/a", "/h/b", "/h/proj10", "/h/proj2"}));
        QCOMPARE(LocationsSheet::merged({}, {}), Paths{});
    }

    void theListIsExactly180High() {
        quillet::ui::Environment env;
        Paths many;
        for (int i = 0; i < 30; ++i) {
            many.push_back(at("project-") + std::to_string(100 + i));
        }
        m_model->save(many);
        LocationsSheet sheet(*m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(sheet.findChild<QWidget*>(QStringLiteral("locations-list"))->height(), 180);
        QVERIFY(quillet::ui::testing::visibleInside(*button(sheet, "locations-save"), sheet));
        QVERIFY(quillet::ui::testing::visibleInside(*button(sheet, "find-project-locations"), sheet));
    }
};

QTEST_MAIN(LocationsSheetTest)
#include "locations_sheet_qtest.moc"
