#pragma once

#include <QPixmap>
#include <QWidget>

#include "app/look/environment.h"

class QPainter;

namespace quillet::ui {

enum class Surface { main, sidebar, panel };

// The decorative layer behind a surface: its plain colour and, unless the environment asks for
// a solid look, a faint diagonal gradient and tiled leafy sprigs. The layer depends only on the
// size, the surface and the appearance, so it is drawn once into a pixmap and reused.
QPixmap woodlandLayer(QSize size, Surface surface, Appearance appearance, qreal devicePixelRatio = 1.0);

// Paints the background into `rect` (the last few layers are kept) for containers that paint it
// themselves.
void paintWoodlandBackground(QPainter& painter, const QRectF& rect, Surface surface, const Environment& env);

// Sprig tiling, exposed for tests: spacing, and each sprig's centre, turn and opacity.
struct SprigPlacement {
    QPointF centre;
    qreal turn = 0;     // radians
    qreal opacity = 0;  // of the leaves' fill
};
std::vector<SprigPlacement> sprigPlacements(QSizeF size, Surface surface, Appearance appearance);

// A full-size layer that paints the background of a surface; transparent to the mouse and
// hidden from accessibility. Place it behind the content (lower()).
class WoodlandBackground : public QWidget {
    Q_OBJECT
public:
    WoodlandBackground(Surface surface, Environment* env, QWidget* parent = nullptr);
    Surface surface() const { return m_surface; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Surface m_surface;
    Environment* m_env;
    QPixmap m_layer;  // kept per widget so a resize elsewhere cannot evict it
    QString m_layerKey;
};

}  // namespace quillet::ui
