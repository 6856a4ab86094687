#include <QAccessible>
#include <QPainter>
#include <QTest>

#include "app/look/palette.h"
#include "app/look/woodland_background.h"

using namespace quillet::ui;

namespace {
int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}
}  // namespace

class WoodlandBackgroundTest : public QObject {
    Q_OBJECT
private slots:
    void solidLooksShowOnlyThePlainSurfaceColour() {
        for (const Surface surface : {Surface::main, Surface::sidebar, Surface::panel}) {
            Environment env;
            WoodlandBackground background(surface, &env);
            background.resize(700, 500);
            QVERIFY(colourCount(background.grab().toImage()) > 1);
            env.setIncreasedContrast(true);
            QImage solid = background.grab().toImage();
            QCOMPARE(colourCount(solid), 1);
            env.setIncreasedContrast(false);
            env.setReduceTransparency(true);
            env.setAppearance(Appearance::dark);
            solid = background.grab().toImage();
            QCOMPARE(colourCount(solid), 1);
            const QColor expected = surface == Surface::main      ? Woodland::main().resolve(Appearance::dark)
                                    : surface == Surface::sidebar ? Woodland::sidebar().resolve(Appearance::dark)
                                                                  : Woodland::panel().resolve(Appearance::dark);
            QCOMPARE(solid.pixelColor(10, 10), expected);
        }
    }

    // Decoration, hidden from assistive technology, recoloured the moment the appearance changes.
    void switchingAppearanceRecoloursAtOnce() {
        Environment env;
        WoodlandBackground background(Surface::sidebar, &env);
        background.resize(300, 300);
        QVERIFY(QAccessible::queryAccessibleInterface(&background)->state().invisible);
        env.setAppearance(Appearance::dark);
        QCOMPARE(background.grab().toImage(),
                 woodlandLayer(QSize(300, 300), Surface::sidebar, Appearance::dark).toImage());
    }

    void aWindowSmallerThanOneTileStillDrawsASprig() {
        QCOMPARE(sprigPlacements(QSizeF(150, 70), Surface::main, Appearance::light).size(), size_t(1));
        QVERIFY(colourCount(woodlandLayer(QSize(150, 70), Surface::main, Appearance::light).toImage()) > 1);
    }

    void containersPaintTheSameLayer() {
        Environment env;
        env.setAppearance(Appearance::dark);
        QImage painted(400, 300, QImage::Format_RGB32);
        {
            QPainter painter(&painted);
            paintWoodlandBackground(painter, QRectF(0, 0, 400, 300), Surface::main, env);
        }
        QCOMPARE(painted, woodlandLayer(QSize(400, 300), Surface::main, Appearance::dark)
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32));
    }
};

QTEST_MAIN(WoodlandBackgroundTest)
#include "woodland_background_qtest.moc"
