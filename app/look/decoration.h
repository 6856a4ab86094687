#pragma once

class QWidget;

namespace quillet::ui {

// Marks a purely decorative widget: transparent to the mouse, never focused, and reported to
// assistive technology as invisible so screen readers pass over it.
void makeDecoration(QWidget& widget);
bool isDecoration(const QWidget& widget);

}  // namespace quillet::ui
