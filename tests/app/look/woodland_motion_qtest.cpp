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

        s.motion.setObscured(true);
        QVERIFY(!s.motion.allowed());
        QVERIFY(!s.motion.frameTimerActive());
        QCOMPARE(s.motion.elapsed(), 5.0);
        QVERIFY(!s.motion.runningSince());
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

    void noTimerWakesWhilePaused() {
        Scene s;
        QVERIFY(s.activate());
        auto* timer = s.motion.findChild<QTimer*>();
        QVERIFY(timer);
        QVERIFY(timer->interval() * 15 >= 1000);
        Watcher watcher;
        timer->installEventFilter(&watcher);
        QTRY_VERIFY(watcher.timerEvents > 0);
        s.motion.setObscured(true);
        watcher.timerEvents = 0;
        QTest::qWait(400);
        QCOMPARE(watcher.timerEvents, 0);
        QVERIFY(!timer->isActive());
    }

    void reduceMotionHoldsTimeAtZeroAndHidesTheBusyLeaves() {
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
        QCOMPARE(s.motion.busyOpacity(), 0.0);
        // Turned off again, the clock carries on from where it was and the busy leaves fade in.
        s.env.setReduceMotion(false);
        QCOMPARE(s.motion.animationTime(), 12.0);
        QCOMPARE(s.motion.busyOpacity(), 0.0);
        s.now += 0.75;
        QVERIFY(qAbs(s.motion.busyOpacity() - 0.5) < 0.01);
        s.now += 0.75;
        QCOMPARE(s.motion.busyOpacity(), 1.0);
    }

    void solidLooksStopTheLeaves() {
        Scene s;
        QVERIFY(s.activate());
        s.env.setIncreasedContrast(true);
        QVERIFY(!s.motion.frameTimerActive());
        s.env.setIncreasedContrast(false);
        QVERIFY(s.motion.frameTimerActive());
        s.env.setReduceTransparency(true);
        QVERIFY(!s.motion.frameTimerActive());
        // Work ending while paused hides the busy leaves at once.
        s.motion.setWorking(true);
        QCOMPARE(s.motion.busyOpacity(), 1.0);
        s.motion.setWorking(false);
        QCOMPARE(s.motion.busyOpacity(), 0.0);
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

    void leafPosesFollowTheirPeriods() {
        const QSizeF size(1000, 500);
        const auto idle = leafPoses(LeafSet::idle, size, 0);
        QCOMPARE(idle.size(), size_t(1));
        QVERIFY(qAbs(idle[0].centre.x() - (1.14 - 1.28 * 0.64) * 1000) < 1e-9);
        QCOMPARE(idle[0].scale, 0.9);
        // One idle period later the leaf is back where it was.
        const auto again = leafPoses(LeafSet::idle, size, 82);
        QVERIFY(qAbs(again[0].centre.x() - idle[0].centre.x()) < 1e-6);
        QVERIFY(qAbs(again[0].centre.y() - idle[0].centre.y()) < 1e-6);
        const auto busy = leafPoses(LeafSet::busy, size, 0);
        QCOMPARE(busy.size(), size_t(2));
        // Phase 0.72: fade = min(1, 8 * 0.28) = 1.
        QVERIFY(qAbs(busy[1].fill - 0.045) < 1e-12);
        QVERIFY(qAbs(busy[1].rib - 0.045) < 1e-12);
        // At the wrap the leaf is invisible.
        const auto edge = leafPoses(LeafSet::busy, size, (1.0 - 0.28) * 31);
        QVERIFY(edge[0].fill < 1e-9);
    }
};

QTEST_MAIN(WoodlandMotionTest)
#include "woodland_motion_qtest.moc"
