#pragma once

class QColor;
class QPainter;
class QRectF;
class QWidget;

namespace quillet::ui {

// Marks a purely decorative widget: transparent to the mouse, never focused, and reported to
// assistive technology as invisible so screen readers pass over it.
void makeDecoration(QWidget& widget);
bool isDecoration(const QWidget& widget);

class Environment;

// The track under a bar of shares: the ink colour, barely there, and plainer with increased
// contrast, where it shows how far a bar could reach.
QColor trackColour(const Environment& env);
// Fills `rect` with its ends rounded by half its height, as the bars of shares are drawn.
void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& colour);

}  // namespace quillet::ui
