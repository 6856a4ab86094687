// Renders the window's pieces to PNG files for looking at: every picture in light and dark
// appearance, each also with increased contrast. Usage: render_look [output folder]
// (default: build/<preset>/pictures). Run with QT_QPA_PLATFORM=offscreen.
//        render_look --show NAME   (one picture in a window, see show())
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"
#include "app/look/woodland_panel.h"
#include "app/window/storage_bar.h"

using namespace quillet::ui;

namespace {

// One picture: a widget built for an environment, shown at `size`. To add one, add a line to
// pictures() below.
struct Picture {
    QString name;
    QSize size;
    std::function<std::unique_ptr<QWidget>(Environment&)> make;
};

// The main background with the motion layer over it, its clock stopped at `seconds`.
class MotionScene : public QWidget {
public:
    MotionScene(Environment& env, double seconds, bool working)
        : m_background(new WoodlandBackground(Surface::main, &env, this)),
          m_motion(new WoodlandMotion(&env, this)),
          m_seconds(seconds) {
        m_motion->setWorking(working);
        m_motion->setClock([this] { return m_now; });
    }
    // Runs the clock to `m_seconds` once the window is active, then holds it there.
    void settle() {
        m_motion->synchronize();
        m_now = m_seconds;
        m_motion->setObscured(true);  // stop the clock where it is
        m_motion->update();
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        m_background->setGeometry(rect());
        m_motion->setGeometry(rect());
    }

private:
    WoodlandBackground* m_background;
    WoodlandMotion* m_motion;
    double m_seconds;
    double m_now = 0;
};

std::unique_ptr<QWidget> barSamples(Environment& env) {
    auto panel = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(panel.get());
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(14);
    auto item = [](tarnby::StorageKind kind, std::int64_t bytes) {
        tarnby::StorageItem i;
        i.kind = kind;
        i.measurement.bytes = bytes;
        return i;
    };
    using K = tarnby::StorageKind;
    const std::vector<std::vector<tarnby::StorageItem>> samples = {
        {},
        {item(K::caches, 0)},
        {item(K::builds, 4'000'000)},
        {item(K::dependencies, 9'000'000), item(K::builds, 5'000'000), item(K::caches, 3'000'000),
         item(K::simulators, 1'000'000)},
        {item(K::dependencies, 1'000'000'000), item(K::simulators, 2'000'000)},
    };
    for (const auto& sample : samples) {
        auto* bar = new StorageBar(&env, panel.get());
        bar->setItems(sample);
        layout->addWidget(bar);
    }
    return panel;
}

std::unique_ptr<QWidget> symbolSheet(Environment& env) {
    class Symbols : public QWidget {
    public:
        explicit Symbols(Environment& e) : m_env(e) {}
        void paintEvent(QPaintEvent*) override {
            QPainter p(this);
            paintWoodlandBackground(p, rect(), Surface::panel, m_env);
            const char* names[] = {"square.stack.3d.up",
                                   "shippingbox",
                                   "hammer",
                                   "externaldrive",
                                   "iphone",
                                   "info.circle",
                                   "lock.fill",
                                   "lock.shield",
                                   "minus.circle",
                                   "arrow.clockwise",
                                   "folder.badge.gearshape",
                                   "checkmark.circle",
                                   "externaldrive.badge.magnifyingglass",
                                   "arrow.triangle.2.circlepath"};
            int x = 16;
            for (const char* name : names) {
                p.drawPixmap(x, 16,
                             symbol(name, Woodland::accent().resolve(m_env), 24, p.device()->devicePixelRatioF()));
                x += 36;
            }
            p.setFont(quillet::ui::font(TextStyle::title3, QFont::DemiBold));
            p.setPen(Woodland::ink().resolve(m_env));
            p.drawText(16, 72, QStringLiteral("More room. Less baggage."));
            p.setFont(quillet::ui::font(TextStyle::caption));
            p.setPen(Woodland::muted().resolve(m_env));
            p.drawText(16, 92, QStringLiteral("A little breathing room."));
        }
        Environment& m_env;
    };
    return std::make_unique<Symbols>(env);
}

std::unique_ptr<QWidget> surface(Environment& env, Surface s) { return std::make_unique<WoodlandBackground>(s, &env); }

std::vector<Picture> pictures() {
    return {
        {"background-main", {1100, 760}, [](Environment& e) { return surface(e, Surface::main); }},
        {"background-sidebar", {220, 760}, [](Environment& e) { return surface(e, Surface::sidebar); }},
        {"background-panel", {600, 520}, [](Environment& e) { return surface(e, Surface::panel); }},
        {"background-small", {150, 120}, [](Environment& e) { return surface(e, Surface::main); }},
        {"storage-bar", {600, 130}, barSamples},
        {"symbols", {540, 104}, symbolSheet},
        {"motion-idle-0s", {1100, 760}, [](Environment& e) { return std::make_unique<MotionScene>(e, 0, false); }},
        {"motion-idle-30s", {1100, 760}, [](Environment& e) { return std::make_unique<MotionScene>(e, 30, false); }},
        {"motion-working-8s", {1100, 760}, [](Environment& e) { return std::make_unique<MotionScene>(e, 8, true); }},
        {"motion-working-20s", {1100, 760}, [](Environment& e) { return std::make_unique<MotionScene>(e, 20, true); }},
    };
}

struct Look {
    const char* suffix;
    Appearance appearance;
    bool contrast;
};

}  // namespace

// Shows one picture in the light look until the window is closed, for a screen reader or a
// person to look at: render_look --show NAME
int show(QApplication& app, const QString& name) {
    for (const Picture& picture : pictures()) {
        if (picture.name != name) continue;
        Environment env;
        app.setPalette(woodlandPalette(env));
        std::unique_ptr<QWidget> widget = picture.make(env);
        widget->setWindowTitle(name);
        widget->resize(picture.size);
        widget->show();
        return app.exec();
    }
    std::fprintf(stderr, "render_look: no picture named %s\n", qPrintable(name));
    return 2;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 2 && QLatin1String(argv[1]) == QLatin1String("--show"))
        return show(app, QString::fromLocal8Bit(argv[2]));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUILLET_PICTURES_DIR);
    QDir().mkpath(folder);
    const Look looks[] = {{"light", Appearance::light, false},
                          {"dark", Appearance::dark, false},
                          {"light-contrast", Appearance::light, true},
                          {"dark-contrast", Appearance::dark, true}};
    int written = 0;
    for (const Picture& picture : pictures()) {
        for (const Look& look : looks) {
            Environment env;
            env.setAppearance(look.appearance);
            env.setIncreasedContrast(look.contrast);
            app.setPalette(woodlandPalette(env));
            std::unique_ptr<QWidget> widget = picture.make(env);
            widget->resize(picture.size);
            widget->show();
            widget->activateWindow();
            if (!QTest::qWaitForWindowActive(widget.get())) std::fprintf(stderr, "render_look: window not active\n");
            if (auto* scene = dynamic_cast<MotionScene*>(widget.get())) scene->settle();
            QImage image(picture.size * 2, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(2);
            image.fill(Qt::transparent);
            widget->render(&image);
            const QString path = QDir(folder).filePath(picture.name + QLatin1Char('-') + QLatin1String(look.suffix) +
                                                       QStringLiteral(".png"));
            if (!image.save(path)) {
                std::fprintf(stderr, "render_look: cannot write %s\n", qPrintable(path));
                return 1;
            }
            ++written;
        }
    }
    std::printf("render_look: %d pictures in %s\n", written, qPrintable(QDir(folder).canonicalPath()));
    return 0;
}
