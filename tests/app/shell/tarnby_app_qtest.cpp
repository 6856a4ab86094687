// The application shell: one window of the right sizes, the application menu and the update
// command's enabled state, and no way to open a second window.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/shell/tarnby_app.h"

using namespace quillet::ui;

namespace {

QByteArray infoPlist(const QString& key) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>SUFeedURL</key><string>https://updates.example.org/appcast.xml</string>"
           "<key>SUPublicEDKey</key><string>" +
           key.toUtf8() + "</string></dict></plist>\n";
}

QString keyOfLength(int bytes) { return QString::fromLatin1(QByteArray(bytes, '\x07').toBase64()); }

QList<QAction*> allActions(QMenuBar* bar) {
    QList<QAction*> actions;
    for (QAction* top : bar->actions()) {
        actions.append(top);
        if (top->menu()) actions.append(top->menu()->actions());
    }
    return actions;
}

}  // namespace

class TarnbyAppTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

    TarnbyAppSetup setup(std::optional<QByteArray> plist) {
        TarnbyAppSetup s;
        s.model.home = m_home.path().toStdString();
        s.model.availableCapacity = [](const std::string&) { return std::optional<std::int64_t>(1'000'000'000); };
        s.updater.infoPlist = std::move(plist);
        return s;
    }

private slots:
    void theWindowOpensAtItsFirstSizeAndStaysAboveItsMinimum() {
        TarnbyApp app(*qApp, setup(infoPlist({})));
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.window()));
        QWidget* content = app.window().centralWidget();
        QTRY_COMPARE(content->size(), QSize(1100, 760));
        app.window().resize(500, 400);
        QTRY_COMPARE(content->size(), QSize(960, 660));
        QCOMPARE(QApplication::applicationVersion(), QStringLiteral(QUILLET_VERSION));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    // About first and Quit last, where the desktop expects them, and no command or shortcut that
    // opens a second window.
    void theApplicationMenuAndNoSecondWindow() {
        TarnbyApp app(*qApp, setup(infoPlist({})));
        const auto actions = app.window().menuBar()->findChild<QMenu*>(QStringLiteral("application-menu"))->actions();
        QCOMPARE(actions.first()->menuRole(), QAction::AboutRole);
        QCOMPARE(actions.last()->menuRole(), QAction::QuitRole);
        QCOMPARE(actions.last()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QVERIFY(!app.window().findChild<QAction*>(QStringLiteral("credits"))->isEnabled());  // text only
        for (QAction* action : allActions(app.window().menuBar()) + app.window().findChildren<QAction*>()) {
            QVERIFY2(!action->text().contains(QStringLiteral("New"), Qt::CaseInsensitive), qPrintable(action->text()));
            QVERIFY2(action->shortcut() != QKeySequence(QKeySequence::New), qPrintable(action->text()));
        }
        const auto windowsBefore = QApplication::topLevelWidgets().size();
        QTest::keySequence(&app.window(), QKeySequence(QKeySequence::New));
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    }

    // Only a valid key turns "Check for Updates…" on; the shipped list has none.
    void checkForUpdatesFollowsTheKey() {
        for (const auto& [plist, enabled] : {std::pair{std::optional<QByteArray>(), false},
                                             {infoPlist(keyOfLength(31)), false},
                                             {infoPlist(keyOfLength(32)), true}}) {
            TarnbyApp app(*qApp, setup(plist));
            QCOMPARE(app.window().menuBar()->findChild<QAction*>(QStringLiteral("check-for-updates"))->isEnabled(),
                     enabled);
            QCOMPARE(app.updater().canCheck(), enabled);
        }
    }
};

QTEST_MAIN(TarnbyAppTest)
#include "tarnby_app_qtest.moc"
