// Renders the main window on a fixture home, in light and dark, to PNGs for a person to look at:
//   render_window [output folder]    (default: the build folder's pictures/window)
// States: welcome, a scan running (with the busy leaves), empty, the list growing during a scan
// that follows one that found nothing, a long list with a selection,
// its notes open, keyboard focus on "Review plan…" and on a row, the smallest window with notes
// and a selection, no matches; each in light and dark, the list and focus also with increased
// contrast.
//   render_window --keep-open        shows the long list on the real display until closed, to
//                                    try it with the keyboard or a screen reader.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <cstdio>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/look/woodland_motion.h"
#include "app/model/storage_model.h"
#include "app/window/content_view.h"
#include "app/window/results_model.h"
#include "tests/app/window/window_fixture.h"

using namespace window_fixture;
using quillet::ui::Appearance;

namespace {

constexpr QSize kWindowSize(1100, 760);
constexpr QSize kSmallestSize(960, 660);

void save(QWidget& window, const QString& folder, const QString& name) {
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!window.grab().save(path)) std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
}

void renderAll(Appearance appearance, bool contrast, const QString& folder) {
    const QString suffix = QString::fromLatin1(appearance == Appearance::dark ? "-dark" : "-light") +
                           (contrast ? QStringLiteral("-contrast") : QString());
    quillet::ui::Environment environment;
    environment.setAppearance(appearance);
    environment.setIncreasedContrast(contrast);
    QApplication::setPalette(quillet::ui::woodlandPalette(environment));

    Home home;
    quillet::StorageModel model(home.setup());
    quillet::ui::ContentView window(model, &environment);
    window.resize(kWindowSize);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) std::fprintf(stderr, "the window never became active\n");
    // The leaves' own clock, so the pictures show them where the animation would be.
    double now = 30;
    auto* motion = window.findChild<quillet::ui::WoodlandMotion*>();
    motion->setClock([&now] { return now; });
    if (!contrast) {
        save(window, folder, QStringLiteral("window-welcome") + suffix);
        // The first scan, still running: the progress bar over an empty list, the busy leaves in.
        home.scan.hold();
        model.scan();
        now += 2;
        save(window, folder, QStringLiteral("window-scanning") + suffix);
        home.scan.release();
        idle(model);
        save(window, folder, QStringLiteral("window-empty") + suffix);

        // After a scan that found nothing, the next one lists items as they are measured.
        const std::vector<tarnby::StorageItem> sample = sampleItems(home.path(), 40);
        home.scan.found.assign(sample.rbegin(), sample.rbegin() + 9);
        home.scan.holdSteps();
        home.scan.steps->release(static_cast<std::ptrdiff_t>(home.scan.found.size()));
        model.scan();
        if (!QTest::qWaitFor([&] { return window.results().rowCount() == int(home.scan.found.size()); }, 5000))
            std::fprintf(stderr, "the list did not grow\n");
        now += 2;
        save(window, folder, QStringLiteral("window-scanning-growing") + suffix);
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
    const auto& items = model.items();
    for (std::size_t i = 0; i < 6; ++i) {
        if (items[i].selectable()) model.select(items[i].url);
    }
    model.keep(items[1].url);
    save(window, folder, QStringLiteral("window-list") + suffix);

    // Keyboard focus: on the prominent "Review plan…", then on the current row, reached with Tab.
    window.findChild<QPushButton*>(QStringLiteral("review"))->setFocus(Qt::TabFocusReason);
    save(window, folder, QStringLiteral("window-focus-button") + suffix);
    window.findChild<QPushButton*>(QStringLiteral("select-visible"))->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    save(window, folder, QStringLiteral("window-focus-row") + suffix);
    if (contrast) return;

    auto* notes = window.findChild<QToolButton*>(QStringLiteral("scan-notes"));
    notes->setChecked(true);
    save(window, folder, QStringLiteral("window-notes") + suffix);
    // The smallest window the shell allows, notes open and a selection made.
    window.resize(kSmallestSize);
    save(window, folder, QStringLiteral("window-smallest") + suffix);
    notes->setChecked(false);
    window.resize(kWindowSize);

    auto* search = window.findChild<QLineEdit*>(QStringLiteral("search"));
    search->setText(QStringLiteral("no such project"));
    save(window, folder, QStringLiteral("window-no-matches") + suffix);
    search->clear();
}

}  // namespace

// The long list in a window that stays open.
int keepOpen() {
    quillet::ui::Environment environment;
    QApplication::setPalette(quillet::ui::woodlandPalette(environment));
    Home home;
    home.scan.result.items = sampleItems(home.path(), 2000);
    quillet::StorageModel model(home.setup());
    quillet::ui::ContentView window(model, &environment);
    window.resize(kWindowSize);
    window.show();
    // A few rows ticked once the scan is in, so checked rows can be heard too.
    QObject::connect(&model, &quillet::StorageModel::didScanChanged, &model, [&model] {
        for (std::size_t i = 0; i < 4; ++i) {
            if (model.items()[i].selectable()) model.select(model.items()[i].url);
        }
    });
    model.scan();
    return QApplication::exec();
}

int main(int argc, char** argv) {
    const bool stay = argc > 1 && QByteArray(argv[1]) == "--keep-open";
    if (!stay) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (stay) return keepOpen();
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUILLET_PICTURES_DIR);
    QDir().mkpath(folder);
    for (const bool contrast : {false, true}) {
        renderAll(Appearance::light, contrast, folder);
        renderAll(Appearance::dark, contrast, folder);
    }
    return 0;
}
