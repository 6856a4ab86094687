// Cost of the window's decoration: one motion frame, a full repaint of an 1100 × 760 main
// background, building the cached layer; timer wake-ups while paused and the CPU share while
// the idle leaf drifts. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"

using namespace quillet::ui;

namespace {

class MainScene : public QWidget {
public:
    explicit MainScene(Environment& env)
        : background(new WoodlandBackground(Surface::main, &env, this)), motion(new WoodlandMotion(&env, this)) {
        resize(1100, 760);
    }
    WoodlandBackground* background;
    WoodlandMotion* motion;

protected:
    void resizeEvent(QResizeEvent*) override {
        background->setGeometry(rect());
        motion->setGeometry(rect());
    }
};

// Counts events of one type delivered to the objects it watches.
class EventCounter : public QObject {
public:
    explicit EventCounter(QEvent::Type type) : m_type(type) {}
    long count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == m_type) ++count;
        return false;
    }

private:
    QEvent::Type m_type;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool showActive(QWidget& widget) {
    widget.show();
    widget.activateWindow();
    return QTest::qWaitForWindowActive(&widget);
}

void BM_MotionFrame(benchmark::State& state) {
    Environment env;
    MainScene scene(env);
    double now = 0;
    scene.motion->setClock([&now] { return now; });
    scene.motion->setWorking(state.range(0) != 0);
    if (!showActive(scene)) state.SkipWithError("window not active");
    QCoreApplication::processEvents();
    EventCounter paints(QEvent::Paint);
    scene.motion->installEventFilter(&paints);
    for (auto _ : state) {
        now += 1.0 / WoodlandMotion::kFramesPerSecond;
        scene.motion->frame();
        QCoreApplication::processEvents();  // paints the asked-for region into the backing store
    }
    state.counters["paints_per_frame"] = double(paints.count) / double(state.iterations());
}
BENCHMARK(BM_MotionFrame)->Arg(0)->Arg(1)->ArgName("working")->Unit(benchmark::kMicrosecond);

void BM_FullRepaintMainBackground(benchmark::State& state) {
    Environment env;
    MainScene scene(env);
    if (!showActive(scene)) state.SkipWithError("window not active");
    QImage target(scene.size(), QImage::Format_RGB32);
    QCoreApplication::processEvents();
    for (auto _ : state) scene.render(&target);  // everything, as after a resize or recolour
}
BENCHMARK(BM_FullRepaintMainBackground)->Unit(benchmark::kMicrosecond);

void BM_BuildWoodlandLayer(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(woodlandLayer(QSize(1100, 760), Surface::main, Appearance::light));
    }
}
BENCHMARK(BM_BuildWoodlandLayer)->Unit(benchmark::kMillisecond);

// Not a speed: how often the process wakes while the leaves are paused (a sheet is open).
void BM_WakeupsWhilePaused(benchmark::State& state) {
    Environment env;
    MainScene scene(env);
    if (!showActive(scene)) state.SkipWithError("window not active");
    scene.motion->setObscured(true);
    QCoreApplication::processEvents();
    EventCounter counter(QEvent::Timer);
    qApp->installEventFilter(&counter);
    constexpr int kMilliseconds = 2000;
    for (auto _ : state) QTest::qWait(kMilliseconds);
    qApp->removeEventFilter(&counter);
    state.counters["timer_events_per_s"] = double(counter.count) / (kMilliseconds / 1000.0);
    state.counters["frame_timer_active"] = scene.motion->frameTimerActive() ? 1 : 0;
}
BENCHMARK(BM_WakeupsWhilePaused)->Iterations(1)->Unit(benchmark::kMillisecond);

// Not a speed: the share of one core used while only the idle leaf drifts, on the real clock.
void BM_CpuShareIdleLeaf(benchmark::State& state) {
    Environment env;
    MainScene scene(env);
    if (!showActive(scene)) state.SkipWithError("window not active");
    EventCounter counter(QEvent::Timer);
    qApp->installEventFilter(&counter);
    constexpr int kMilliseconds = 5000;
    double cpu = 0;
    for (auto _ : state) {
        const double before = cpuSeconds();
        QTest::qWait(kMilliseconds);
        cpu = cpuSeconds() - before;
    }
    qApp->removeEventFilter(&counter);
    state.counters["cpu_percent"] = 100.0 * cpu / (kMilliseconds / 1000.0);
    state.counters["timer_events_per_s"] = double(counter.count) / (kMilliseconds / 1000.0);
}
BENCHMARK(BM_CpuShareIdleLeaf)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
