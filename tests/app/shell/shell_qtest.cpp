// The application shell: its menu, the one program without a display, and the update check: what
// configures it, how the feed is read, and the dialog's outcomes against a feed served on 127.0.0.1.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/shell/app_updater.h"
#include "app/shell/appcast.h"
#include "app/shell/tarnby_app.h"
#include "app/shell/update_dialog.h"

using namespace quillet::ui;

namespace {

const QString kFeed = QStringLiteral("https://updates.example.org/appcast.xml");

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

const QByteArray kReleases = feed(item("1.9", "https://example.org/1.9") + item("1.10", "https://example.org/1.10"));

// Answers every HTTP GET with one fixed response and closes, and counts the requests. With no status it
// accepts and never answers; with `trickle`, it sends the response's start and then a byte every 50 ms.
class FeedServer : public QObject {
public:
    FeedServer(QByteArray status, QByteArray body = {}, QByteArray headers = {}, bool trickle = false) {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        const QByteArray length = "Content-Length: " + QByteArray::number(trickle ? 100000 : body.size());
        const QByteArray response = "HTTP/1.1 " + status + "\r\n" + headers + "Content-Type: application/rss+xml\r\n" +
                                    length + "\r\n\r\n" + body;
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [=, this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
                    m_request += socket->readAll();
                    if (status.isEmpty() || !m_request.contains("\r\n\r\n")) return;
                    ++requests;
                    socket->write(response);
                    if (!trickle) socket->disconnectFromHost();
                    if (trickle) QObject::connect(&m_drip, &QTimer::timeout, socket, [socket] { socket->write(" "); });
                });
            }
        });
        m_drip.start(50);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()); }
    int requests = 0;

private:
    QTcpServer m_server;
    QTimer m_drip;
    QByteArray m_request;
};

AppUpdaterSetup setupFor(const QString& feedUrl, const QString& running = QStringLiteral("1.0"),
                         std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
    return AppUpdaterSetup{infoPlist(keyOfLength(32), feedUrl), running, {}, deadline};
}

struct Check {
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
    check.headline = updater.dialog()->headline();
    check.detail = updater.dialog()->detail();
    check.offersDownload = updater.dialog()->offersDownload();
    if (canCheck.size() != 2 || canCheck[0][0].toBool() || !canCheck[1][0].toBool()) check.headline += " [canCheck]";
    return check;
}

struct Run {
    int status = -1;
    QProcess::ExitStatus exit = QProcess::CrashExit;
    QString out;
    QString err;
};

// Runs quillet with a fixture home and no display of any kind, plus `extra`.
Run runQuillet(const QStringList& arguments, const QString& home, const QStringList& extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    for (const QString& pair : extra) environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUILLET_EXECUTABLE), arguments);
    if (!process.waitForFinished(30'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.exitStatus(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    TarnbyAppSetup appSetup(std::optional<QByteArray> plist) {
        TarnbyAppSetup s;
        s.model.home = m_home.path().toStdString();
        s.model.availableCapacity = [](const std::string&) { return std::optional<std::int64_t>(1'000'000'000); };
        s.updater.infoPlist = std::move(plist);
        return s;
    }

private slots:
    // No shortcut that opens a second window; "Check for Updates…" follows the updater, and the
    // shipped list has no key.
    void theApplicationMenuAndNoSecondWindow() {
        TarnbyApp app(*qApp, appSetup(std::nullopt));
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(!app.window().menuBar()->findChild<QAction*>(QStringLiteral("check-for-updates"))->isEnabled());
        TarnbyApp updating(*qApp, appSetup(infoPlist(keyOfLength(32), kFeed)));
        QVERIFY(updating.window().menuBar()->findChild<QAction*>(QStringLiteral("check-for-updates"))->isEnabled());
        QVERIFY(!app.window().findChild<QAction*>(QStringLiteral("credits"))->isEnabled());  // text only
        const auto windowsBefore = QApplication::topLevelWidgets().size();
        QTest::keySequence(&app.window(), QKeySequence(QKeySequence::New));
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    }

    // Numerically, part by part, however long the numbers; each pair is tried both ways round.
    void versionsCompareNumerically() {
        const std::tuple<const char16_t*, const char16_t*, int> pairs[] = {
            {u"1.10", u"1.9", 1},
            {u"1.0", u"1.0.0", 0},
            {u"01.002", u"1.2", 0},
            {u"1.123456789012345678901234567890", u"1.99999999999999999999", 1}};
        for (const auto& [a, b, sign] : pairs) {
            QCOMPARE((compareVersions(a, b) > 0) - (compareVersions(a, b) < 0), sign);
            QCOMPARE((compareVersions(b, a) > 0) - (compareVersions(b, a) < 0), -sign);
        }
        for (const char* bad : {"", "1..2", "v1.2"}) {
            QVERIFY2(!isVersion(QString::fromLatin1(bad)), bad);
        }
        QVERIFY(isVersion(u"0.1.0"));
    }

    // The highest usable release (pre-releases of a named channel, unusable addresses and versions
    // passed over), else an error that says its line once.
    void feedsAreRead() {
        const QString unreadable = QStringLiteral("The update feed could not be read: ");
        const std::tuple<QByteArray, QString, QString> cases[] = {
            {feed(item("1.9", "https://example.org/1.9") +
                  item("1.10", "https://example.org/1.10",
                       "<sparkle:shortVersionString>1.10 (spring)</sparkle:shortVersionString>") +
                  item("1.2", "https://example.org/1.2") +
                  item("9.0", "https://example.org/beta", "<sparkle:channel>beta</sparkle:channel>") +
                  item("8.0", "javascript:alert(1)") + item("7.0", "file:///etc/passwd") +
                  item("6.0b", "https://example.org/b")),
             "1.10, 1.10 (spring), https://example.org/1.10", ""},
            {feed("<item><title>Quillet 2.0</title><enclosure url=\"https://example.org/quillet-2.0.tar.gz\" "
                  "sparkle:version=\"2.0.1\" sparkle:shortVersionString=\"2.0\" length=\"1\"/></item>"),
             "2.0.1, 2.0, https://example.org/quillet-2.0.tar.gz", ""},
            {feed(item("1.0", "https://example.org/")).replace("</channel>", ""), unreadable, "(line 2)."},
            {"<html><body>Not here</body></html>", "The update feed is not an RSS feed.", ""},
            {feed({}), "The update feed lists no versions.", ""},
        };
        for (const auto& [xml, found, ending] : cases) {
            const AppcastReading reading = readAppcast(xml);
            const QString read = reading.newest ? QStringList({reading.newest->version, reading.newest->displayVersion,
                                                               reading.newest->downloadPage.toString()})
                                                      .join(QStringLiteral(", "))
                                                : reading.error;
            QVERIFY2(read.startsWith(found) && read.endsWith(ending) && !read.contains(QStringLiteral(". (")),
                     qPrintable(read));
        }
    }

    // Only standard, padded base64 of exactly 32 bytes and a feed address turn updates on; an
    // updater that is not on ignores a check request and shows nothing.
    void updatesNeedAValidKeyAndAFeed() {
        const QString key = keyOfLength(32);
        QVERIFY(isPublicEdKey(key) && isPublicEdKey(QStringLiteral("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=")));
        for (const QString& bad : {keyOfLength(31), keyOfLength(33), QString(key).replace(u'a', u'-'),
                                   key.left(42) + QStringLiteral("p=")}) {
            QVERIFY2(!isPublicEdKey(bad), qPrintable(bad));
        }
        const std::pair<const char*, QByteArray> off[] = {
            {"no key", infoPlist(std::nullopt, kFeed)},
            {"no feed", infoPlist(key, std::nullopt)},
            {"plain http feed elsewhere", infoPlist(key, QStringLiteral("http://updates.example.org/a.xml"))},
        };
        for (const auto& [name, plist] : off) {
            AppUpdater updater(AppUpdaterSetup{plist, QStringLiteral("1.0"), {}});
            QVERIFY2(!updater.configured() && !updater.canCheck(), name);
            updater.checkForUpdates();
            QVERIFY2(!updater.dialog(), name);
        }
        for (const QString& on : {kFeed, QStringLiteral("http://127.0.0.1:8080/a.xml")}) {
            QVERIFY(AppUpdater(setupFor(on)).canCheck());
        }
    }

    // Up to date, ahead of the feed, or why the check failed; a detail ending in … is matched by its
    // start, %1 is the feed's address, and no status means nothing listens any more.
    void theDialogSaysWhatTheCheckFound() {
        const QString failed = QStringLiteral("The update check failed.");
        const std::tuple<QByteArray, QByteArray, QString, QString, QString> cases[] = {
            {"200 OK", kReleases, "1.10.0", "You’re up to date.", "Quillet 1.10.0 is the newest version available."},
            {"200 OK", kReleases, "1.11", "You’re up to date.", "Quillet 1.11 is newer than the latest release, 1.10."},
            {"404 Not Found", "gone", "1.0", failed, "The update server answered “404 Not Found” for %1."},
            {{}, {}, "1.0", failed, "The update server could not be reached: …"},
            {"200 OK", kReleases, "x", failed, "This copy of Quillet has no version to compare…"},
        };
        for (const auto& [status, body, running, headline, detail] : cases) {
            auto server = std::make_unique<FeedServer>(status, body);
            const QString url = server->url();
            if (status.isEmpty()) server.reset();
            AppUpdater updater(setupFor(url, running));
            const Check check = runCheck(updater);
            QCOMPARE(check.headline, headline);
            const bool open = detail.endsWith(u'…');  // one full stop after the system's own words
            QVERIFY2(open ? check.detail.startsWith(detail.chopped(1)) && check.detail.endsWith(u'.') &&
                                !check.detail.endsWith(QStringLiteral(".."))
                          : check.detail == (detail.contains(QStringLiteral("%1")) ? detail.arg(url) : detail),
                     qPrintable(check.detail));
            QVERIFY(!check.offersDownload);
            QCOMPARE(server ? server->requests : 1, 1);
        }
    }

    // Never by itself: only a request checks, and a newer version offers its download page.
    void aNewerVersionOffersItsDownloadPage() {
        FeedServer server("200 OK", kReleases);
        QList<QUrl> opened;
        AppUpdaterSetup setup = setupFor(server.url(), QStringLiteral("1.9"));
        setup.openUrl = [&opened](const QUrl& url) { opened.append(url); };
        AppUpdater updater(setup);
        QTest::qWait(300);
        QVERIFY(server.requests == 0 && !updater.dialog());

        const Check check = runCheck(updater);
        QCOMPARE(check.headline, QStringLiteral("Quillet 1.10 is available."));
        QCOMPARE(check.detail,
                 QStringLiteral("You have version 1.9. The download page has the new version and what changed."));
        auto* download = updater.dialog()->findChild<QPushButton*>(QStringLiteral("update-download"));
        QVERIFY(check.offersDownload && download->isVisible());
        download->click();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/1.10"))});

        // A second check makes a fresh dialog and finds the same.
        QTRY_VERIFY(!updater.dialog());
        QCOMPARE(runCheck(updater).headline, QStringLiteral("Quillet 1.10 is available."));
        QCOMPARE(server.requests, 2);
    }

    void textFromTheFeedStaysPlain() {
        UpdateDialog dialog;
        UpdateCheckResult result;
        result.outcome = UpdateCheckResult::Outcome::available;
        result.runningVersion = QStringLiteral("1.0");
        result.newVersion = QStringLiteral("<b>2.0</b>");
        result.downloadPage = QUrl(QStringLiteral("https://example.org/"));
        dialog.showResult(result);
        auto* headline = dialog.findChild<QLabel*>(QStringLiteral("update-headline"));
        QCOMPARE(QAccessible::queryAccessibleInterface(headline)->text(QAccessible::Name),
                 QStringLiteral("Quillet <b>2.0</b> is available."));
    }

    // Every hop of a redirect keeps to the feed's rules, and a server that trickles is given up on.
    void redirectsAndSlowServersAreHeldToTheRules() {
        const auto allowed = [](const char* from, const char* to) { return isRedirectAllowed(QUrl(from), QUrl(to)); };
        QVERIFY(allowed("http://127.0.0.1/a", "https://x.org/a"));
        QVERIFY(!allowed("https://x.org/a", "http://127.0.0.1/a") && !allowed("http://127.0.0.1/a", "http://x.org/a"));

        FeedServer target("200 OK", feed(item("1.0", "https://example.org/1.0")));
        FeedServer moved("302 Found", {}, "Location: " + target.url().toLatin1() + "\r\n");
        AppUpdater follows(setupFor(moved.url()));
        QCOMPARE(runCheck(follows).headline, QStringLiteral("You’re up to date."));

        FeedServer away("302 Found", {}, "Location: http://192.0.2.1/appcast.xml\r\n");
        AppUpdater refuses(setupFor(away.url()));
        const Check refused = runCheck(refuses);
        QVERIFY2(refused.headline == QStringLiteral("The update check failed.") &&
                     refused.detail.contains(QStringLiteral("http://192.0.2.1/appcast.xml")),
                 qPrintable(refused.detail));

        // A byte every 50 ms never trips the idle limit; the deadline ends it.
        FeedServer trickle("200 OK", "<", {}, true);
        AppUpdater patient(setupFor(trickle.url(), QStringLiteral("1.0"), std::chrono::milliseconds(600)));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCheck(patient).detail, QStringLiteral("The update server took too long to send the feed."));
        QVERIFY(clock.elapsed() < 5000);
    }

    void closingTheDialogStopsTheCheck() {
        FeedServer silent({});
        AppUpdater updater(setupFor(silent.url()));
        QSignalSpy finished(&updater, &AppUpdater::checkFinished);
        updater.checkForUpdates();
        QVERIFY(!updater.canCheck());
        updater.dialog()->findChild<QPushButton*>(QStringLiteral("update-close"))->click();
        QTest::qWait(100);
        QVERIFY(updater.canCheck() && finished.size() == 0);
    }

    // The one `quillet` program: the command line needs no display; the window without one, or
    // with one nothing serves, ends with one line and status 2 instead of an abort in the toolkit.
    void theProgramWithoutADisplay() {
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("Developer/app")));
        const Run suggest =
            runQuillet({QStringLiteral("suggest"), QStringLiteral("--home"), m_home.path()}, m_home.path());
        QCOMPARE((std::pair{suggest.status, suggest.err}), (std::pair{0, QString()}));
        QVERIFY2(suggest.out.contains(m_home.path() + QStringLiteral("/Developer")), qPrintable(suggest.out));
        for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("DISPLAY=:73")}}) {
            const Run run = runQuillet({}, m_home.path(), extra);
            QCOMPARE((std::pair{run.exit, run.status}), (std::pair{QProcess::NormalExit, 2}));
            QVERIFY2(run.out.isEmpty() && run.err.count(u'\n') == 1 && run.err.endsWith(u'\n') &&
                         run.err.contains(QStringLiteral("quillet help")),
                     qPrintable(run.err));
            QVERIFY2(extra.isEmpty() || run.err.contains(QStringLiteral(":73")), qPrintable(run.err));
        }
    }
};

QTEST_MAIN(ShellTest)
#include "shell_qtest.moc"
