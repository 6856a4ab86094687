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
#include "tests/app/fixture.h"

using namespace fixture;
using quillet::ui::LocationsSheet;
using Paths = std::vector<std::string>;

class LocationsSheetTest : public QObject {
    Q_OBJECT

    std::optional<Home> m_home;
    std::optional<quillet::StorageModel> m_model;
    std::optional<quillet::ui::Environment> m_env;
    std::optional<LocationsSheet> m_sheet;

    std::string at(const char* relative) const { return m_home->path() + "/" + relative; }
    void makeDir(const char* relative) const { QVERIFY(QDir().mkpath(QString::fromStdString(at(relative)))); }
    // The folder the test made, as the chooser hands it over: links resolved.
    std::string resolved(const char* relative) const {
        return QDir(m_home->folder.path()).canonicalPath().toStdString() + "/" + relative;
    }
    LocationsSheet& sheet() { return m_sheet ? *m_sheet : m_sheet.emplace(*m_model, &*m_env); }
    QToolButton* remove(int position) {
        return sheet().findChild<QToolButton*>(QStringLiteral("remove-root-%1").arg(position));
    }
    QPushButton* button(const char* name) { return sheet().findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString removeName(const char* relative) { return QString::fromStdString("Remove " + at(relative)); }
    // Suggestions wait for the test's release (at most 10 s, so a failing test cannot hang the pool).
    void suggest(QSemaphore& release, std::function<Paths(const std::string&)> suggested) {
        sheet().setSuggester([&release, suggested](const std::string& home) {
            release.tryAcquire(1, 10000);
            return suggested(home);
        });
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

    // Removing edits a draft: Cancel or Escape drop it, and the sheet shown again starts from the
    // roots; the remove buttons follow the positions; Return presses the focused button, and with
    // the keyboard on no button it saves. Tab follows the screen.
    void theDraftIsSavedOnlyBySave() {
        const Paths roots = m_model->roots();
        for (const Qt::Key key : {Qt::Key_unknown, Qt::Key_Escape}) {
            QVERIFY(openSheet(sheet()));
            QCOMPARE(sheet().draft(), roots);
            for (int i = 0; i < 3; ++i) remove(0)->click();
            QVERIFY(sheet().draft().empty());
            key == Qt::Key_Escape ? press(sheet(), key) : button("locations-cancel")->click();
            QVERIFY(!sheet().isVisible());
            QCOMPARE(m_model->roots(), roots);
        }

        QVERIFY(openSheet(sheet()));
        QCOMPARE(sheet().focusWidget(), button("locations-save"));
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            press(sheet(), Qt::Key_Tab);
            visited << sheet().focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"remove-root-0", "remove-root-1", "remove-root-2", "find-project-locations",
                                       "add-folder", "locations-cancel", "locations-save"}));
        remove(0)->click();
        QCOMPARE(sheet().draft(), (Paths{at("beta"), at("gamma")}));
        QCOMPARE((QStringList{remove(0)->accessibleName(), remove(1)->accessibleName()}),
                 (QStringList{removeName("beta"), removeName("gamma")}));
        QVERIFY(remove(2) == nullptr);
        remove(1)->setFocus();
        press(sheet(), Qt::Key_Return);
        QCOMPARE(sheet().draft(), Paths{at("beta")});
        QVERIFY(remove(1) == nullptr && remove(0)->isVisible() && sheet().isVisible());
        sheet().setFocus();
        press(sheet(), Qt::Key_Return);
        QVERIFY(!sheet().isVisible());
        QCOMPARE(m_model->roots(), Paths{at("beta")});
    }

    // Off the main thread, each path once, in plain byte order: upper case before lower case,
    // digits as characters.
    void findProjectLocationsMergesOffTheMainThreadAndSorts() {
        QCOMPARE(LocationsSheet::merged({"/h/b", "/h/proj2", "/h/b"}, {"/h/a", "/h/b", "/h/proj10", "/h/Z"}),
                 (Paths{"/h/Z", "/h/a", "/h/b", "/h/proj10", "/h/proj2"}));
        // Suggested: the customary "Developer" and "src", and the project-like "website".
        for (const char* name : {"Developer", "src", "website", "notes"}) makeDir(name);
        QFile(QString::fromStdString(at("website/package.json"))).open(QIODevice::WriteOnly);
        m_model->save(Paths{at("src"), at("Zed"), at("beta")});
        QSemaphore release;
        suggest(release, tarnby::ProjectLocations::suggested);
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
        QCOMPARE(remove(4)->accessibleName(), removeName("website"));

        // A second find adds nothing new.
        release.release();
        find->click();
        QTRY_VERIFY(find->isEnabled());
        QCOMPARE(sheet().draft(), found);
        button("locations-save")->click();
        QCOMPARE(m_model->roots(), found);

        // Suggestions for an earlier opening are dropped.
        suggest(release, [this](const std::string&) { return Paths{at("late")}; });
        QVERIFY(openSheet(sheet()));
        find->click();
        sheet().reject();
        QVERIFY(openSheet(sheet()));
        release.release();
        QTRY_VERIFY(find->isEnabled());
        QCOMPARE(sheet().draft(), m_model->roots());
    }

    // Appended in the chooser's order, links resolved, no check for folders already listed; the
    // chooser takes several folders at once.
    void addedFoldersAreResolvedAndAppendedAsChosen() {
        makeDir("real/app");
        QVERIFY(QFile::link(QString::fromStdString(at("real/app")), QString::fromStdString(at("shortcut"))));
        std::optional<Paths> answer = Paths{at("shortcut"), at("alpha"), at("missing/folder")};
        int asked = 0;
        sheet().setFolderChooser([&](QWidget* parent, const std::string& from) {
            asked += parent == &sheet() && from == m_home->path() ? 1 : 100;
            return answer;
        });
        QVERIFY(openSheet(sheet()));
        button("add-folder")->click();
        QCOMPARE(sheet().draft(), (Paths{at("alpha"), at("beta"), at("gamma"), resolved("real/app"), resolved("alpha"),
                                         at("missing/folder")}));
        answer.reset();  // cancelled
        button("add-folder")->click();
        QCOMPARE(asked, 2);
        QCOMPARE(sheet().draft().size(), std::size_t{6});

        // The real chooser, several folders chosen.
        m_sheet.reset();
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
        QCOMPARE(sheet().draft(), (Paths{at("alpha"), at("beta"), at("gamma"), resolved("one"), resolved("three")}));
    }

    // "Show all kept items" appears only with kept items, and the sheet stays open; however many
    // roots there are, the list scrolls and the buttons stay in view.
    void keptItemsAndALongList() {
        QVERIFY(openSheet(sheet()));
        QPushButton* showKept = button("show-kept");
        QVERIFY(!showKept->isVisible());
        m_model->keep(at("alpha/node_modules"));
        QVERIFY(showKept->isVisible());
        QCOMPARE(unnamedControls(sheet()), QStringList{});
        showKept->click();
        QVERIFY(m_model->kept().empty() && !showKept->isVisible() && sheet().isVisible());
        sheet().reject();

        Paths many;
        for (int i = 0; i < 30; ++i) many.push_back(at("project-") + std::to_string(100 + i));
        m_model->save(many);
        QVERIFY(openSheet(sheet()));
        QVERIFY(visibleInside(*button("locations-save"), sheet()));
        QVERIFY(visibleInside(*button("find-project-locations"), sheet()));
    }
};

QTEST_MAIN(LocationsSheetTest)
#include "locations_sheet_qtest.moc"
