#include "app/look/desktop_settings.h"

#include <unistd.h>
#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <csignal>

#include "app/look/palette.h"

namespace quillet::ui {

namespace {
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");
const QString kInterface = QStringLiteral("org.gnome.desktop.interface");
const QString kAnimations = QStringLiteral("enable-animations");
const QString kA11yInterface = QStringLiteral("org.gnome.desktop.a11y.interface");
const QString kHighContrast = QStringLiteral("high-contrast");
// A portal that is there answers at once; one that never answers must not hold up start-up.
constexpr int kPortalTimeoutMs = 1500;
constexpr int kGSettingsTimeoutMs = 1500;

QVariant unwrap(QVariant value) {
    // Read() wraps the value in a second variant; ReadOne() in one.
    while (value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    return value;
}

}  // namespace

std::optional<Appearance> appearanceFromColorScheme(uint value) {
    if (value == 1) return Appearance::dark;
    if (value == 2) return Appearance::light;
    return std::nullopt;
}

Appearance appearanceFromPalette(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    return window.lightnessF() < 0.5 ? Appearance::dark : Appearance::light;
}

DesktopSettings::DesktopSettings(Environment& env, QDBusConnection bus, Reader fallback, QObject* parent)
    : QObject(parent), m_env(env), m_bus(std::move(bus)), m_fallback(std::move(fallback)) {
    if (m_bus.isConnected()) {
        // The whole message: a typed slot would need QDBusVariant registered before this call.
        m_bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                      SLOT(settingChanged(QDBusMessage)));
    }
    refresh();
    if (qApp) qApp->installEventFilter(this);
}

std::optional<QVariant> DesktopSettings::readPortal(const QString& name, const QString& key) {
    if (!m_bus.isConnected()) return std::nullopt;
    for (const QString& method : {QStringLiteral("ReadOne"), QStringLiteral("Read")}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, method);
        call << name << key;
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kPortalTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            m_portalAnswered = true;
            return unwrap(reply.arguments().constFirst());
        }
        // Older portals have only Read; any other failure will not be helped by trying it.
        if (reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) break;
    }
    return std::nullopt;
}

std::optional<QVariant> DesktopSettings::read(const QString& name, const QString& key) {
    if (auto value = readPortal(name, key)) return value;
    if (m_fallback && name != kAppearance) return m_fallback(name, key);
    return std::nullopt;
}

void DesktopSettings::refresh() {
    m_portalAnswered = false;
    const auto scheme = readPortal(kAppearance, kColorScheme);
    applyColorScheme(scheme ? appearanceFromColorScheme(scheme->toUInt()) : std::nullopt);
    if (auto value = read(kInterface, kAnimations)) apply(kInterface, kAnimations, *value);
    if (auto value = read(kA11yInterface, kHighContrast)) apply(kA11yInterface, kHighContrast, *value);
    // There is no desktop setting for reduced transparency on Linux.
    m_env.setReduceTransparency(false);
}

void DesktopSettings::applyColorScheme(std::optional<Appearance> preferred) {
    m_preferred = preferred;
    if (m_preferred) {
        m_env.setAppearance(*m_preferred);
    } else {
        m_env.setAppearance(appearanceFromPalette(desktopPalette()));
    }
}

void DesktopSettings::apply(const QString& name, const QString& key, const QVariant& value) {
    if (name == kAppearance && key == kColorScheme) {
        applyColorScheme(appearanceFromColorScheme(value.toUInt()));
    } else if (name == kInterface && key == kAnimations) {
        m_env.setReduceMotion(!value.toBool());
    } else if (name == kA11yInterface && key == kHighContrast) {
        m_env.setIncreasedContrast(value.toBool());
    }
}

void DesktopSettings::settingChanged(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 3) return;
    apply(arguments[0].toString(), arguments[1].toString(), unwrap(arguments[2]));
}

bool DesktopSettings::eventFilter(QObject* watched, QEvent* event) {
    // The desktop's palette only decides while the portal states no preference. A theme change
    // reaches every window, so the reading waits for the event loop and happens once.
    const bool themeChanged = event->type() == QEvent::ThemeChange;
    const bool paletteChanged = event->type() == QEvent::ApplicationPaletteChange && watched == qApp &&
                                !isWoodlandPalette(QGuiApplication::palette());
    if (!m_preferred && !s_readingDesktop && !m_rereadPending && (themeChanged || paletteChanged)) {
        m_rereadPending = true;
        QTimer::singleShot(0, this, [this] {
            m_rereadPending = false;
            if (!m_preferred) m_env.setAppearance(appearanceFromPalette(desktopPalette()));
        });
    }
    return QObject::eventFilter(watched, event);
}

bool DesktopSettings::isWoodlandPalette(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    return window == Woodland::main().resolve(Appearance::light) ||
           window == Woodland::main().resolve(Appearance::dark);
}

QPalette DesktopSettings::desktopPalette() {
    const QPalette current = QGuiApplication::palette();
    if (!isWoodlandPalette(current)) return current;
    // Qt 6.4 offers no reading of the platform theme's palette while the application has its
    // own, so drop ours for a moment; the flag keeps the adapter from reacting to it.
    s_readingDesktop = true;
    QGuiApplication::setPalette(QPalette());
    const QPalette desktop = QGuiApplication::palette();
    QGuiApplication::setPalette(current);
    s_readingDesktop = false;
    return desktop;
}

std::optional<QVariant> DesktopSettings::readGSettings(const QString& schema, const QString& key) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty()) return std::nullopt;
    QProcess process;
    // Its own process group, so a stuck tool goes with anything it started.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setProgram(program);
    process.setArguments({QStringLiteral("get"), schema, key});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(kGSettingsTimeoutMs)) return std::nullopt;
    if (!process.waitForFinished(kGSettingsTimeoutMs)) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(-1);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    const QString text = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (text == QStringLiteral("true")) return QVariant(true);
    if (text == QStringLiteral("false")) return QVariant(false);
    return std::nullopt;
}

namespace {
void applyWoodland(const Environment& env) {
    QApplication::setPalette(woodlandPalette(env));
    // Painted decoration reads the environment directly; repaint it all at once.
    for (QWidget* widget : QApplication::allWidgets()) widget->update();
}
}  // namespace

void followDesktop(Environment& env, QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
#ifdef Q_OS_MACOS
    followMacDesktop(env, app);
#else
    // Created first: it reads the desktop's own palette before the woodland one replaces it.
    // Owned by the environment: nothing may keep writing to it after it is gone.
    new DesktopSettings(env, QDBusConnection::sessionBus(), &DesktopSettings::readGSettings, &env);
#endif
    applyWoodland(env);
    QObject::connect(&env, &Environment::changed, &env, [&env] { applyWoodland(env); });
}

}  // namespace quillet::ui
