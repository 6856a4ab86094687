#pragma once

#include <QColor>
#include <QPalette>

#include "app/look/environment.h"
#include "core/records/storage_kind.h"

namespace quillet::ui {

// One colour per appearance, opaque sRGB.
struct AdaptiveColor {
    QRgb light;
    QRgb dark;
    QColor resolve(Appearance appearance) const;
    QColor resolve(const Environment& env) const { return resolve(env.appearance()); }
};

namespace MakerPalette {
AdaptiveColor adaptive(QRgb light, QRgb dark);
extern const AdaptiveColor canvas, sidebar, paper, row, selection, ink, muted, rule, accent, action, leaf, warning;
}  // namespace MakerPalette

// The names the views use.
namespace Woodland {
const AdaptiveColor& main();
const AdaptiveColor& sidebar();
const AdaptiveColor& panel();
const AdaptiveColor& row();
const AdaptiveColor& selection();
const AdaptiveColor& ink();
const AdaptiveColor& muted();
const AdaptiveColor& rule();
const AdaptiveColor& accent();
const AdaptiveColor& actionFill();
const AdaptiveColor& art();
const AdaptiveColor& warning();
AdaptiveColor category(tarnby::StorageKind kind);
}  // namespace Woodland

// `color` with its alpha multiplied by `opacity`.
QColor withOpacity(QColor color, qreal opacity);

// Palette for the standard widgets (Fusion style) in the environment's appearance.
QPalette woodlandPalette(const Environment& env);
QPalette woodlandPalette(Appearance appearance);

}  // namespace quillet::ui
