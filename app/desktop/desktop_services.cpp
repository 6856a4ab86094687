#include "app/desktop/desktop_services.h"

#include <QClipboard>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStringList>

#include "core/platform/paths.h"

namespace quillet::ui {
namespace {

constexpr int kRevealTimeoutMs = 3000;

}  // namespace

QString fileUri(const std::string& path) {
    const QByteArray encoded = QByteArray::fromStdString(path).toPercentEncoding("/");
    return QStringLiteral("file://") + QString::fromLatin1(encoded);
}

RevealRoute desktopRevealRoute() {
    return RevealRoute{QDBusConnection::sessionBus(),
                       [](const QUrl& folder) { return QDesktopServices::openUrl(folder); }, kRevealTimeoutMs};
}

void revealInFileManager(const std::string& path, const RevealRoute& route, std::function<void()> failed) {
    const QUrl folder = QUrl::fromEncoded(fileUri(tarnby::paths::parent(path)).toLatin1());
    auto openFolder = [open = route.openFolder, failed = std::move(failed)](const QUrl& url) {
        if (!open(url) && failed) failed();
    };
    if (!route.bus.isConnected()) {
        openFolder(folder);
        return;
    }
    // A plain method call rather than QDBusInterface, whose constructor introspects the
    // remote object synchronously.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUri(path)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(route.bus.asyncCall(call, route.timeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder, openFolder] {
        if (watcher->isError()) {
            openFolder(folder);
        }
        watcher->deleteLater();
    });
}

void revealInFileManager(const std::string& path, std::function<void()> failed) {
#ifdef Q_OS_MACOS
    // `open` hands the request to the Finder and exits; detached, so it is reaped by launchd.
    const bool started =
        QProcess::startDetached(QStringLiteral("/usr/bin/open"), {QStringLiteral("-R"), QString::fromStdString(path)});
    if (!started && failed) failed();
#else
    revealInFileManager(path, desktopRevealRoute(), std::move(failed));
#endif
}

void copyPlainText(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

}  // namespace quillet::ui
