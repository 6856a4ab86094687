#pragma once

#include <QCheckBox>

#include "app/look/palette.h"

class QPainter;

namespace quillet::ui {

// The look of every checkbox: outlined in `tint`, which stands at 3:1 or more against the
// surfaces it sits on, and filled with it and ticked when on. Increased contrast draws it in
// ink with a thicker outline.
struct CheckBoxState {
    bool checked = false;
    bool hovered = false;
    bool pressed = false;
};
inline constexpr int kCheckBoxSize = 16;
void paintCheckBox(QPainter& painter, const QRectF& box, CheckBoxState state, const AdaptiveColor& tint,
                   const Environment& env);

// A checkbox without text of its own, drawn by paintCheckBox.
class CheckBox final : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(Environment* env, AdaptiveColor tint, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {kCheckBoxSize, kCheckBoxSize}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint& point) const override { return rect().contains(point); }
    void paintEvent(QPaintEvent* event) override;

private:
    Environment* m_env;
    AdaptiveColor m_tint;
};

}  // namespace quillet::ui
