// Renders the main window on a fixture home to PNGs for a person to look at:
//   render_window [output folder]    (default: the build folder's pictures/window)
// States: welcome, a scan running (with the busy leaves), empty, the list growing during a scan
// that follows one that found nothing, a long list with a selection, its notes open, keyboard
// focus on "Review plan…" and on a row, the smallest window with notes and a selection, no
// matches; each in light and dark, the list and focus also with increased contrast.
//   render_window --keep-open        shows the long list on the real display until closed, to
//                                    try it with the keyboard or a screen reader.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/look/woodland_motion.h"
#include "app/window/content_view.h"
#include "app/window/results_model.h"
#include "tools/pictures/pictures.h"
#include "tools/pictures/sample_items.h"

using namespace fixture;

namespace {

constexpr QSize kWindowSize(1100, 760);
constexpr QSize kSmallestSize(960, 660);

// Selects the first `count` items that can be selected among the model's.
void selectSome(quillet::StorageModel& model, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (model.items()[i].selectable()) model.select(model.items()[i].url);
    }
}

void renderAll(const pictures::Look& look, const QString& folder) {
    quillet::ui::Environment environment;
    pictures::apply(environment, look);
    Home home;
    quillet::StorageModel model(home.setup());
    quillet::ui::ContentView window(model, &environment);
    window.resize(kWindowSize);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) std::fprintf(stderr, "the window never became active\n");
    const auto save = [&](const char* state) {
        pictures::save(window, folder, QStringLiteral("window-%1-%2").arg(state, look.name));
    };
    // The leaves' own clock, so the pictures show them where the animation would be.
    double now = 30;
    window.findChild<quillet::ui::WoodlandMotion*>()->setClock([&now] { return now; });
    if (!look.contrast) {
        save("welcome");
        // The first scan, still running: the progress bar over an empty list, the busy leaves in.
        home.scan.hold();
        model.scan();
        now += 2;
        save("scanning");
        home.scan.release();
        idle(model);
        save("empty");

        // After a scan that found nothing, the next one lists items as they are measured.
        const std::vector<tarnby::StorageItem> sample = sampleItems(home.path(), 40);
        home.scan.found.assign(sample.rbegin(), sample.rbegin() + 9);
        home.scan.holdSteps();
        home.scan.steps->release(static_cast<std::ptrdiff_t>(home.scan.found.size()));
        model.scan();
        if (!QTest::qWaitFor([&] { return window.results().rowCount() == int(home.scan.found.size()); }, 5000))
            std::fprintf(stderr, "the list did not grow\n");
        now += 2;
        save("scanning-growing");
        home.scan.release();
        idle(model);
        home.scan.found.clear();
    }

    home.scan.gate.reset();
    home.scan.result.items = sampleItems(home.path(), 2000);
    home.scan.result.notes = {
        "Skipped " + home.path() + "/Code/private: permission denied.",
        "Simulator inventory unavailable. Simulator cleanup is disabled. The developer tools are not installed."};
    model.scan();
    idle(model);
    selectSome(model, 6);
    model.keep(model.items()[1].url);
    save("list");

    // Keyboard focus: on the prominent "Review plan…", then on the current row, reached with Tab.
    window.findChild<QPushButton*>(QStringLiteral("review"))->setFocus(Qt::TabFocusReason);
    save("focus-button");
    window.findChild<QPushButton*>(QStringLiteral("select-visible"))->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    save("focus-row");
    if (look.contrast) return;

    auto* notes = window.findChild<QToolButton*>(QStringLiteral("scan-notes"));
    notes->setChecked(true);
    save("notes");
    // The smallest window the shell allows, notes open and a selection made.
    window.resize(kSmallestSize);
    save("smallest");
    notes->setChecked(false);
    window.resize(kWindowSize);

    auto* search = window.findChild<QLineEdit*>(QStringLiteral("search"));
    search->setText(QStringLiteral("no such project"));
    save("no-matches");
    search->clear();
}

// The long list in a window that stays open, a few rows ticked so checked rows can be heard too.
int keepOpen() {
    quillet::ui::Environment environment;
    pictures::apply(environment, pictures::kLooks[0]);
    Home home;
    home.scan.result.items = sampleItems(home.path(), 2000);
    quillet::StorageModel model(home.setup());
    quillet::ui::ContentView window(model, &environment);
    window.resize(kWindowSize);
    window.show();
    QObject::connect(&model, &quillet::StorageModel::didScanChanged, &model, [&model] { selectSome(model, 4); });
    model.scan();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    const bool stay = argc > 1 && QByteArray(argv[1]) == "--keep-open";
    if (!stay) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Quillet"));  // the sidebar shows it, as in the app
    if (stay) return keepOpen();
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString folder = pictures::folder(argc, argv, QUILLET_PICTURES_DIR);
    for (const pictures::Look& look : pictures::kLooks) renderAll(look, folder);
    return 0;
}
