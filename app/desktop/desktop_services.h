#pragma once

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

// The few desktop services the sheets ask for: showing an item in the file manager and
// putting text on the clipboard. Main thread only; nothing here waits on the disk or the bus.
namespace quillet::ui {

// Asks the desktop's file manager to open a window with `path` selected. On Linux that is
// org.freedesktop.FileManager1.ShowItems on the session bus; when no file manager answers
// (none registered, an error, or no reply in time) the folder holding `path` is opened
// instead. On macOS the Finder reveals it. Returns at once; the bus's answer is handled
// later on this thread. `failed`, when given, is called (on this thread, perhaps later) when
// neither could be asked, so the caller can say that nothing will open.
void revealInFileManager(const std::string& path, std::function<void()> failed = {});

// Where a reveal goes, so tests can use a private bus and watch the fallback.
struct RevealRoute {
    QDBusConnection bus;
    std::function<bool(const QUrl& folder)> openFolder;  // false: nothing could open it
    int timeoutMs;
};
// The default route: the session bus, QDesktopServices, and a timeout that leaves a file
// manager started on demand by the bus time to answer.
RevealRoute desktopRevealRoute();
void revealInFileManager(const std::string& path, const RevealRoute& route, std::function<void()> failed = {});

// "file://" and the path's bytes percent-encoded, so any path (spaces, "%", bytes that are
// not UTF-8) survives the trip to the file manager.
QString fileUri(const std::string& path);

// Replaces whatever the clipboard held with `text` as plain text.
void copyPlainText(const QString& text);

}  // namespace quillet::ui
