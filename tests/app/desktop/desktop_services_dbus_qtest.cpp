#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QTest>

#include <optional>

#include "app/desktop/desktop_services.h"

using quillet::ui::RevealRoute;

// Plays the desktop's file manager on the private session bus; records what it was asked to show.
class StandInFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    bool answers = true;
    QStringList uris;
    int calls = 0;

public slots:
    void ShowItems(const QStringList& itemUris, const QString&) {
        ++calls;
        uris = itemUris;
        if (!answers) setDelayedReply(true);  // and never reply, like a file manager that hangs
    }
};

class DesktopServicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // Never the user's own bus, where a stand-in file manager would clash with the real one.
        if (!qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS")) QSKIP("needs a private session bus (ctest gives one)");
    }
    void cleanup() { QDBusConnection::disconnectFromBus(QStringLiteral("file-manager")); }

    void fileUriEncodesEveryByteThatNeedsIt() {
        QCOMPARE(quillet::ui::fileUri("/tmp/100%/a#b?c"), QStringLiteral("file:///tmp/100%25/a%23b%3Fc"));
        // Not UTF-8: the raw byte goes through unchanged instead of becoming U+FFFD.
        QCOMPARE(quillet::ui::fileUri(std::string("/tmp/caf\xE9")), QStringLiteral("file:///tmp/caf%E9"));
    }

    // One scenario on one bus: nobody owns the name, then a file manager that answers,
    // then one that never answers.
    void revealAsksTheFileManagerAndFallsBackToTheFolder() {
        QDBusConnection client = QDBusConnection::sessionBus();
        QVERIFY(client.isConnected());
        std::optional<QUrl> opened;
        const auto record = [&opened](const QUrl& folder) {
            opened = folder;
            return true;
        };
        RevealRoute route{client, record, 10000};  // the hanging case below uses a short timeout

        // No file manager on the bus: the parent folder is opened.
        quillet::ui::revealInFileManager("/srv/work/My Site/node_modules", route);
        QVERIFY(!opened.has_value());  // never synchronously: the answer comes later
        QTRY_VERIFY(opened.has_value());
        QCOMPARE(opened->toString(QUrl::FullyEncoded), QStringLiteral("file:///srv/work/My%20Site"));

        QDBusConnection service =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("file-manager"));
        StandInFileManager fileManager;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

        // It answers: it is asked to select the item, and nothing else is opened.
        opened.reset();
        quillet::ui::revealInFileManager("/srv/work/My Site/node_modules", route);
        QTRY_COMPARE(fileManager.calls, 1);
        QCOMPARE(fileManager.uris, QStringList{QStringLiteral("file:///srv/work/My%20Site/node_modules")});
        QTest::qWait(300);  // the answer has come back by now: a fallback on it would show here
        QVERIFY(!opened.has_value());

        // It hangs: after the timeout the folder is opened after all.
        fileManager.answers = false;
        QElapsedTimer clock;
        clock.start();
        quillet::ui::revealInFileManager("/srv/work/app/target", RevealRoute{client, record, 400});
        QTRY_VERIFY(opened.has_value());
        QVERIFY(clock.elapsed() >= 300 && fileManager.calls == 2);
        QCOMPARE(opened->toLocalFile(), QStringLiteral("/srv/work/app"));
    }

    void revealWithoutABusOpensTheFolderAtOnceAndSaysWhenNothingCould() {
        std::optional<QUrl> opened;
        bool opens = true;
        int failures = 0;
        RevealRoute route{QDBusConnection(QStringLiteral("not-connected")),
                          [&](const QUrl& folder) {
                              opened = folder;
                              return opens;
                          },
                          400};
        quillet::ui::revealInFileManager("/srv/work/site/.next", route, [&failures] { ++failures; });
        QVERIFY(opened && opened->toLocalFile() == QStringLiteral("/srv/work/site") && failures == 0);
        opens = false;
        quillet::ui::revealInFileManager("/srv/work/site/.next", route, [&failures] { ++failures; });
        QCOMPARE(failures, 1);
    }
};

QTEST_GUILESS_MAIN(DesktopServicesTest)
#include "desktop_services_dbus_qtest.moc"
