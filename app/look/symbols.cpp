#include "app/look/symbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <cmath>

static void initIconResources() { Q_INIT_RESOURCE(icons); }

namespace quillet::ui {

namespace {
QString resourcePath(std::string_view name) {
    static const bool loaded = (initIconResources(), true);
    (void)loaded;
    return QStringLiteral(":/icons/") + QString::fromUtf8(name.data(), qsizetype(name.size())) + QStringLiteral(".svg");
}
}  // namespace

bool hasSymbol(std::string_view name) { return QFile::exists(resourcePath(name)); }

QPixmap symbol(std::string_view name, const QColor& tint, int pixels, qreal devicePixelRatio) {
    if (pixels <= 0 || devicePixelRatio <= 0) return {};
    const QString path = resourcePath(name);
    const QString key = QStringLiteral("symbol:%1:%2:%3:%4")
                            .arg(path)
                            .arg(tint.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(pixels)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;

    if (!QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    const int device = int(std::ceil(pixels * devicePixelRatio));
    QPixmap pixmap(device, device);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, device, device));
        // The SVG's own colour only shapes the alpha; the tint supplies the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), tint);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(std::string_view name, const QColor& tint, int pixels) {
    QIcon icon;
    for (qreal ratio : {1.0, 2.0}) {
        const QPixmap pixmap = symbol(name, tint, pixels, ratio);
        if (!pixmap.isNull()) icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace quillet::ui
