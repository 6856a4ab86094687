#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariant>
#include <functional>
#include <optional>

#include "app/look/environment.h"

class QApplication;
class QDBusMessage;

namespace quillet::ui {

// The portal's colour-scheme value: 1 asks for dark, 2 for light, anything else has no
// preference.
std::optional<Appearance> appearanceFromColorScheme(uint value);
// Without a preference, a dark window colour means a dark desktop.
Appearance appearanceFromPalette(const QPalette& palette);

// Keeps an Environment current from the desktop's settings. The freedesktop settings portal
// answers first; a setting it cannot give comes from `fallback` (gsettings by default); the
// appearance without a portal preference comes from the application palette. Nothing here
// fails loudly: an absent service or tool leaves the value as it was.
class DesktopSettings : public QObject {
    Q_OBJECT
public:
    // Reads one GNOME setting ("org.gnome.desktop.interface", "enable-animations"), or nothing.
    using Reader = std::function<std::optional<QVariant>(const QString& schema, const QString& key)>;

    DesktopSettings(Environment& env, QDBusConnection bus, Reader fallback, QObject* parent = nullptr);

    // Reads every setting again; called once on construction.
    void refresh();
    bool portalAnswered() const { return m_portalAnswered; }

    // `gsettings get`, with a short time limit; nothing when the tool is missing or fails.
    static std::optional<QVariant> readGSettings(const QString& schema, const QString& key);
    // The palette the desktop's theme gives, even while the application shows the woodland one.
    static QPalette desktopPalette();
    static bool isWoodlandPalette(const QPalette& palette);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void settingChanged(const QDBusMessage& message);

private:
    std::optional<QVariant> readPortal(const QString& name, const QString& key);
    std::optional<QVariant> read(const QString& name, const QString& key);
    void applyColorScheme(std::optional<Appearance> preferred);
    void apply(const QString& name, const QString& key, const QVariant& value);

    Environment& m_env;
    QDBusConnection m_bus;
    Reader m_fallback;
    bool m_portalAnswered = false;
    std::optional<Appearance> m_preferred;  // what the portal asked for, if anything
    bool m_rereadPending = false;
    static inline bool s_readingDesktop = false;
};

#ifdef Q_OS_MACOS
// The system appearance and the workspace's accessibility display options, kept current.
void followMacDesktop(Environment& env, QApplication& app);
#endif

}  // namespace quillet::ui
