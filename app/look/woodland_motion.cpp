#include "app/look/woodland_motion.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "app/look/decoration.h"
#include "app/look/palette.h"

namespace quillet::ui {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr qreal kRibOpacity = 0.045;
constexpr qreal kRibWidth = 0.8;

struct LeafShape {
    QPainterPath body;
    QPainterPath rib;
    QRectF bounds;
};

const LeafShape& leafShape() {
    static const LeafShape shape = [] {
        LeafShape s;
        s.body.moveTo(-46, 30);
        s.body.cubicTo(-49, -29, 18, -44, 48, -32);
        s.body.cubicTo(52, 27, -13, 47, -46, 30);
        s.body.closeSubpath();
        s.rib.moveTo(-54, 36);
        s.rib.quadTo(0, 12, 38, -24);
        s.bounds = s.body.boundingRect().united(s.rib.boundingRect());
        return s;
    }();
    return shape;
}

double steadySeconds() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(timer.nsecsElapsed()) / 1e9;
}

QTransform leafTransform(const LeafPose& pose) {
    QTransform t;
    t.translate(pose.centre.x(), pose.centre.y());
    t.rotateRadians(pose.turn);
    t.scale(pose.scale, pose.scale);
    return t;
}

}  // namespace

std::vector<LeafPose> leafPoses(LeafSet set, QSizeF size, double seconds) {
    const bool busy = set == LeafSet::busy;
    const int count = busy ? 2 : 1;
    const qreal scale = busy ? 1.15 : 0.9;
    const qreal base = busy ? 0.045 : 0.03;
    std::vector<LeafPose> poses;
    for (int i = 0; i < count; ++i) {
        const double period = busy ? 31.0 + 7.0 * i : 82.0;
        const double start = busy ? 0.28 + 0.44 * i : 0.64;
        const double raw = start + seconds / period;
        const double p = raw - std::floor(raw);
        const double fade = std::min(1.0, 8.0 * std::min(p, 1.0 - p));
        const double wave = std::sin(kTwoPi * p);
        const double row = busy ? 0.24 + 0.38 * i : 0.55;
        LeafPose pose;
        pose.centre = QPointF((1.14 - 1.28 * p) * size.width(), row * size.height() + 38.0 * wave);
        pose.turn = 0.35 * wave - 0.5;
        pose.scale = scale;
        pose.fill = base * fade;
        pose.rib = kRibOpacity * fade;
        poses.push_back(pose);
    }
    return poses;
}

QRectF leafBounds(const LeafPose& pose) {
    const qreal margin = kRibWidth + 2;
    return leafTransform(pose).mapRect(leafShape().bounds).adjusted(-margin, -margin, margin, margin);
}

void paintLeaf(QPainter& painter, const LeafPose& pose, const QColor& art, qreal opacity) {
    const LeafShape& shape = leafShape();
    painter.save();
    painter.setTransform(leafTransform(pose), true);
    painter.fillPath(shape.body, withOpacity(art, pose.fill * opacity));
    painter.strokePath(shape.rib, QPen(withOpacity(art, pose.rib * opacity), kRibWidth));
    painter.restore();
}

WoodlandMotion::WoodlandMotion(Environment* env, QWidget* parent)
    : QWidget(parent), m_env(env), m_clock(steadySeconds), m_timer(this), m_fadeCurve(QEasingCurve::BezierSpline) {
    makeDecoration(*this);
    setAttribute(Qt::WA_NoSystemBackground);
    // The platform's ease-in-out timing curve.
    m_fadeCurve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    // Rounded up, and precise: a coarse timer may fire up to 5 % early, past 15 frames a second.
    m_timer.setInterval((1000 + kFramesPerSecond - 1) / kFramesPerSecond);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WoodlandMotion::frame);
    connect(m_env, &Environment::changed, this, [this] {
        setWorking(m_working);  // reduce motion hides the busy leaves at once
        synchronize();
        update();
    });
}

bool WoodlandMotion::allowed() const {
    return isVisible() && isActiveWindow() && !m_obscured && !m_env->reduceMotion() && !m_env->solid();
}

void WoodlandMotion::setClock(Clock clock) {
    m_clock = std::move(clock);
    m_runningSince.reset();
    m_fadeStart.reset();
    synchronize();
}

void WoodlandMotion::synchronize() {
    const double now = m_clock();
    if (m_runningSince) m_elapsed += std::max(0.0, now - *m_runningSince);
    const bool run = allowed();
    m_runningSince = run ? std::optional<double>(now) : std::nullopt;
    if (!run && m_fadeStart) {
        // A fade only runs while motion is allowed; otherwise the busy leaves jump to their end.
        m_fadeFrom = m_fadeTo;
        m_fadeStart.reset();
    }
    if (run && !m_timer.isActive()) {
        m_timer.start();
    } else if (!run && m_timer.isActive()) {
        m_timer.stop();
    }
}

double WoodlandMotion::animationTime() const {
    if (m_env->reduceMotion()) return 0;
    double seconds = m_elapsed;
    if (m_runningSince) seconds += std::max(0.0, m_clock() - *m_runningSince);
    return seconds;
}

bool WoodlandMotion::fading() const { return m_fadeStart && m_clock() - *m_fadeStart < kFadeSeconds; }

qreal WoodlandMotion::busyOpacity() const {
    if (!m_fadeStart) return m_fadeTo;
    const double progress = std::clamp((m_clock() - *m_fadeStart) / kFadeSeconds, 0.0, 1.0);
    return m_fadeFrom + (m_fadeTo - m_fadeFrom) * m_fadeCurve.valueForProgress(progress);
}

void WoodlandMotion::setWorking(bool working) {
    m_working = working;
    const qreal target = working && !m_env->reduceMotion() ? 1.0 : 0.0;
    if (target == m_fadeTo) return;
    const qreal current = busyOpacity();
    m_fadeTo = target;
    if (allowed()) {
        m_fadeFrom = current;
        m_fadeStart = m_clock();
    } else {
        m_fadeFrom = target;
        m_fadeStart.reset();
    }
    update(leafRegion() + m_painted);
}

void WoodlandMotion::setObscured(bool obscured) {
    if (m_obscured == obscured) return;
    m_obscured = obscured;
    synchronize();
}

QRegion WoodlandMotion::leafRegion() const {
    if (m_env->solid()) return {};
    const double seconds = animationTime();
    QRegion region;
    for (const LeafPose& pose : leafPoses(LeafSet::idle, size(), seconds)) {
        region += leafBounds(pose).toAlignedRect();
    }
    if (busyOpacity() > 0) {
        for (const LeafPose& pose : leafPoses(LeafSet::busy, size(), seconds)) {
            region += leafBounds(pose).toAlignedRect();
        }
    }
    return region & rect();
}

void WoodlandMotion::frame() {
    if (m_fadeStart && !fading()) {
        m_fadeFrom = m_fadeTo;
        m_fadeStart.reset();
    }
    const QRegion now = leafRegion();
    update(now + m_painted);
    m_painted = now;
}

void WoodlandMotion::paintEvent(QPaintEvent* event) {
    // Solid looks hide the whole layer.
    if (m_env->solid()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRegion(event->region());
    const QColor art = Woodland::art().resolve(*m_env);
    const double seconds = animationTime();
    for (const LeafPose& pose : leafPoses(LeafSet::idle, size(), seconds)) paintLeaf(painter, pose, art);
    const qreal busy = busyOpacity();
    if (busy > 0) {
        for (const LeafPose& pose : leafPoses(LeafSet::busy, size(), seconds)) {
            paintLeaf(painter, pose, art, busy);
        }
    }
    m_painted = leafRegion();
}

bool WoodlandMotion::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // A window hears ActivationChange; the widgets inside it hear WindowActivate/-Deactivate.
    switch (event->type()) {
        case QEvent::ActivationChange:
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate: synchronize(); break;
        default: break;
    }
    return handled;
}

void WoodlandMotion::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    synchronize();
}

void WoodlandMotion::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    synchronize();
}

}  // namespace quillet::ui
