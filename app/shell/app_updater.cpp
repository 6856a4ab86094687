#include "app/shell/app_updater.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <string_view>

#include "app/shell/appcast.h"
#include "app/shell/update_dialog.h"
#include "core/platform/plist.h"

namespace quillet::ui {

namespace {

constexpr qsizetype kPublicKeyBytes = 32;
// A feed lists a few releases; anything far larger is not ours.
constexpr qint64 kMaximumFeedBytes = 4 * 1024 * 1024;
constexpr int kTransferTimeoutMs = 30'000;

QByteArray applicationInfoPlist() {
#ifdef Q_OS_MACOS
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/../Info.plist"));
#else
    QFile file(QStringLiteral(":/app/Info.plist"));
#endif
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

std::optional<QString> infoString(const QByteArray& plist, std::string_view key) {
    const auto value = tarnby::plist::stringValue(std::string_view(plist.constData(), plist.size()), key);
    if (!value) return std::nullopt;
    return QString::fromStdString(*value);
}

}  // namespace

bool isPublicEdKey(const QString& text) {
    const QByteArray ascii = text.toLatin1();
    auto decoded = QByteArray::fromBase64Encoding(ascii, QByteArray::AbortOnBase64DecodingErrors);
    // Qt's decoder tolerates missing padding and stray bits; only the canonical spelling of
    // what it decoded passes.
    return decoded && decoded.decoded.size() == kPublicKeyBytes && decoded.decoded.toBase64() == ascii;
}

bool isFeedAddress(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == QLatin1String("https")) return true;
    if (url.scheme() != QLatin1String("http")) return false;
    const QHostAddress host(url.host());
    return url.host() == QLatin1String("localhost") || (!host.isNull() && host.isLoopback());
}

bool isRedirectAllowed(const QUrl& from, const QUrl& to) {
    const bool downgrade = from.scheme() == QLatin1String("https") && to.scheme() != QLatin1String("https");
    return isFeedAddress(to) && !downgrade;
}

UpdateCheckResult judgeFeed(const QByteArray& feed, const QString& runningVersion) {
    UpdateCheckResult result;
    result.runningVersion = runningVersion;
    const AppcastReading reading = readAppcast(feed);
    if (!reading.newest) {
        result.problem = reading.error;
        return result;
    }
    if (!isVersion(runningVersion)) {
        result.problem = QStringLiteral("This copy of Quillet has no version to compare (“%1”).").arg(runningVersion);
        return result;
    }
    result.newVersion = reading.newest->displayVersion;
    const int order = compareVersions(reading.newest->version, runningVersion);
    if (order > 0) {
        result.outcome = UpdateCheckResult::Outcome::available;
        result.downloadPage = reading.newest->downloadPage;
    } else {
        result.outcome = UpdateCheckResult::Outcome::upToDate;
        result.aheadOfFeed = order < 0;
    }
    return result;
}

AppUpdater::AppUpdater(AppUpdaterSetup setup, QObject* parent) : QObject(parent), m_setup(std::move(setup)) {
    if (m_setup.runningVersion.isEmpty()) m_setup.runningVersion = QCoreApplication::applicationVersion();
    if (!m_setup.openUrl) m_setup.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    const QByteArray plist = m_setup.infoPlist ? *m_setup.infoPlist : applicationInfoPlist();

    // Unconfigured is not an error: a build without a signing key simply has no update check.
    const auto key = infoString(plist, "SUPublicEDKey");
    if (!key || !isPublicEdKey(*key)) return;
    const auto feed = infoString(plist, "SUFeedURL");
    if (!feed) return;
    const QUrl feedUrl(feed->trimmed(), QUrl::StrictMode);
    if (!isFeedAddress(feedUrl)) return;
    m_feedUrl = feedUrl;
    m_configured = true;
}

AppUpdater::~AppUpdater() {
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    delete m_dialog.data();
}

void AppUpdater::setReply(QNetworkReply* reply) {
    const bool could = canCheck();
    m_reply = reply;
    if (canCheck() != could) emit canCheckChanged(canCheck());
}

void AppUpdater::checkForUpdates() {
    if (!canCheck()) return;
    if (!m_dialog) {
        m_dialog = new UpdateDialog(m_dialogParent);
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_dialog, &UpdateDialog::downloadRequested, this, [this](const QUrl& url) { m_setup.openUrl(url); });
        connect(m_dialog, &QDialog::finished, this, &AppUpdater::cancelCheck);
    }
    m_dialog->showChecking();
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();

    if (!m_network) m_network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(m_feedUrl);
    // An idle server is given up on after a while; a trickling one by the deadline below.
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Quillet/%1").arg(m_setup.runningVersion));
    // Every hop is held to the rule the feed address is.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    m_stopped.clear();
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > kMaximumFeedBytes)
            stop(reply, QStringLiteral("The update feed is larger than any feed Quillet reads."));
    });
    connect(reply, &QNetworkReply::redirected, this, [this, reply, from = m_feedUrl](const QUrl& to) mutable {
        if (!isRedirectAllowed(from, to)) {
            stop(reply, QStringLiteral("The update server sent the check on to %1, where Quillet does not fetch from.")
                            .arg(to.toDisplayString()));
            return;
        }
        from = to;
        emit reply->redirectAllowed();
    });
    connect(reply, &QNetworkReply::finished, this, &AppUpdater::finishCheck);
    if (!m_deadline) {
        m_deadline = new QTimer(this);
        m_deadline->setSingleShot(true);
        connect(m_deadline, &QTimer::timeout, this, [this] {
            if (m_reply) stop(m_reply, QStringLiteral("The update server took too long to send the feed."));
        });
    }
    m_deadline->start(m_setup.deadline);
    setReply(reply);
}

void AppUpdater::stop(QNetworkReply* reply, const QString& why) {
    if (!m_stopped.isEmpty()) return;
    m_stopped = why;
    reply->abort();
}

void AppUpdater::cancelCheck() {
    if (!m_reply) return;
    m_deadline->stop();
    QNetworkReply* reply = m_reply;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    setReply(nullptr);
}

void AppUpdater::finishCheck() {
    QNetworkReply* reply = m_reply;
    if (!reply) return;
    reply->deleteLater();
    m_deadline->stop();
    UpdateCheckResult result;
    result.runningVersion = m_setup.runningVersion;
    if (!m_stopped.isEmpty()) {
        result.problem = m_stopped;
    } else if (const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); status >= 400) {
        result.problem = QStringLiteral("The update server answered “%1 %2” for %3.")
                             .arg(status)
                             .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                                  m_feedUrl.toDisplayString());
    } else if (reply->error() != QNetworkReply::NoError) {
        result.problem = QStringLiteral("The update server could not be reached: %1.").arg(reply->errorString());
    } else {
        result = judgeFeed(reply->readAll(), m_setup.runningVersion);
    }
    setReply(nullptr);
    if (m_dialog) m_dialog->showResult(result);
    emit checkFinished(result);
}

}  // namespace quillet::ui
