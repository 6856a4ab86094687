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
        QCOMPARE(app.window().windowTitle(), QStringLiteral("Quillet"));
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.window()));
        QWidget* content = app.window().centralWidget();
        QVERIFY(content);
        QTRY_COMPARE(content->size(), QSize(1100, 760));
        app.window().resize(500, 400);
        QTRY_COMPARE(content->size(), QSize(960, 660));
        QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral("Quillet"));
        QCOMPARE(QApplication::applicationVersion(), QStringLiteral(QUILLET_VERSION));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    void theApplicationMenuInOrder() {
        TarnbyApp app(*qApp, setup(infoPlist({})));
        auto* menu = app.window().menuBar()->findChild<QMenu*>(QStringLiteral("application-menu"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Quillet"));
        QStringList texts;
        for (QAction* action : menu->actions())
            texts.append(action->isSeparator() ? QStringLiteral("—") : action->text());
        QCOMPARE(texts, (QStringList{QStringLiteral("About Quillet"), QStringLiteral("Check for Updates…"),
                                     QStringLiteral("Made by the Quillet team"), QStringLiteral("—"),
                                     QStringLiteral("Quit Quillet")}));
        const auto actions = menu->actions();
        QCOMPARE(actions[0]->menuRole(), QAction::AboutRole);
        QVERIFY(!actions[2]->isEnabled());  // the credits line is text only
        QCOMPARE(actions[4]->menuRole(), QAction::QuitRole);
        QCOMPARE(actions[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    void noCommandOpensASecondWindow() {
        TarnbyApp app(*qApp, setup(infoPlist({})));
        for (QAction* action : allActions(app.window().menuBar())) {
            QVERIFY2(!action->text().contains(QStringLiteral("New"), Qt::CaseInsensitive), qPrintable(action->text()));
            QVERIFY(action->shortcut() != QKeySequence(QKeySequence::New));
        }
        for (QAction* action : app.window().findChildren<QAction*>()) {
            QVERIFY2(action->shortcut() != QKeySequence(QKeySequence::New), qPrintable(action->text()));
        }
        const auto windowsBefore = QApplication::topLevelWidgets().size();
        QTest::keySequence(&app.window(), QKeySequence(QKeySequence::New));
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    }

    void checkForUpdatesFollowsTheKey_data() {
        QTest::addColumn<std::optional<QByteArray>>("plist");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("shipped list") << std::optional<QByteArray>() << false;
        QTest::newRow("missing key") << std::optional<QByteArray>(
                                            QByteArray(infoPlist({})).replace("SUPublicEDKey", "Other"))
                                     << false;
        QTest::newRow("31 bytes") << std::optional<QByteArray>(infoPlist(keyOfLength(31))) << false;
        QTest::newRow("33 bytes") << std::optional<QByteArray>(infoPlist(keyOfLength(33))) << false;
        QTest::newRow("32 bytes") << std::optional<QByteArray>(infoPlist(keyOfLength(32))) << true;
    }

    void checkForUpdatesFollowsTheKey() {
        QFETCH(std::optional<QByteArray>, plist);
        QFETCH(bool, enabled);
        TarnbyApp app(*qApp, setup(plist));
        auto* check = app.window().menuBar()->findChild<QAction*>(QStringLiteral("check-for-updates"));
        QVERIFY(check);
        QCOMPARE(check->isEnabled(), enabled);
        QCOMPARE(app.updater().canCheck(), enabled);
        // The window and model come up either way.
        QCOMPARE(app.model().didScan(), false);
    }
};

QTEST_MAIN(TarnbyAppTest)
#include "tarnby_app_qtest.moc"
