#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/shell/update_dialog.h"

class QNetworkAccessManager;
class QTimer;

namespace quillet::ui {

// What a finished update check found.
struct UpdateCheckResult {
    enum class Outcome { upToDate, available, failed };
    Outcome outcome = Outcome::failed;
    QString runningVersion;
    QString newVersion;        // the feed's newest version as shown to the user (available, up to date)
    bool aheadOfFeed = false;  // up to date, and newer than anything the feed lists (a pre-release)
    QUrl downloadPage;         // available only
    QString problem;           // failed only: one sentence
};

// Where an updater's settings come from. The defaults are the application's own.
struct AppUpdaterSetup {
    // The information property list; none: the bundle's Info.plist on macOS, the copy
    // compiled in as ":/app/Info.plist" elsewhere.
    std::optional<QByteArray> infoPlist;
    // Empty: QCoreApplication::applicationVersion().
    QString runningVersion;
    // Opens a download page; null: QDesktopServices::openUrl.
    std::function<void(const QUrl&)> openUrl;
    // The longest a whole check may take, however steadily the server trickles.
    std::chrono::milliseconds deadline = std::chrono::seconds(60);
};

// Whether `text` is standard base64 (RFC 4648 alphabet, padded, no whitespace or line breaks)
// of exactly 32 bytes: the only public key that turns updates on.
bool isPublicEdKey(const QString& text);

// Whether the feed address may be fetched: https, or plain http to this machine only.
bool isFeedAddress(const QUrl& url);
// Whether a fetch of `from` may follow a redirect to `to`: to a feed address, and never from
// https down to plain http.
bool isRedirectAllowed(const QUrl& from, const QUrl& to);

// The update checker. Configured only when the property list holds a valid "SUPublicEDKey"
// and a feed address ("SUFeedURL"); otherwise it stays idle for the whole run. It never
// checks by itself: a check starts only from checkForUpdates(), i.e. from the user.
// Main thread only.
class AppUpdater final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)

public:
    explicit AppUpdater(AppUpdaterSetup setup = {}, QObject* parent = nullptr);
    ~AppUpdater() override;

    bool configured() const { return m_configured; }
    const QUrl& feedUrl() const { return m_feedUrl; }
    // True when configured and no check is running.
    bool canCheck() const { return m_configured && !m_reply; }

    // The window the result dialog belongs to.
    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }
    // The result dialog of the last check, while it is open (tests read it).
    UpdateDialog* dialog() const { return m_dialog; }

public slots:
    // Fetches the feed and shows what it says in a non-modal dialog; does nothing unless
    // canCheck().
    void checkForUpdates();

signals:
    void canCheckChanged(bool canCheck);
    // After every check, with what the dialog shows.
    void checkFinished(const quillet::ui::UpdateCheckResult& result);

private:
    void finishCheck();
    void cancelCheck();
    void setReply(QNetworkReply* reply);
    // Breaks off the running check, saying `why` in its result.
    void stop(QNetworkReply* reply, const QString& why);

    AppUpdaterSetup m_setup;
    bool m_configured = false;
    QUrl m_feedUrl;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_deadline = nullptr;
    // Why the running check was broken off, if it was.
    QString m_stopped;
    QPointer<QWidget> m_dialogParent;
    QPointer<UpdateDialog> m_dialog;
};

// Turns a fetched feed into what the dialog says, for the version that is running.
UpdateCheckResult judgeFeed(const QByteArray& feed, const QString& runningVersion);

}  // namespace quillet::ui
