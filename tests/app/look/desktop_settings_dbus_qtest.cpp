// Runs inside its own session bus (dbus-run-session), where a stand-in settings portal is
// registered from a second connection served on a thread of its own.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <QWidget>

#include "app/look/desktop_settings.h"
#include "app/look/palette.h"

using namespace quillet::ui;

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

QPalette paletteWithWindow(QColor window) {
    QPalette p = QGuiApplication::palette();
    p.setColor(QPalette::Window, window);
    return p;
}
}  // namespace

// The Read-only portal of older desktops: values come wrapped in a second variant.
class OldPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariantMap values;  // "namespace key" -> value

public slots:
    QDBusVariant Read(const QString& name, const QString& key) {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(lookup(name, key))));
    }

protected:
    QVariant lookup(const QString& name, const QString& key) {
        const auto found = values.find(name + QLatin1Char(' ') + key);
        if (found != values.end()) return *found;
        sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no such key"));
        return QVariant(0);
    }
};

class Portal : public OldPortal {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public slots:
    QDBusVariant ReadOne(const QString& name, const QString& key) { return QDBusVariant(lookup(name, key)); }
};

// Owns the stand-in's connection, name and thread for the length of one test.
class StandIn {
public:
    explicit StandIn(OldPortal* portal)
        : m_portal(portal),
          m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("standin"))) {
        m_thread.start();
        m_portal->moveToThread(&m_thread);
        registered =
            m_bus.registerObject(kPath, m_portal, QDBusConnection::ExportAllSlots) && m_bus.registerService(kService);
    }
    ~StandIn() {
        m_bus.unregisterService(kService);
        m_bus.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("standin"));
        m_thread.quit();
        m_thread.wait();
        delete m_portal;
    }
    bool registered = false;
    void announce(const QString& name, const QString& key, const QVariant& value) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, "org.freedesktop.portal.Settings", "SettingChanged");
        signal << name << key << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }

private:
    OldPortal* m_portal;
    QDBusConnection m_bus;
    QThread m_thread;
};

class DesktopSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        // Never the user's own bus: a stand-in portal would clash with the real one.
        if (!qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS") || !QDBusConnection::sessionBus().isConnected()) {
            QSKIP("needs a private session bus (run through ctest, which uses dbus-run-session)");
        }
        QGuiApplication::setPalette(paletteWithWindow(QColor(0xEF, 0xEF, 0xEF)));
    }

    void withoutAPortalTheFallbackAndThePaletteDecideQuietly() {
        Environment env;
        env.setReduceTransparency(true);
        int asked = 0;
        // High contrast unreadable: left as it was.
        DesktopSettings settings(env, QDBusConnection::sessionBus(), [&asked](const QString&, const QString& key) {
            ++asked;
            return key == "enable-animations" ? std::optional<QVariant>(false) : std::nullopt;
        });
        QVERIFY(!settings.portalAnswered());
        QCOMPARE(asked, 2);
        QVERIFY(env.reduceMotion() && !env.increasedContrast() && !env.reduceTransparency());
        QCOMPARE(env.appearance(), Appearance::light);
        // The desktop turning dark shows in the application palette.
        QGuiApplication::setPalette(paletteWithWindow(QColor(0x20, 0x22, 0x24)));
        QTRY_COMPARE(env.appearance(), Appearance::dark);
    }

    // The same with an older portal that has only Read, whose values come wrapped twice.
    void thePortalDecidesAndItsChangesApplyAtOnce_data() {
        QTest::addColumn<bool>("older");
        QTest::newRow("ReadOne") << false;
        QTest::newRow("Read only") << true;
    }
    void thePortalDecidesAndItsChangesApplyAtOnce() {
        QFETCH(bool, older);
        auto* portal = older ? new OldPortal : new Portal;
        portal->values.insert(QStringLiteral("org.freedesktop.appearance color-scheme"), QVariant::fromValue(uint(1)));
        portal->values.insert(QStringLiteral("org.gnome.desktop.interface enable-animations"), true);
        StandIn standIn(portal);
        QVERIFY(standIn.registered);
        Environment env;
        int asked = 0;
        DesktopSettings settings(env, QDBusConnection::sessionBus(), [&asked](const QString&, const QString&) {
            ++asked;
            return std::optional<QVariant>(true);
        });
        QVERIFY(settings.portalAnswered());
        QCOMPARE(env.appearance(), Appearance::dark);
        // The portal had no high-contrast key, so the fallback answered that one only.
        QVERIFY(!env.reduceMotion() && env.increasedContrast());
        QCOMPARE(asked, 1);

        standIn.announce("org.freedesktop.appearance", "color-scheme", uint(2));
        QTRY_COMPARE(env.appearance(), Appearance::light);
        // A stated preference outranks the palette.
        QGuiApplication::setPalette(paletteWithWindow(QColor(0x20, 0x22, 0x24)));
        QTest::qWait(50);
        QCOMPARE(env.appearance(), Appearance::light);
        standIn.announce("org.gnome.desktop.a11y.interface", "high-contrast", false);
        standIn.announce("org.gnome.desktop.interface", "enable-animations", false);
        QTRY_VERIFY(env.reduceMotion());
        QVERIFY(!env.increasedContrast());
        // No preference any more: the palette decides again.
        standIn.announce("org.freedesktop.appearance", "color-scheme", uint(0));
        QTRY_COMPARE(env.appearance(), Appearance::dark);
    }

    void followingTheDesktopStylesTheApplicationAndRecolours() {
        QGuiApplication::setPalette(paletteWithWindow(QColor(0x28, 0x28, 0x28)));
        Environment env;
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        followDesktop(env, *app);
        QCOMPARE(app->style()->name().toLower(), QStringLiteral("fusion"));
        // No portal here: the desktop's dark palette decided before the woodland one replaced it.
        QCOMPARE(env.appearance(), Appearance::dark);
        QCOMPARE(QGuiApplication::palette().color(QPalette::Window), Woodland::main().resolve(Appearance::dark));
        env.setAppearance(Appearance::light);
        QCOMPARE(QGuiApplication::palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::light));
        // The theme's own palette is still readable underneath, and reading it leaves ours in place.
        QVERIFY(!DesktopSettings::isWoodlandPalette(DesktopSettings::desktopPalette()));
        QCOMPARE(QGuiApplication::palette().color(QPalette::Window), Woodland::main().resolve(Appearance::light));
    }
};

QTEST_MAIN(DesktopSettingsTest)
#include "desktop_settings_dbus_qtest.moc"
