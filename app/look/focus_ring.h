#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "app/look/environment.h"

class QPainter;

namespace quillet::ui {

// How keyboard focus is drawn: in the accent colour, which stands at 4:1 or more against every
// surface and wash of both appearances; with increased contrast, in ink and thicker.
struct FocusLook {
    QColor colour;
    qreal width = 2;
};
FocusLook focusLook(const Environment& env);
// Draws the ring just inside `bounds`; rows of lists draw their own with it.
void paintFocus(QPainter& painter, const QRectF& bounds, qreal radius, const Environment& env);

// Draws the focus ring around whichever control of `window` has the keyboard, a small gap
// outside its edges, so it shows on filled buttons too. Item views ring their current row
// themselves and get none; nor does a control the mouse just clicked, except a text field.
// Clipped to the scroll areas the control sits in. Decoration: never takes input or focus.
class FocusRing final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kGap = 2;

    FocusRing(Environment* env, QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow(QWidget* target);
    void place();

    Environment* m_env;
    QWidget* m_window;
    QPointer<QWidget> m_target;
    QList<QPointer<QWidget>> m_watched;  // the target and its ancestors below the window
};

}  // namespace quillet::ui
