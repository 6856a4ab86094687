// The update check: what configures it, how the feed is read, and the dialog's three outcomes
// against a feed served on 127.0.0.1.
#include <QAccessible>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "app/shell/app_updater.h"
#include "app/shell/appcast.h"
#include "app/shell/update_dialog.h"

using namespace quillet::ui;

namespace {

QString keyOfLength(int bytes) { return QString::fromLatin1(QByteArray(bytes, '\x5a').toBase64()); }

QByteArray infoPlist(const std::optional<QString>& key, const std::optional<QString>& feed) {
    QByteArray text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleName</key><string>Quillet</string>";
    if (key) text += "<key>SUPublicEDKey</key><string>" + key->toUtf8() + "</string>";
    if (feed) text += "<key>SUFeedURL</key><string>" + feed->toUtf8() + "</string>";
    return text + "</dict></plist>\n";
}

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Quillet</title>" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& link, const QByteArray& extra = {}) {
    return "<item><title>Quillet " + version + "</title><sparkle:version>" + version + "</sparkle:version><link>" +
           link + "</link>" + extra + "</item>";
}

// Answers every HTTP GET with one fixed response, and counts the requests.
class FeedServer : public QObject {
public:
    FeedServer(QByteArray status, QByteArray body, QByteArray headers = {})
        : m_status(std::move(status)), m_body(std::move(body)), m_headers(std::move(headers)) {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n")) return;
                    ++requests;
                    socket->write("HTTP/1.1 " + m_status + "\r\n" + m_headers +
                                  "Content-Type: application/rss+xml\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()); }
    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_status;
    QByteArray m_body;
    QByteArray m_headers;
    QByteArray m_request;
};

struct Check {
    UpdateCheckResult result;
    QString headline;
    QString detail;
    bool offersDownload = false;
};

// Runs one user check and reads the dialog it leaves open.
Check runCheck(AppUpdater& updater) {
    QSignalSpy finished(&updater, &AppUpdater::checkFinished);
    QSignalSpy canCheck(&updater, &AppUpdater::canCheckChanged);
    updater.checkForUpdates();
    Check check;
    if (!updater.dialog()) return check;
    // The dialog is up at once, saying it is checking, and no second check can start.
    check.headline = updater.dialog()->headline();
    if (check.headline != QStringLiteral("Checking for updates…") || updater.canCheck()) return check;
    if (!finished.wait(10'000)) return check;
    check.result = finished.first().first().value<UpdateCheckResult>();
    check.headline = updater.dialog()->headline();
    check.detail = updater.dialog()->detail();
    check.offersDownload = updater.dialog()->offersDownload();
    if (canCheck.size() != 2 || canCheck[0][0].toBool() || !canCheck[1][0].toBool()) check.headline += " [canCheck]";
    return check;
}

}  // namespace

class AppUpdaterTest : public QObject {
    Q_OBJECT

private slots:
    void versionsCompareNumerically() {
        QVERIFY(compareVersions(u"1.10", u"1.9") > 0);
        QVERIFY(compareVersions(u"1.9", u"1.10") < 0);
        QCOMPARE(compareVersions(u"1.0", u"1.0.0"), 0);
        QCOMPARE(compareVersions(u"01.002", u"1.2"), 0);
        QVERIFY(compareVersions(u"2", u"1.99.99") > 0);
        QVERIFY(compareVersions(u"1.123456789012345678901234567890", u"1.99999999999999999999") > 0);
        for (const char* bad : {"", "1.", ".1", "1..2", "1.2b", "v1.2", "1,2", " 1.2"}) {
            QVERIFY2(!isVersion(QString::fromLatin1(bad)), bad);
        }
        QVERIFY(isVersion(u"0.1.0"));
    }

    void feedPicksTheHighestUsableRelease() {
        const auto reading =
            readAppcast(feed(item("1.9", "https://example.org/1.9") +
                             item("1.10", "https://example.org/1.10",
                                  "<sparkle:shortVersionString>1.10 (spring)</sparkle:shortVersionString>") +
                             item("1.2", "https://example.org/1.2") +
                             // Pre-releases of a named channel, unusable addresses and versions are passed over.
                             item("9.0", "https://example.org/beta", "<sparkle:channel>beta</sparkle:channel>") +
                             item("8.0", "javascript:alert(1)") + item("7.0", "file:///etc/passwd") +
                             item("6.0b", "https://example.org/b")));
        QVERIFY2(reading.newest, qPrintable(reading.error));
        QCOMPARE(reading.newest->version, QStringLiteral("1.10"));
        QCOMPARE(reading.newest->displayVersion, QStringLiteral("1.10 (spring)"));
        QCOMPARE(reading.newest->downloadPage, QUrl(QStringLiteral("https://example.org/1.10")));
    }

    void feedTakesVersionAndAddressFromTheEnclosure() {
        const auto reading = readAppcast(
            feed("<item><title>Quillet 2.0</title><enclosure url=\"https://example.org/quillet-2.0.tar.gz\" "
                 "sparkle:version=\"2.0.1\" sparkle:shortVersionString=\"2.0\" length=\"1\" "
                 "type=\"application/octet-stream\"/></item>"));
        QVERIFY2(reading.newest, qPrintable(reading.error));
        QCOMPARE(reading.newest->version, QStringLiteral("2.0.1"));
        QCOMPARE(reading.newest->displayVersion, QStringLiteral("2.0"));
        QCOMPARE(reading.newest->downloadPage.toString(), QStringLiteral("https://example.org/quillet-2.0.tar.gz"));
    }

    void unreadableFeedsSayWhy() {
        const auto broken = readAppcast(feed(item("1.0", "https://example.org/")).replace("</channel>", ""));
        QVERIFY(!broken.newest);
        QVERIFY2(broken.error.startsWith(QStringLiteral("The update feed could not be read: ")),
                 qPrintable(broken.error));
        QVERIFY2(broken.error.contains(QStringLiteral("(line 2).")) && !broken.error.contains(QStringLiteral(". (")),
                 qPrintable(broken.error));

        QCOMPARE(readAppcast({}).newest.has_value(), false);
        QVERIFY(readAppcast({}).error.startsWith(QStringLiteral("The update feed could not be read")));
        QCOMPARE(readAppcast("<html><body>Not here</body></html>").error,
                 QStringLiteral("The update feed is not an RSS feed."));
        QCOMPARE(readAppcast(feed({})).error, QStringLiteral("The update feed lists no versions."));
        // An undeclared namespace prefix is malformed XML, not a missing version.
        QVERIFY(readAppcast("<rss><channel><item><sparkle:version>1</sparkle:version></item></channel></rss>")
                    .error.startsWith(QStringLiteral("The update feed could not be read")));
    }

    void onlyA32ByteStandardBase64KeyCounts() {
        QVERIFY(isPublicEdKey(keyOfLength(32)));
        QVERIFY(isPublicEdKey(QStringLiteral("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=")));
        QVERIFY(!isPublicEdKey(keyOfLength(31)));
        QVERIFY(!isPublicEdKey(keyOfLength(33)));
        QVERIFY(!isPublicEdKey(QString()));
        const QString key = keyOfLength(32);
        QVERIFY(!isPublicEdKey(key.left(43)));                         // padding left out
        QVERIFY(!isPublicEdKey(key.left(20) + u'\n' + key.mid(20)));   // a line break
        QVERIFY(!isPublicEdKey(u' ' + key));                           // whitespace
        QVERIFY(!isPublicEdKey(QString(key).replace(u'a', u'-')));     // URL-safe alphabet
        QVERIFY(!isPublicEdKey(key.left(42) + QStringLiteral("p=")));  // stray bits in the last character
    }

    void updatesNeedAValidKeyAndAFeed() {
        const QString good = keyOfLength(32);
        const QString feedUrl = QStringLiteral("https://updates.example.org/appcast.xml");
        struct Case {
            const char* name;
            QByteArray plist;
            bool configured;
        };
        const Case cases[] = {
            {"no key", infoPlist(std::nullopt, feedUrl), false},
            {"31 bytes", infoPlist(keyOfLength(31), feedUrl), false},
            {"33 bytes", infoPlist(keyOfLength(33), feedUrl), false},
            {"empty key", infoPlist(QString(), feedUrl), false},
            {"no feed", infoPlist(good, std::nullopt), false},
            {"plain http feed elsewhere", infoPlist(good, QStringLiteral("http://updates.example.org/a.xml")), false},
            {"key as data",
             QByteArray(infoPlist(std::nullopt, feedUrl))
                 .replace("</dict>", "<key>SUPublicEDKey</key><data>" + good.toLatin1() + "</data></dict>"),
             false},
            {"not a property list", "SUPublicEDKey=" + good.toLatin1(), false},
            {"32 bytes", infoPlist(good, feedUrl), true},
            {"32 bytes, local http feed", infoPlist(good, QStringLiteral("http://127.0.0.1:8080/a.xml")), true},
        };
        for (const Case& c : cases) {
            AppUpdater updater(AppUpdaterSetup{c.plist, QStringLiteral("1.0"), {}});
            QVERIFY2(updater.configured() == c.configured, c.name);
            QVERIFY2(updater.canCheck() == c.configured, c.name);
            // An unconfigured updater ignores a check request and shows nothing.
            if (!c.configured) {
                updater.checkForUpdates();
                QVERIFY2(!updater.dialog(), c.name);
            }
        }
    }

    void neverChecksByItself() {
        FeedServer server("200 OK", feed(item("9.0", "https://example.org/")));
        AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), server.url()), QStringLiteral("1.0"), {}});
        QVERIFY(updater.canCheck());
        QTest::qWait(300);
        QCOMPARE(server.requests, 0);
        QVERIFY(!updater.dialog());
    }

    void upToDate() {
        FeedServer server("200 OK",
                          feed(item("1.2.0", "https://example.org/1.2") + item("1.1", "https://example.org/1.1")));
        AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), server.url()), QStringLiteral("1.2"), {}});
        const Check check = runCheck(updater);
        QCOMPARE(check.headline, QStringLiteral("You’re up to date."));
        QCOMPARE(check.detail, QStringLiteral("Quillet 1.2 is the newest version available."));
        QVERIFY(!check.offersDownload);
        QCOMPARE(check.result.outcome, UpdateCheckResult::Outcome::upToDate);
        QCOMPARE(server.requests, 1);
    }

    void feedsAreJudgedAgainstTheRunningVersion() {
        const QByteArray releases =
            feed(item("1.9", "https://example.org/1.9") + item("1.10", "https://example.org/1.10"));
        const auto ahead = judgeFeed(releases, QStringLiteral("1.11"));
        QCOMPARE(ahead.outcome, UpdateCheckResult::Outcome::upToDate);
        QVERIFY(ahead.aheadOfFeed);
        QCOMPARE(ahead.newVersion, QStringLiteral("1.10"));
        // "1.10.0" is the release "1.10", not something older.
        const auto same = judgeFeed(releases, QStringLiteral("1.10.0"));
        QCOMPARE(same.outcome, UpdateCheckResult::Outcome::upToDate);
        QVERIFY(!same.aheadOfFeed);
        const auto behind = judgeFeed(releases, QStringLiteral("1.9.9"));
        QCOMPARE(behind.outcome, UpdateCheckResult::Outcome::available);
        QCOMPARE(behind.downloadPage, QUrl(QStringLiteral("https://example.org/1.10")));
        const auto unversioned = judgeFeed(releases, QString());
        QCOMPARE(unversioned.outcome, UpdateCheckResult::Outcome::failed);
        QVERIFY(!unversioned.problem.isEmpty());

        UpdateDialog dialog;
        dialog.showResult(ahead);
        QCOMPARE(dialog.detail(), QStringLiteral("Quillet 1.11 is newer than the latest release, 1.10."));
    }

    void newerVersionOffersItsDownloadPage() {
        FeedServer server("200 OK",
                          feed(item("1.9", "https://example.org/1.9") + item("1.10", "https://example.org/1.10")));
        QList<QUrl> opened;
        AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), server.url()), QStringLiteral("1.9"),
                                           [&opened](const QUrl& url) { opened.append(url); }});
        const Check check = runCheck(updater);
        QCOMPARE(check.headline, QStringLiteral("Quillet 1.10 is available."));
        QCOMPARE(check.detail,
                 QStringLiteral("You have version 1.9. The download page has the new version and what changed."));
        QVERIFY(check.offersDownload);

        auto* download = updater.dialog()->findChild<QPushButton*>(QStringLiteral("update-download"));
        QVERIFY(download && download->isVisible());
        download->click();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/1.10"))});

        // A second check reuses a fresh dialog and finds the same.
        QTRY_VERIFY(!updater.dialog());
        QCOMPARE(runCheck(updater).headline, QStringLiteral("Quillet 1.10 is available."));
        QCOMPARE(server.requests, 2);
    }

    void failuresAreShownNotHidden() {
        {
            FeedServer server("404 Not Found", "gone");
            AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), server.url()), QStringLiteral("1.0"), {}});
            const Check check = runCheck(updater);
            QCOMPARE(check.headline, QStringLiteral("The update check failed."));
            QCOMPARE(check.detail,
                     QStringLiteral("The update server answered “404 Not Found” for %1.").arg(server.url()));
            QVERIFY(!check.offersDownload);
        }
        {
            FeedServer server("200 OK", "<rss><channel><item>");
            AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), server.url()), QStringLiteral("1.0"), {}});
            const Check check = runCheck(updater);
            QCOMPARE(check.headline, QStringLiteral("The update check failed."));
            QVERIFY2(check.detail.startsWith(QStringLiteral("The update feed could not be read: ")),
                     qPrintable(check.detail));
        }
        {
            // Nothing listens on the port any more.
            QString url;
            {
                FeedServer gone("200 OK", {});
                url = gone.url();
            }
            AppUpdater updater(AppUpdaterSetup{infoPlist(keyOfLength(32), url), QStringLiteral("1.0"), {}});
            const Check check = runCheck(updater);
            QCOMPARE(check.headline, QStringLiteral("The update check failed."));
            QVERIFY2(check.detail.startsWith(QStringLiteral("The update server could not be reached: ")) &&
                         check.detail.endsWith(u'.') && !check.detail.endsWith(QStringLiteral("..")),
                     qPrintable(check.detail));
        }
    }

    void textFromTheFeedStaysPlain() {
        UpdateDialog dialog;
        UpdateCheckResult result;
        result.outcome = UpdateCheckResult::Outcome::available;
        result.runningVersion = QStringLiteral("1.0");
        result.newVersion = QStringLiteral("<b>2.0</b>");
        result.downloadPage = QUrl(QStringLiteral("https://example.org/"));
        dialog.showResult(result);
        auto spoken = [&dialog](const char* name) {
            return QAccessible::queryAccessibleInterface(dialog.findChild<QLabel*>(QLatin1String(name)))
                ->text(QAccessible::Name);
        };
        QCOMPARE(spoken("update-headline"), QStringLiteral("Quillet <b>2.0</b> is available."));
        result.outcome = UpdateCheckResult::Outcome::failed;
        result.problem = QStringLiteral("The update server answered “500 <h1>Down</h1>”.");
        dialog.showResult(result);
        QCOMPARE(spoken("update-detail"), result.problem);
    }

    // Every hop of a redirect keeps to the feed's rules, and a server that trickles is given up on.
    void redirectsAndSlowServersAreHeldToTheRules() {
        QVERIFY(isRedirectAllowed(QUrl(QStringLiteral("http://127.0.0.1/a")), QUrl(QStringLiteral("https://x.org/a"))));
        QVERIFY(
            !isRedirectAllowed(QUrl(QStringLiteral("https://x.org/a")), QUrl(QStringLiteral("http://127.0.0.1/a"))));
        QVERIFY(!isRedirectAllowed(QUrl(QStringLiteral("http://127.0.0.1/a")), QUrl(QStringLiteral("http://x.org/a"))));

        FeedServer target("200 OK", feed(item("1.0", "https://example.org/1.0")));
        FeedServer moved("302 Found", {}, "Location: " + target.url().toLatin1() + "\r\n");
        AppUpdater follows(AppUpdaterSetup{infoPlist(keyOfLength(32), moved.url()), QStringLiteral("1.0"), {}});
        QCOMPARE(runCheck(follows).headline, QStringLiteral("You’re up to date."));

        FeedServer away("302 Found", {}, "Location: http://192.0.2.1/appcast.xml\r\n");
        AppUpdater refuses(AppUpdaterSetup{infoPlist(keyOfLength(32), away.url()), QStringLiteral("1.0"), {}});
        const Check refused = runCheck(refuses);
        QCOMPARE(refused.headline, QStringLiteral("The update check failed."));
        QVERIFY2(refused.detail.contains(QStringLiteral("http://192.0.2.1/appcast.xml")), qPrintable(refused.detail));

        // A byte every 50 ms never trips the idle limit; the deadline ends it.
        QTcpServer trickle;
        QVERIFY(trickle.listen(QHostAddress::LocalHost));
        QTimer drip;
        QList<QPointer<QTcpSocket>> sockets;
        QObject::connect(&trickle, &QTcpServer::newConnection, [&] {
            QTcpSocket* socket = trickle.nextPendingConnection();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<");
            sockets.append(socket);
        });
        QObject::connect(&drip, &QTimer::timeout, [&] {
            for (const auto& socket : sockets) {
                if (socket) socket->write(" ");
            }
        });
        drip.start(50);
        AppUpdater patient(AppUpdaterSetup{
            infoPlist(keyOfLength(32), QStringLiteral("http://127.0.0.1:%1/a.xml").arg(trickle.serverPort())),
            QStringLiteral("1.0"),
            {},
            std::chrono::milliseconds(600)});
        QElapsedTimer clock;
        clock.start();
        const Check slow = runCheck(patient);
        QCOMPARE(slow.detail, QStringLiteral("The update server took too long to send the feed."));
        QVERIFY(clock.elapsed() < 5000);
    }

    void closingTheDialogStopsTheCheck() {
        // A server that accepts the connection but never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        AppUpdater updater(AppUpdaterSetup{
            infoPlist(keyOfLength(32), QStringLiteral("http://127.0.0.1:%1/a.xml").arg(silent.serverPort())),
            QStringLiteral("1.0"),
            {}});
        QSignalSpy finished(&updater, &AppUpdater::checkFinished);
        updater.checkForUpdates();
        QVERIFY(!updater.canCheck());
        updater.dialog()->findChild<QPushButton*>(QStringLiteral("update-close"))->click();
        QVERIFY(updater.canCheck());
        QTest::qWait(100);
        QCOMPARE(finished.size(), 0);
    }
};

QTEST_MAIN(AppUpdaterTest)
#include "app_updater_qtest.moc"
