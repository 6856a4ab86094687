#pragma once

#include <QEasingCurve>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "app/look/environment.h"

namespace quillet::ui {

// Where one drifting leaf is at an animation time.
struct LeafPose {
    QPointF centre;
    qreal turn = 0;  // radians
    qreal scale = 1;
    qreal fill = 0;  // opacity of the body
    qreal rib = 0;   // opacity of the midrib
};

enum class LeafSet { idle, busy };
std::vector<LeafPose> leafPoses(LeafSet set, QSizeF size, double seconds);
// Bounds of a leaf drawn at `pose`, with room for antialiasing.
QRectF leafBounds(const LeafPose& pose);
void paintLeaf(QPainter& painter, const LeafPose& pose, const QColor& art, qreal opacity = 1.0);

// Slowly drifting leaves above the main background: one at all times, two more while work runs.
// Its clock runs only while motion is allowed (window active, no sheet open, no reduce motion,
// no solid look) and picks up where it stopped. At most 15 frames a second, no timer at all
// while paused, and a frame repaints only where the leaves were and are. Decoration only.
class WoodlandMotion : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFramesPerSecond = 15;
    static constexpr double kFadeSeconds = 1.5;
    using Clock = std::function<double()>;  // monotonic seconds

    WoodlandMotion(Environment* env, QWidget* parent = nullptr);

    void setWorking(bool working);
    void setObscured(bool obscured);
    bool working() const { return m_working; }
    bool obscured() const { return m_obscured; }

    bool allowed() const;
    double elapsed() const { return m_elapsed; }
    std::optional<double> runningSince() const { return m_runningSince; }
    // Seconds of animation at the clock's now: 0 under reduce motion; paused time does not count.
    double animationTime() const;
    // Opacity of the busy leaves, including a running fade.
    qreal busyOpacity() const;
    bool frameTimerActive() const { return m_timer.isActive(); }
    // For tests: a clock of their own (takes effect at once).
    void setClock(Clock clock);
    // Folds the time run so far into `elapsed` and restarts or stops the clock and timer.
    void synchronize();
    // One animation frame: asks for a repaint of where the leaves were and are. The frame timer
    // calls it; benchmarks call it directly.
    void frame();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool fading() const;
    QRegion leafRegion() const;

    Environment* m_env;
    Clock m_clock;
    QTimer m_timer;
    QEasingCurve m_fadeCurve;
    bool m_working = false;
    bool m_obscured = false;
    double m_elapsed = 0;
    std::optional<double> m_runningSince;
    // The busy leaves fade between m_fadeFrom and m_fadeTo from m_fadeStart on.
    qreal m_fadeFrom = 0;
    qreal m_fadeTo = 0;
    std::optional<double> m_fadeStart;
    QRegion m_painted;  // where the last frame drew leaves
};

}  // namespace quillet::ui
