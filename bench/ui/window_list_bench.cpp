// The main window's results list with 100,000 items: what a scrolled page and a changed filter
// cost from the change to the repainted list. Runs the real window offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/look/environment.h"
#include "app/model/storage_model.h"
#include "app/window/content_view.h"
#include "app/window/results_model.h"
#include "core/browsing/result_browsing.h"
#include "tools/pictures/sample_items.h"

namespace {

constexpr std::size_t kItems = 100'000;

// One window for every benchmark: making 100,000 items and scanning them is not what is measured.
struct Window {
    fixture::Home home;
    quillet::ui::Environment environment;
    std::unique_ptr<quillet::StorageModel> model;
    std::unique_ptr<quillet::ui::ContentView> view;
    QListView* list = nullptr;
    QLineEdit* search = nullptr;
    QComboBox* order = nullptr;
    QImage frame;

    Window() {
        home.scan.result.items = fixture::sampleItems(home.path(), kItems);
        model = std::make_unique<quillet::StorageModel>(home.setup());
        view = std::make_unique<quillet::ui::ContentView>(*model, &environment);
        view->resize(1100, 760);
        view->show();
        model->scan();
        fixture::idle(*model);
        list = view->findChild<QListView*>(QStringLiteral("results"));
        search = view->findChild<QLineEdit*>(QStringLiteral("search"));
        order = view->findChild<QComboBox*>(QStringLiteral("sort"));
        QApplication::processEvents();
        frame = QImage(list->viewport()->size() * list->devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(list->devicePixelRatio());
    }

    // Lays out what changed and paints the visible rows, as the next frame would.
    void redraw() {
        QApplication::processEvents();
        frame.fill(Qt::transparent);
        list->viewport()->render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
};

// Made on first use and gone before the application object.
std::unique_ptr<Window> shared;

Window& window() {
    if (!shared) shared = std::make_unique<Window>();
    return *shared;
}

void ScrollOnePage(benchmark::State& state) {
    Window& w = window();
    w.search->clear();
    QScrollBar* bar = w.list->verticalScrollBar();
    for (auto _ : state) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        w.redraw();
    }
    state.counters["rows"] = w.view->results().rowCount();
}
BENCHMARK(ScrollOnePage)->Unit(benchmark::kMillisecond);

// A new search text (neither contains the other): filter the whole sorted list, reset the list,
// repaint.
void FilterToRedraw(benchmark::State& state, int orderIndex) {
    Window& w = window();
    w.order->setCurrentIndex(orderIndex);
    w.search->setText(QStringLiteral("warm"));  // the list's search texts are made once, before timing
    w.search->clear();
    w.redraw();
    bool other = false;
    for (auto _ : state) {
        w.search->setText(other ? QStringLiteral("client1") : QStringLiteral("atlas"));
        other = !other;
        w.redraw();
    }
    state.counters["rows"] = w.view->results().rowCount();
    w.search->clear();
    w.order->setCurrentIndex(0);
}
BENCHMARK_CAPTURE(FilterToRedraw, largestFirst, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FilterToRedraw, byName, 2)->Unit(benchmark::kMillisecond);

// One more letter typed: only the rows listed for the shorter text are tested.
void TypeToRedraw(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state) {
        state.PauseTiming();
        w.search->setText(QStringLiteral("c"));
        w.redraw();
        state.ResumeTiming();
        w.search->setText(QStringLiteral("cl"));
        w.redraw();
    }
    state.counters["rows"] = w.view->results().rowCount();
    w.search->clear();
}
BENCHMARK(TypeToRedraw)->Unit(benchmark::kMillisecond);

// The same keystrokes through the browsing library alone (name keys made once, as the window
// keeps them): what of FilterToRedraw is the derivation and what is the list.
void DeriveOnly(benchmark::State& state, const char* order) {
    Window& w = window();
    const std::vector<tarnby::StorageItem> visible = w.model->visibleItems();
    const std::vector<std::string> keys = tarnby::browsing::nameKeys(visible);
    tarnby::browsing::Choices choices;
    choices.order = order;
    bool typed = false;
    for (auto _ : state) {
        choices.query = typed ? "client1" : "atlas";
        typed = !typed;
        const auto rows = tarnby::browsing::listedIndices(visible, choices, std::chrono::system_clock::now(), &keys);
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK_CAPTURE(DeriveOnly, largestFirst, "size")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeriveOnly, byName, "name")->Unit(benchmark::kMillisecond);

// Keeping one item: the storage model publishes new positions of 99,999 visible items, sharing
// the items; the window derives its rows, totals and repaints.
void KeepOneItem(benchmark::State& state) {
    Window& w = window();
    w.redraw();
    for (auto _ : state) {
        const std::string path = w.view->results().itemAt(0)->url;
        w.model->keep(path);
        w.redraw();
        state.PauseTiming();
        w.model->clearKept();
        w.redraw();
        state.ResumeTiming();
    }
}
BENCHMARK(KeepOneItem)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    shared.reset();
    return 0;
}
