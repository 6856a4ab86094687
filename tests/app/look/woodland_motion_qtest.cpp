#include <QAccessible>
#include <QPaintEvent>
#include <QTest>
#include <QTimer>

#include "app/look/woodland_motion.h"

using namespace quillet::ui;

namespace {
// Counts timer wake-ups of the layer's frame timer and remembers the painted regions.
class Watcher : public QObject {
public:
    int timerEvents = 0;
    QRegion lastPaint;
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) ++timerEvents;
        if (event->type() == QEvent::Paint) {
            lastPaint = static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

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

class WoodlandMotionTest : public QObject {
    Q_OBJECT
private slots:
    void clockPausesForSheetsAndInactivityAndResumesWhereItStopped() {
        Scene s;
        QCOMPARE(s.motion.animationTime(), 0.0);
        QVERIFY(!s.motion.frameTimerActive());  // not shown yet
        QVERIFY(s.activate());
        QVERIFY(s.motion.allowed());
        QVERIFY(s.motion.frameTimerActive());
        s.now += 5;
        QCOMPARE(s.motion.animationTime(), 5.0);

        // At most 15 frames a second while it runs; no wake-up at all once paused.
        auto* timer = s.motion.findChild<QTimer*>();
        QVERIFY(timer->interval() * 15 >= 1000);
        Watcher watcher;
        timer->installEventFilter(&watcher);
        QTRY_VERIFY(watcher.timerEvents > 0);
        s.motion.setObscured(true);
        watcher.timerEvents = 0;
        QVERIFY(!s.motion.allowed() && !s.motion.frameTimerActive());
        QCOMPARE(s.motion.elapsed(), 5.0);
        s.now += 60;
        QCOMPARE(s.motion.animationTime(), 5.0);
        QTest::qWait(200);
        QCOMPARE(watcher.timerEvents, 0);
        s.motion.setObscured(false);
        s.now += 2;
        QCOMPARE(s.motion.animationTime(), 7.0);

        // Another window in front stops the leaves too.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTRY_VERIFY(!s.motion.isActiveWindow());
        QVERIFY(!s.motion.frameTimerActive());
        s.now += 30;
        QCOMPARE(s.motion.animationTime(), 7.0);
        s.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        QVERIFY(s.motion.frameTimerActive());
        s.now += 1;
        QCOMPARE(s.motion.animationTime(), 8.0);

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
        QCOMPARE(s.motion.animationTime(), 0.0);
        QCOMPARE(s.motion.busyOpacity(), 0.0);
        QVERIFY(!s.motion.frameTimerActive());
        s.now += 3;
        QCOMPARE(s.motion.animationTime(), 0.0);
        // Turned off again, the clock carries on from where it was and the busy leaves fade in.
        s.env.setReduceMotion(false);
        QCOMPARE(s.motion.animationTime(), 12.0);
        QCOMPARE(s.motion.busyOpacity(), 0.0);
        s.now += 0.75;
        QVERIFY(s.motion.busyOpacity() > 0.1 && s.motion.busyOpacity() < 0.9);
        s.now += 10;
        QCOMPARE(s.motion.busyOpacity(), 1.0);

        for (const auto solid : {&Environment::setIncreasedContrast, &Environment::setReduceTransparency}) {
            (s.env.*solid)(true);
            QVERIFY(!s.motion.frameTimerActive());
            s.motion.setWorking(false);
            QCOMPARE(s.motion.busyOpacity(), 0.0);
            s.motion.setWorking(true);
            (s.env.*solid)(false);
            QVERIFY(s.motion.frameTimerActive());
        }
    }

    void aFrameRepaintsOnlyAroundTheLeaves() {
        Scene s;
        QVERIFY(s.activate());
        QVERIFY(s.motion.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(QAccessible::queryAccessibleInterface(&s.motion)->state().invisible);
        // A time at which the idle leaf is well inside the window.
        s.now += 10;
        Watcher watcher;
        s.motion.installEventFilter(&watcher);
        QTRY_VERIFY(watcher.paints > 0);
        s.now += 0.5;
        const int before = watcher.paints;
        QTRY_VERIFY(watcher.paints > before);
        const QRect box = watcher.lastPaint.boundingRect();
        QVERIFY2(box.width() < 200 && box.height() < 200,
                 qPrintable(QStringLiteral("%1x%2").arg(box.width()).arg(box.height())));
        const QRectF leaf = leafBounds(leafPoses(LeafSet::idle, s.motion.size(), s.motion.animationTime()).front());
        QVERIFY(watcher.lastPaint.boundingRect().intersects(leaf.toAlignedRect()));
    }

    // A leaf fades out before it wraps around to the other side, so none pops in or out.
    void leavesFadeOutBeforeTheyWrap() {
        const QSizeF size(1000, 500);
        for (const LeafSet set : {LeafSet::idle, LeafSet::busy}) {
            std::vector<LeafPose> before = leafPoses(set, size, 0);
            int wraps = 0;
            for (double seconds = 0.01; seconds < 200; seconds += 0.01) {
                const std::vector<LeafPose> now = leafPoses(set, size, seconds);
                for (std::size_t i = 0; i < now.size(); ++i) {
                    if (now[i].centre.x() < before[i].centre.x() + size.width() / 2) continue;
                    ++wraps;
                    QVERIFY2(before[i].fill < 1e-3 && now[i].fill < 1e-3, qPrintable(QString::number(seconds)));
                }
                before = now;
            }
            QVERIFY(wraps > 0);
        }
    }
};

QTEST_MAIN(WoodlandMotionTest)
#include "woodland_motion_qtest.moc"
