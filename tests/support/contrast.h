#pragma once

// Contrast as WCAG 2 measures it, read from rendered pixels.

#include <QColor>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace quillet::testing {

inline double relativeLuminance(const QColor& colour) {
    auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

inline double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast of any pixel of `area` in `image` against `against`.
inline double strongestContrast(const QImage& image, const QRect& area, const QColor& against) {
    double strongest = 1;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            strongest = std::max(strongest, contrastRatio(image.pixelColor(x, y), against));
        }
    }
    return strongest;
}

}  // namespace quillet::testing
