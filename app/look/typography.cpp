#include "app/look/typography.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <algorithm>

namespace quillet::ui {

namespace {
// Role sizes in points (device-independent pixels) against a 13-point body.
constexpr qreal kBodySize = 13.0;

// Grows every role with a desktop font set larger than the usual body; never shrinks below the
// role sizes, which are already small.
qreal desktopScale() {
    const QFont base = QGuiApplication::font();
    const qreal pixels = base.pixelSize() > 0 ? base.pixelSize() : base.pointSizeF() * 96.0 / 72.0;
    return std::max<qreal>(1.0, pixels / kBodySize);
}

QFont sized(QFont f, TextStyle style) {
    f.setPixelSize(qRound(pointSize(style) * desktopScale()));
    return f;
}
}  // namespace

qreal pointSize(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle: return 26;
        case TextStyle::title: return 22;
        case TextStyle::title2: return 17;
        case TextStyle::title3: return 15;
        case TextStyle::headline: return 13;
        case TextStyle::body: return 13;
        case TextStyle::callout: return 12;
        case TextStyle::subheadline: return 11;
        case TextStyle::caption: return 10;
    }
    return kBodySize;
}

QFont font(TextStyle style, QFont::Weight weight) {
    QFont f = sized(QGuiApplication::font(), style);
    if (style == TextStyle::headline && weight == QFont::Normal) weight = QFont::DemiBold;
    f.setWeight(weight);
    return f;
}

QFont monospacedDigits(QFont base) {
    // Qt 6.4 cannot switch OpenType features; the desktop sans fonts (DejaVu, Cantarell, Noto)
    // already draw tabular figures by default, so the font serves as it is.
    return base;
}

QFont monospaced(TextStyle style) { return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), style); }

}  // namespace quillet::ui
