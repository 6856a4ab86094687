// The woodland look and what the desktop asks for. The portal tests run inside their own session
// bus, where a stand-in settings portal is served from a second connection on its own thread.
#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "app/look/desktop_settings.h"
#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/look/symbols.h"
#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"
#include "app/look/woodland_panel.h"

using namespace quillet::ui;

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

QPalette paletteWithWindow(QColor window) {
    QPalette p = QGuiApplication::palette();
    p.setColor(QPalette::Window, window);
    return p;
}
int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

// The layer inside a window, as the main window holds it.
struct Scene {
    Environment env;
    double now = 100;
    QWidget window;
    WoodlandMotion& motion = *new WoodlandMotion(&env, &window);
    Scene() {
        motion.setClock([this] { return now; });
        window.resize(1100, 760);
        motion.resize(1100, 760);
    }
    bool activate() {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
};
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

class LookTest : public QObject {
    Q_OBJECT
    // Never the user's own bus: a stand-in portal would clash with the real one.
    static bool privateBus() {
        return qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS") && QDBusConnection::sessionBus().isConnected();
    }

private slots:
    void init() { QGuiApplication::setPalette(paletteWithWindow(QColor(0xEF, 0xEF, 0xEF))); }

    void panelRecoloursWhenTheAppearanceChanges() {
        Environment env;
        WoodlandPanel panel(&env, 600);
        QCOMPARE(panel.palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::light));
        env.setAppearance(Appearance::dark);
        QCOMPARE((std::pair{panel.palette().color(QPalette::WindowText), panel.palette().color(QPalette::Window)}),
                 (std::pair{Woodland::ink().resolve(Appearance::dark), Woodland::panel().resolve(Appearance::dark)}));
        // Colours are opaque whatever was written in the top byte.
        QCOMPARE(MakerPalette::adaptive(0x12345678, 0).resolve(Appearance::light).alpha(), 255);
    }

    void symbolsAreTinted() {
        const QColor tint(0x38, 0x65, 0x45);
        const QPixmap icon = symbol("info.circle", tint, 16, 2.0);
        QVERIFY(icon.size() == QSize(32, 32) && icon.devicePixelRatio() == 2.0);
        const QImage image = icon.toImage();
        int painted = 0, untinted = 0;
        for (int i = 0; i < image.width() * image.height(); ++i) {
            const QColor seen = image.pixelColor(i % image.width(), i / image.width());
            painted += seen.alpha() == 255;
            untinted += seen.alpha() == 255 && seen.rgb() != tint.rgb();
        }
        QVERIFY(painted > 20 && untinted == 0);
        QVERIFY(symbol("no.such.symbol", tint, 16).isNull());
    }

    // The sprigs show on every surface; increased contrast or reduced transparency leave only the plain
    // surface colour. Decoration, hidden from assistive technology, recoloured as the appearance changes.
    void solidLooksShowOnlyThePlainSurfaceColour() {
        const std::pair<Surface, AdaptiveColor> surfaces[] = {{Surface::main, Woodland::main()},
                                                              {Surface::sidebar, Woodland::sidebar()},
                                                              {Surface::panel, Woodland::panel()}};
        for (const auto& [surface, colour] : surfaces) {
            Environment env;
            WoodlandBackground background(surface, &env);
            background.resize(700, 500);
            QVERIFY(QAccessible::queryAccessibleInterface(&background)->state().invisible);
            QVERIFY(colourCount(background.grab().toImage()) > 1);
            env.setIncreasedContrast(true);
            QCOMPARE(colourCount(background.grab().toImage()), 1);
            env.setIncreasedContrast(false);
            env.setAppearance(Appearance::dark);
            QCOMPARE(background.grab().toImage(), woodlandLayer(QSize(700, 500), surface, Appearance::dark).toImage());
            env.setReduceTransparency(true);
            const QImage solid = background.grab().toImage();
            QCOMPARE(colourCount(solid), 1);
            QCOMPARE(solid.pixelColor(10, 10), colour.resolve(Appearance::dark));
        }
    }

    void clockPausesForSheetsAndInactivityAndResumesWhereItStopped() {
        Scene s;
        QVERIFY(s.motion.animationTime() == 0.0 && !s.motion.frameTimerActive());  // not shown yet
        QVERIFY(s.activate() && s.motion.allowed() && s.motion.frameTimerActive());
        // Above everything, yet clicks go through and assistive technology passes it over.
        QVERIFY(s.motion.testAttribute(Qt::WA_TransparentForMouseEvents) &&
                QAccessible::queryAccessibleInterface(&s.motion)->state().invisible);
        s.now += 5;
        QCOMPARE(s.motion.animationTime(), 5.0);

        // At most 15 frames a second while it runs; no timer at all once paused.
        QVERIFY(s.motion.findChild<QTimer*>()->interval() * 15 >= 1000);
        s.motion.setObscured(true);
        QVERIFY(!s.motion.allowed() && !s.motion.frameTimerActive());
        s.now += 60;
        QCOMPARE(s.motion.animationTime(), 5.0);
        s.motion.setObscured(false);
        s.now += 2;
        QCOMPARE(s.motion.animationTime(), 7.0);

        // Another window in front stops the leaves too.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTRY_VERIFY(!s.motion.isActiveWindow() && !s.motion.frameTimerActive());
        s.now += 30;
        QCOMPARE(s.motion.animationTime(), 7.0);
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window) && s.motion.frameTimerActive());
        // A clock that steps back counts as no time run, never as negative time.
        s.now -= 50;
        QCOMPARE(s.motion.animationTime(), 7.0);
    }

    // Reduced motion holds the clock at zero and hides the busy leaves; the solid looks stop the
    // leaves too, and work ending while they are stopped hides the busy leaves at once.
    void whatTheDesktopAsksForStopsTheLeaves() {
        Scene s;
        QVERIFY(s.activate());
        s.now += 12;
        s.motion.setWorking(true);
        s.env.setReduceMotion(true);
        s.now += 3;
        QVERIFY(!s.motion.frameTimerActive() && s.motion.animationTime() == 0.0 && s.motion.busyOpacity() == 0.0);
        // Turned off again, the clock carries on from where it was and the busy leaves fade in.
        s.env.setReduceMotion(false);
        QCOMPARE((std::pair{s.motion.animationTime(), s.motion.busyOpacity()}), (std::pair{12.0, 0.0}));
        s.now += 10;
        QCOMPARE(s.motion.busyOpacity(), 1.0);

        for (const auto solid : {&Environment::setIncreasedContrast, &Environment::setReduceTransparency}) {
            (s.env.*solid)(true);
            s.motion.setWorking(false);
            QVERIFY(!s.motion.frameTimerActive() && s.motion.busyOpacity() == 0.0);
            s.motion.setWorking(true);
            (s.env.*solid)(false);
            QVERIFY(s.motion.frameTimerActive());
        }
    }

    void withoutAPortalTheFallbackAndThePaletteDecideQuietly() {
        if (!privateBus()) QSKIP("needs a private session bus (ctest runs this test in one)");
        Environment env;
        env.setReduceTransparency(true);
        int asked = 0;
        // High contrast unreadable: left as it was.
        DesktopSettings settings(env, QDBusConnection::sessionBus(), [&asked](const QString&, const QString& key) {
            ++asked;
            return key == "enable-animations" ? std::optional<QVariant>(false) : std::nullopt;
        });
        QVERIFY(!settings.portalAnswered() && asked == 2 && env.appearance() == Appearance::light);
        QVERIFY(env.reduceMotion() && !env.increasedContrast() && !env.reduceTransparency());
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
        if (!privateBus()) QSKIP("needs a private session bus (ctest runs this test in one)");
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
        QVERIFY(settings.portalAnswered() && env.appearance() == Appearance::dark);
        // The portal had no high-contrast key, so the fallback answered that one only.
        QVERIFY(!env.reduceMotion() && env.increasedContrast() && asked == 1);

        standIn.announce("org.freedesktop.appearance", "color-scheme", uint(2));
        QTRY_COMPARE(env.appearance(), Appearance::light);
        QGuiApplication::setPalette(paletteWithWindow(QColor(0x20, 0x22, 0x24)));  // a stated preference outranks it
        QTest::qWait(50);
        QCOMPARE(env.appearance(), Appearance::light);
        standIn.announce("org.gnome.desktop.a11y.interface", "high-contrast", false);
        standIn.announce("org.gnome.desktop.interface", "enable-animations", false);
        QTRY_VERIFY(env.reduceMotion() && !env.increasedContrast());
        // No preference any more: the palette decides again.
        standIn.announce("org.freedesktop.appearance", "color-scheme", uint(0));
        QTRY_COMPARE(env.appearance(), Appearance::dark);
    }

    void followingTheDesktopStylesTheApplicationAndRecolours() {
        if (!privateBus()) QSKIP("needs a private session bus (ctest runs this test in one)");
        QGuiApplication::setPalette(paletteWithWindow(QColor(0x28, 0x28, 0x28)));
        Environment env;
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        followDesktop(env, *app);
        // No portal here: the desktop's dark palette decided before the woodland one replaced it.
        QVERIFY(app->style()->name().toLower() == QStringLiteral("fusion") && env.appearance() == Appearance::dark);
        QCOMPARE(QGuiApplication::palette().color(QPalette::Window), Woodland::main().resolve(Appearance::dark));
        env.setAppearance(Appearance::light);
        QCOMPARE(QGuiApplication::palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::light));
        // The theme's own palette is still readable underneath, and reading it leaves ours in place.
        QVERIFY(!DesktopSettings::isWoodlandPalette(DesktopSettings::desktopPalette()));
        QCOMPARE(QGuiApplication::palette().color(QPalette::Window), Woodland::main().resolve(Appearance::light));
    }
};

QTEST_MAIN(LookTest)
#include "look_dbus_qtest.moc"
