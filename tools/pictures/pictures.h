#pragma once

// What the picture tools share: the four looks every picture is drawn in, the folder they go
// to, and saving what a widget shows.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QWidget>

#include <cstdio>

#include "app/look/environment.h"
#include "app/look/palette.h"

namespace pictures {

struct Look {
    const char* name;
    quillet::ui::Appearance appearance;
    bool contrast;
};

inline constexpr Look kLooks[] = {{"light", quillet::ui::Appearance::light, false},
                                  {"dark", quillet::ui::Appearance::dark, false},
                                  {"light-contrast", quillet::ui::Appearance::light, true},
                                  {"dark-contrast", quillet::ui::Appearance::dark, true}};

// Puts `env` in `look` and gives the application the palette that goes with it.
inline void apply(quillet::ui::Environment& env, const Look& look) {
    env.setAppearance(look.appearance);
    env.setIncreasedContrast(look.contrast);
    QApplication::setPalette(quillet::ui::woodlandPalette(env));
}

// The first argument, else the build's folder for these pictures; made if missing.
inline QString folder(int argc, char** argv, const char* fallback) {
    const QString chosen = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString::fromUtf8(fallback);
    QDir().mkpath(chosen);
    return chosen;
}

// Writes what `widget` shows to folder/name.png, `scale` pixels to each of the widget's, and
// says where.
inline bool save(QWidget& widget, const QString& folder, const QString& name, qreal scale = 1) {
    QApplication::processEvents();
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    widget.render(&image);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    const bool saved = image.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED to write", qPrintable(path));
    return saved;
}

}  // namespace pictures
