#pragma once

#include <QIcon>
#include <QPixmap>
#include <string_view>

namespace quillet::ui {

// The icon for a symbol name ("shippingbox", "info.circle", …), tinted, `pixels` wide and high
// in device-independent pixels, rendered for the device pixel ratio. Cached by name, tint, size
// and ratio. An unknown name gives a null pixmap.
QPixmap symbol(std::string_view name, const QColor& tint, int pixels, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(std::string_view name, const QColor& tint, int pixels = 16);
bool hasSymbol(std::string_view name);

}  // namespace quillet::ui
