#include "app/look/palette.h"

namespace quillet::ui {

QColor AdaptiveColor::resolve(Appearance appearance) const {
    return QColor::fromRgb(appearance == Appearance::dark ? dark : light);
}

namespace MakerPalette {
AdaptiveColor adaptive(QRgb light, QRgb dark) {
    // Opaque whatever the caller wrote in the top byte.
    return AdaptiveColor{qRgb(qRed(light), qGreen(light), qBlue(light)), qRgb(qRed(dark), qGreen(dark), qBlue(dark))};
}
const AdaptiveColor canvas = adaptive(0xEDF2E5, 0x172D25);
const AdaptiveColor sidebar = adaptive(0xDCE5D2, 0x10221B);
const AdaptiveColor paper = adaptive(0xF7F6F0, 0x25312B);
const AdaptiveColor row = adaptive(0xF8FAF2, 0x284336);
const AdaptiveColor selection = adaptive(0xC5D6B8, 0x34513D);
const AdaptiveColor ink = adaptive(0x213A2B, 0xEEF3E1);
const AdaptiveColor muted = adaptive(0x54674F, 0xB7C9B5);
const AdaptiveColor rule = adaptive(0xD1D6CA, 0x435148);
const AdaptiveColor accent = adaptive(0x386545, 0xB5D39B);
const AdaptiveColor action = adaptive(0x386545, 0x476C4E);
const AdaptiveColor leaf = adaptive(0x57794F, 0xB5D39B);
const AdaptiveColor warning = adaptive(0x795D2D, 0xE1C58D);
}  // namespace MakerPalette

namespace Woodland {
const AdaptiveColor& main() { return MakerPalette::canvas; }
const AdaptiveColor& sidebar() { return MakerPalette::sidebar; }
const AdaptiveColor& panel() { return MakerPalette::paper; }
const AdaptiveColor& row() { return MakerPalette::row; }
const AdaptiveColor& selection() { return MakerPalette::selection; }
const AdaptiveColor& ink() { return MakerPalette::ink; }
const AdaptiveColor& muted() { return MakerPalette::muted; }
const AdaptiveColor& rule() { return MakerPalette::rule; }
const AdaptiveColor& accent() { return MakerPalette::accent; }
const AdaptiveColor& actionFill() { return MakerPalette::action; }
const AdaptiveColor& art() { return MakerPalette::leaf; }
const AdaptiveColor& warning() { return MakerPalette::warning; }

AdaptiveColor category(tarnby::StorageKind kind) {
    switch (kind) {
        case tarnby::StorageKind::dependencies: return MakerPalette::adaptive(0x4B7859, 0xACCCA3);
        case tarnby::StorageKind::builds: return MakerPalette::adaptive(0x927242, 0xCDB583);
        case tarnby::StorageKind::caches: return MakerPalette::adaptive(0x537C70, 0xA3C4B2);
        case tarnby::StorageKind::simulators: return MakerPalette::adaptive(0x5C777D, 0xA9C2C3);
    }
    return MakerPalette::leaf;
}
}  // namespace Woodland

QColor withOpacity(QColor color, qreal opacity) {
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

QPalette woodlandPalette(Appearance a) {
    const QColor canvas = Woodland::main().resolve(a);
    const QColor panel = Woodland::panel().resolve(a);
    const QColor row = Woodland::row().resolve(a);
    const QColor ink = Woodland::ink().resolve(a);
    const QColor muted = Woodland::muted().resolve(a);
    const QColor accent = Woodland::accent().resolve(a);
    const QColor rule = Woodland::rule().resolve(a);
    const QColor selection = Woodland::selection().resolve(a);
    // Text on the action fill: paper in the light look, ink in the dark one.
    const QColor onAction = a == Appearance::dark ? Woodland::ink().resolve(a) : panel;

    QPalette p;
    p.setColor(QPalette::Window, canvas);
    p.setColor(QPalette::WindowText, ink);
    p.setColor(QPalette::Base, row);
    p.setColor(QPalette::AlternateBase, panel);
    p.setColor(QPalette::ToolTipBase, panel);
    p.setColor(QPalette::ToolTipText, ink);
    p.setColor(QPalette::PlaceholderText, muted);
    p.setColor(QPalette::Text, ink);
    p.setColor(QPalette::Button, panel);
    p.setColor(QPalette::ButtonText, ink);
    p.setColor(QPalette::BrightText, onAction);
    // Strong enough for the style's own focus and selection marks; the window's lists paint
    // their pale selection themselves.
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, a == Appearance::dark ? canvas : panel);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::LinkVisited, accent);
    // Fusion derives bevels from these.
    p.setColor(QPalette::Light, a == Appearance::dark ? rule.lighter(130) : QColor(Qt::white));
    p.setColor(QPalette::Midlight, rule);
    p.setColor(QPalette::Mid, rule.darker(115));
    p.setColor(QPalette::Dark, rule.darker(150));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0, a == Appearance::dark ? 160 : 90));

    const QColor disabledText = withOpacity(ink, 0.4);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, disabledText);
    }
    p.setColor(QPalette::Disabled, QPalette::Highlight, selection);
    return p;
}

QPalette woodlandPalette(const Environment& env) { return woodlandPalette(env.appearance()); }

}  // namespace quillet::ui
