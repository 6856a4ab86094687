#include "app/look/woodland_background.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <deque>

#include "app/look/decoration.h"
#include "app/look/palette.h"

namespace quillet::ui {

namespace {

const AdaptiveColor& surfaceColor(Surface surface) {
    switch (surface) {
        case Surface::sidebar: return Woodland::sidebar();
        case Surface::panel: return Woodland::panel();
        case Surface::main: break;
    }
    return Woodland::main();
}

qreal tileSpacing(Surface surface) { return surface == Surface::sidebar ? 190.0 : 240.0; }

// A stem and four leaves around the sprig's own origin.
struct SprigShape {
    QPainterPath stem;
    QPainterPath leaves;
};

const SprigShape& sprigShape() {
    static const SprigShape shape = [] {
        SprigShape s;
        s.stem.moveTo(0, 110);
        s.stem.cubicTo(-20, 40, 25, -20, 8, -92);
        struct Leaf {
            QPointF base, tip, out1, out2, back1, back2;
        };
        const Leaf leaves[] = {
            {{7, -34}, {75, -102}, {9, -77}, {39, -107}, {77, -53}, {40, -31}},
            {{7, 9}, {-75, -59}, {-9, -34}, {-39, -64}, {-77, -10}, {-40, 12}},
            {{7, 52}, {75, -16}, {9, 9}, {39, -21}, {77, 33}, {40, 55}},
            {{7, 95}, {-75, 27}, {-9, 52}, {-39, 22}, {-77, 76}, {-40, 98}},
        };
        for (const Leaf& leaf : leaves) {
            s.leaves.moveTo(leaf.base);
            s.leaves.cubicTo(leaf.out1, leaf.out2, leaf.tip);
            s.leaves.cubicTo(leaf.back1, leaf.back2, leaf.base);
            s.leaves.closeSubpath();
        }
        return s;
    }();
    return shape;
}

void paintSprigs(QPainter& painter, QSizeF size, Surface surface, Appearance appearance) {
    const QColor art = Woodland::art().resolve(appearance);
    const SprigShape& shape = sprigShape();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const SprigPlacement& sprig : sprigPlacements(size, surface, appearance)) {
        painter.save();
        painter.translate(sprig.centre);
        painter.rotate(qRadiansToDegrees(sprig.turn));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(withOpacity(art, std::min<qreal>(1, 1.5 * sprig.opacity)), 0.8));
        painter.drawPath(shape.stem);
        painter.setBrush(withOpacity(art, sprig.opacity));
        painter.setPen(QPen(withOpacity(art, 0.8 * sprig.opacity), 0.6));
        painter.drawPath(shape.leaves);
        painter.restore();
    }
}

QString layerKey(QSize size, Surface surface, Appearance appearance, qreal ratio) {
    return QStringLiteral("woodland:%1:%2:%3x%4:%5")
        .arg(int(surface))
        .arg(int(appearance))
        .arg(size.width())
        .arg(size.height())
        .arg(ratio);
}

}  // namespace

std::vector<SprigPlacement> sprigPlacements(QSizeF size, Surface surface, Appearance appearance) {
    const qreal width = size.width();
    const qreal height = size.height();
    const qreal spacing = tileSpacing(surface);
    const qreal base = appearance == Appearance::dark ? 0.026 : 0.028;
    const int rows = int(std::floor(std::max<qreal>(0, height) / spacing));
    const int columns = int(std::floor(std::max<qreal>(0, width) / spacing));
    std::vector<SprigPlacement> placements;
    placements.reserve(size_t(rows + 1) * size_t(columns + 1));
    for (int r = 0; r <= rows; ++r) {
        for (int c = 0; c <= columns; ++c) {
            SprigPlacement p;
            p.centre = QPointF(c * spacing + 105, r * spacing + 100);
            p.turn = ((c + 3 * r) % 5) * 0.32 - 0.7;
            qreal fade = 0.18;
            if (surface == Surface::sidebar) {
                fade = 0.32;
            } else if (surface == Surface::main) {
                // Sprigs fade in towards the right and the bottom.
                const qreal t = std::min<qreal>(1, std::max(p.centre.x() / std::max<qreal>(width, 1),
                                                            0.8 * p.centre.y() / std::max<qreal>(height, 1)));
                fade = t * t * t;
            }
            p.opacity = base * fade;
            placements.push_back(p);
        }
    }
    return placements;
}

QPixmap woodlandLayer(QSize size, Surface surface, Appearance appearance, qreal ratio) {
    if (size.isEmpty()) return {};
    // Sixteen bits a channel while drawing: the gradient and the sprigs are a few percent strong,
    // and eight-bit blending of such faint colours leaves visible stripes.
    QImage image(QSize(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio))),
                 QImage::Format_RGBA64_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(surfaceColor(surface).resolve(appearance));
    QPainter painter(&image);
    const QColor selection = Woodland::selection().resolve(appearance);
    const QColor art = Woodland::art().resolve(appearance);
    QLinearGradient gradient(QPointF(0, 0), QPointF(size.width(), size.height()));
    gradient.setColorAt(0, withOpacity(selection, 0.2));
    // "Clear" on either side of the middle keeps each half in its own hue instead of greying.
    gradient.setColorAt(0.5, withOpacity(selection, 0));
    gradient.setColorAt(0.5 + 1e-6, withOpacity(art, 0));
    gradient.setColorAt(1, withOpacity(art, 0.04));
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), gradient);
    paintSprigs(painter, QSizeF(size), surface, appearance);
    painter.end();
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_RGB32));
}

void paintWoodlandBackground(QPainter& painter, const QRectF& rect, Surface surface, const Environment& env) {
    if (env.solid()) {
        painter.fillRect(rect, surfaceColor(surface).resolve(env));
        return;
    }
    const QSize size = rect.size().toSize();
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QString key = layerKey(size, surface, env.appearance(), ratio);
    // A few recent layers of our own: a full window at a ratio of 2 is larger than QPixmapCache's
    // whole default budget, which would silently refuse it and redraw the sprigs on every paint.
    struct Entry {
        QString key;
        QPixmap layer;
    };
    static std::deque<Entry> recent;
    constexpr size_t kKept = 4;
    auto found = std::find_if(recent.begin(), recent.end(), [&key](const Entry& e) { return e.key == key; });
    if (found == recent.end()) {
        recent.push_front({key, woodlandLayer(size, surface, env.appearance(), ratio)});
        if (recent.size() > kKept) recent.pop_back();
        found = recent.begin();
    }
    painter.drawPixmap(rect.topLeft(), found->layer);
}

WoodlandBackground::WoodlandBackground(Surface surface, Environment* env, QWidget* parent)
    : QWidget(parent), m_surface(surface), m_env(env) {
    makeDecoration(*this);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(m_env, &Environment::changed, this, qOverload<>(&QWidget::update));
}

void WoodlandBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect exposed = event->rect();
    if (m_env->solid()) {
        painter.fillRect(exposed, surfaceColor(m_surface).resolve(*m_env));
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QString key = layerKey(size(), m_surface, m_env->appearance(), ratio);
    if (key != m_layerKey) {
        m_layer = woodlandLayer(size(), m_surface, m_env->appearance(), ratio);
        m_layerKey = key;
    }
    // Only the exposed part: a leaf frame above asks for a few small rectangles.
    const QRectF source(exposed.x() * ratio, exposed.y() * ratio, exposed.width() * ratio, exposed.height() * ratio);
    painter.drawPixmap(QRectF(exposed), m_layer, source);
}

}  // namespace quillet::ui
