#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/sheets/locations_sheet.h"
#include "core/scanning/project_locations.h"
#include "tests/app/sheets/sheet_test_support.h"
#include "tests/app/window/window_fixture.h"

using quillet::ui::LocationsSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
using Paths = std::vector<std::string>;

class LocationsSheetTest : public QObject {
    Q_OBJECT

    std::optional<window_fixture::Home> m_home;
    std::optional<quillet::StorageModel> m_model;
    std::optional<quillet::ui::Environment> m_env;
    std::optional<LocationsSheet> m_sheet;

    std::string home() const { return m_home->path(); }
    std::string at(const char* relative) const { return home() + "/" + relative; }
    void makeDir(const char* relative) const { QVERIFY(QDir().mkpath(QString::fromStdString(at(relative)))); }
    LocationsSheet& sheet() { return m_sheet ? *m_sheet : m_sheet.emplace(*m_model, &*m_env); }
    QToolButton* removeButton(int position) {
        return sheet().findChild<QToolButton*>(QStringLiteral("remove-root-%1").arg(position));
    }
    QPushButton* button(const char* name) { return sheet().findChild<QPushButton*>(QString::fromLatin1(name)); }
    // The folder the test made, as the chooser hands it over: links resolved.
    std::string resolved(const char* relative) const {
        return QDir(QString::fromStdString(home())).canonicalPath().toStdString() + "/" + relative;
    }

private slots:
    void init() {
        QVERIFY(m_home.emplace().folder.isValid());
        m_model.emplace(m_home->setup());  // an empty home: no suggested roots
        m_model->save(Paths{at("alpha"), at("beta"), at("gamma")});
        m_env.emplace();
    }
    void cleanup() {
        m_sheet.reset();
        m_model.reset();
    }

    void cancelOrEscapeDropTheDraft() {
        QVERIFY(openSheet(sheet()));
        const Paths roots = m_model->roots();
        QCOMPARE(sheet().draft(), roots);
        for (int i = 0; i < 3; ++i) removeButton(0)->click();
        QVERIFY(sheet().draft().empty());
        button("locations-cancel")->click();
        QVERIFY(!sheet().isVisible());
        QCOMPARE(m_model->roots(), roots);

        // Shown again, the draft starts from the roots once more; Escape drops it too.
        QVERIFY(openSheet(sheet()));
        QCOMPARE(sheet().draft(), roots);
        removeButton(1)->click();
        press(sheet(), Qt::Key_Escape);
        QVERIFY(!sheet().isVisible());
        QCOMPARE(m_model->roots(), roots);
    }

    void removeButtonsFollowPositionsAndReturnSaves() {
        QVERIFY(openSheet(sheet()));
        removeButton(0)->click();
        QCOMPARE(sheet().draft(), (Paths{at("beta"), at("gamma")}));
        QCOMPARE(removeButton(0)->accessibleName(), QString::fromStdString("Remove " + at("beta")));
        QCOMPARE(removeButton(1)->accessibleName(), QString::fromStdString("Remove " + at("gamma")));
        QVERIFY(removeButton(2) == nullptr);
        removeButton(1)->click();
        QCOMPARE(sheet().draft(), Paths{at("beta")});
        QVERIFY(removeButton(1) == nullptr && removeButton(0)->isVisible());

        // Return presses the focused button; with the keyboard on no button, it saves.
        sheet().reject();
        m_model->save(Paths{at("alpha"), at("beta")});
        QVERIFY(openSheet(sheet()));
        removeButton(0)->setFocus();
        press(sheet(), Qt::Key_Return);
        QCOMPARE(sheet().draft(), Paths{at("beta")});
        QVERIFY(sheet().isVisible());
        sheet().setFocus();
        press(sheet(), Qt::Key_Return);
        QVERIFY(!sheet().isVisible());
        QCOMPARE(m_model->roots(), Paths{at("beta")});
    }

    void tabFollowsTheScreenAndTheSheetOpensOnSave() {
        QVERIFY(openSheet(sheet()));
        QCOMPARE(sheet().focusWidget(), button("locations-save"));
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            press(sheet(), Qt::Key_Tab);
            visited << sheet().focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"remove-root-0", "remove-root-1", "remove-root-2", "find-project-locations",
                                       "add-folder", "locations-cancel", "locations-save"}));
    }

    // Each path once, in plain byte order: upper case before lower case, digits as characters.
    void findProjectLocationsMergesOffTheMainThreadAndSorts() {
        QCOMPARE(LocationsSheet::merged({"/h/b", "/h/proj2", "/h/b"}, {"/h/a", "/h/b", "/h/proj10", "/h/Z"}),
                 (Paths{"/h/Z", "/h/a", "/h/b", "/h/proj10", "/h/proj2"}));
        // Suggested: the customary "Developer" and "src", and the project-like "website".
        makeDir("Developer");
        makeDir("src");
        makeDir("website");
        QFile(QString::fromStdString(at("website/package.json"))).open(QIODevice::WriteOnly);
        makeDir("notes");
        m_model->save(Paths{at("src"), at("Zed"), at("beta")});
        QSemaphore release;
        sheet().setSuggester([&release](const std::string& home) {
            release.tryAcquire(1, 10000);  // bounded, so a failing test cannot hang the pool
            return tarnby::ProjectLocations::suggested(home);
        });
        QVERIFY(openSheet(sheet()));
        QPushButton* find = button("find-project-locations");
        find->click();
        QVERIFY(!find->isEnabled());  // while the disk is read
        find->click();                // and a second press starts nothing
        release.release();
        QTRY_VERIFY(find->isEnabled());
        const Paths found{at("Developer"), at("Zed"), at("beta"), at("src"), at("website")};
        QCOMPARE(sheet().draft(), found);
        QCOMPARE(m_model->roots(), (Paths{at("Zed"), at("beta"), at("src")}));  // only the draft changed
        QCOMPARE(removeButton(4)->accessibleName(), QString::fromStdString("Remove " + at("website")));

        // A second find adds nothing new.
        release.release();
        find->click();
        QTRY_VERIFY(find->isEnabled());
        QCOMPARE(sheet().draft(), found);
        button("locations-save")->click();
        QVERIFY(!sheet().isVisible());
        QCOMPARE(m_model->roots(), found);
    }

    void suggestionsForAnEarlierOpeningAreDropped() {
        QSemaphore release;
        sheet().setSuggester([&release, this](const std::string&) {
            release.tryAcquire(1, 10000);  // bounded, so a failing test cannot hang the pool
            return Paths{at("late")};
        });
        QVERIFY(openSheet(sheet()));
        button("find-project-locations")->click();
        sheet().reject();
        QVERIFY(openSheet(sheet()));
        release.release();
        QTRY_VERIFY(button("find-project-locations")->isEnabled());
        QCOMPARE(sheet().draft(), m_model->roots());
    }

    void addedFoldersAreResolvedAndAppendedAsChosen() {
        makeDir("real/app");
        QVERIFY(QFile::link(QString::fromStdString(at("real/app")), QString::fromStdString(at("shortcut"))));
        std::optional<Paths> answer = Paths{at("shortcut"), at("alpha"), at("missing/folder")};
        int asked = 0;
        sheet().setFolderChooser([&](QWidget* parent, const std::string& from) {
            ++asked;
            [&] {
                QCOMPARE(parent, static_cast<QWidget*>(&sheet()));
                QCOMPARE(from, home());
            }();
            return answer;
        });
        QVERIFY(openSheet(sheet()));
        button("add-folder")->click();
        // Appended in the chooser's order, links resolved, no check for folders already listed.
        QCOMPARE(sheet().draft(), (Paths{at("alpha"), at("beta"), at("gamma"), resolved("real/app"), resolved("alpha"),
                                         at("missing/folder")}));
        answer.reset();  // cancelled
        button("add-folder")->click();
        QCOMPARE(asked, 2);
        QCOMPARE(sheet().draft().size(), std::size_t{6});
    }

    void theChooserTakesSeveralFoldersAtOnce() {
        for (const char* name : {"one", "two", "three"}) makeDir(name);
        QVERIFY(openSheet(sheet()));
        bool configured = false;
        QTimer::singleShot(0, &sheet(), [&] {
            auto* dialog = sheet().findChild<QFileDialog*>();
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
        button("add-folder")->click();
        QVERIFY(configured);
        const Paths draft = sheet().draft();
        QCOMPARE(draft.size(), std::size_t{5});
        QCOMPARE((Paths{draft[3], draft[4]}), (Paths{resolved("one"), resolved("three")}));
    }

    void showAllKeptItemsAppearsOnlyWithKeptItems() {
        QVERIFY(openSheet(sheet()));
        QPushButton* showKept = button("show-kept");
        QVERIFY(!showKept->isVisible());
        m_model->keep(at("alpha/node_modules"));
        QVERIFY(showKept->isVisible());
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet()), QStringList{});
        showKept->click();
        QVERIFY(m_model->kept().empty());
        QVERIFY(!showKept->isVisible());
        QVERIFY(sheet().isVisible());  // the sheet stays open
    }

    // However many roots there are, the list scrolls and the buttons stay in view.
    void aLongListKeepsTheButtonsInView() {
        Paths many;
        for (int i = 0; i < 30; ++i) many.push_back(at("project-") + std::to_string(100 + i));
        m_model->save(many);
        QVERIFY(openSheet(sheet()));
        QVERIFY(quillet::ui::testing::visibleInside(*button("locations-save"), sheet()));
        QVERIFY(quillet::ui::testing::visibleInside(*button("find-project-locations"), sheet()));
    }
};

QTEST_MAIN(LocationsSheetTest)
#include "locations_sheet_qtest.moc"
