// Renders the window's pieces to PNG files for looking at: the backgrounds, the storage bar, the
// symbols and the leaves, each in the four looks of pictures.h.
//   render_look [output folder]     (default: build/<preset>/pictures)
//   render_look --show NAME         one picture in a window, for a person or a screen reader
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/look/woodland_background.h"
#include "app/look/woodland_motion.h"
#include "app/window/storage_bar.h"
#include "tools/pictures/pictures.h"

using namespace quillet::ui;

namespace {

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
        m_motion->setObscured(true);
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
    using K = tarnby::StorageKind;
    const std::vector<std::vector<std::pair<K, std::int64_t>>> samples = {
        {},
        {{K::caches, 0}},
        {{K::builds, 4'000'000}},
        {{K::dependencies, 9'000'000}, {K::builds, 5'000'000}, {K::caches, 3'000'000}, {K::simulators, 1'000'000}},
        {{K::dependencies, 1'000'000'000}, {K::simulators, 2'000'000}},
    };
    for (const auto& sample : samples) {
        std::vector<tarnby::StorageItem> items(sample.size());
        for (std::size_t i = 0; i < sample.size(); ++i) {
            items[i].kind = sample[i].first;
            items[i].measurement.bytes = sample[i].second;
        }
        auto* bar = new StorageBar(&env, panel.get());
        bar->setItems(items);
        layout->addWidget(bar);
    }
    return panel;
}

// Every symbol the app ships, in the accent colour, and the two type styles beside them.
class SymbolSheet : public QWidget {
public:
    explicit SymbolSheet(Environment& env) : m_env(env) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paintWoodlandBackground(p, rect(), Surface::panel, m_env);
        int x = 16;
        for (const QString& file : QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")})) {
            const std::string name = file.chopped(4).toStdString();
            p.drawPixmap(x, 16, symbol(name, Woodland::accent().resolve(m_env), 24, p.device()->devicePixelRatioF()));
            x += 36;
        }
        p.setFont(quillet::ui::font(TextStyle::title3, QFont::DemiBold));
        p.setPen(Woodland::ink().resolve(m_env));
        p.drawText(16, 72, QStringLiteral("More room. Less baggage."));
        p.setFont(quillet::ui::font(TextStyle::caption));
        p.setPen(Woodland::muted().resolve(m_env));
        p.drawText(16, 92, QStringLiteral("A little breathing room."));
    }

private:
    Environment& m_env;
};

std::vector<Picture> allPictures() {
    const auto surface = [](Surface s) {
        return [s](Environment& e) { return std::make_unique<WoodlandBackground>(s, &e); };
    };
    const auto motion = [](double seconds, bool working) {
        return [=](Environment& e) { return std::make_unique<MotionScene>(e, seconds, working); };
    };
    return {
        {"background-main", {1100, 760}, surface(Surface::main)},
        {"background-sidebar", {220, 760}, surface(Surface::sidebar)},
        {"background-panel", {600, 520}, surface(Surface::panel)},
        {"background-small", {150, 120}, surface(Surface::main)},
        {"storage-bar", {600, 130}, barSamples},
        {"symbols", {540, 104}, [](Environment& e) { return std::make_unique<SymbolSheet>(e); }},
        {"motion-idle-0s", {1100, 760}, motion(0, false)},
        {"motion-idle-30s", {1100, 760}, motion(30, false)},
        {"motion-working-8s", {1100, 760}, motion(8, true)},
        {"motion-working-20s", {1100, 760}, motion(20, true)},
    };
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 2 && QLatin1String(argv[1]) == QLatin1String("--show")) {
        for (const Picture& picture : allPictures()) {
            if (picture.name != QLatin1String(argv[2])) continue;
            Environment env;
            pictures::apply(env, pictures::kLooks[0]);
            std::unique_ptr<QWidget> widget = picture.make(env);
            widget->resize(picture.size);
            widget->show();
            return QApplication::exec();
        }
        std::fprintf(stderr, "render_look: no picture named %s\n", argv[2]);
        return 2;
    }
    const QString folder = pictures::folder(argc, argv, QUILLET_PICTURES_DIR);
    bool saved = true;
    for (const Picture& picture : allPictures()) {
        for (const pictures::Look& look : pictures::kLooks) {
            Environment env;
            pictures::apply(env, look);
            std::unique_ptr<QWidget> widget = picture.make(env);
            widget->resize(picture.size);
            widget->show();
            widget->activateWindow();
            if (!QTest::qWaitForWindowActive(widget.get())) std::fprintf(stderr, "render_look: window not active\n");
            if (auto* scene = dynamic_cast<MotionScene*>(widget.get())) scene->settle();
            saved =
                pictures::save(*widget, folder, picture.name + QLatin1Char('-') + QLatin1String(look.name), 2) && saved;
        }
    }
    return saved ? 0 : 1;
}
