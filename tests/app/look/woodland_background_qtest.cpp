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

    void switchingAppearanceRecoloursAtOnce() {
        Environment env;
        WoodlandBackground background(Surface::sidebar, &env);
        background.resize(300, 300);
        const QImage light = background.grab().toImage();
        env.setAppearance(Appearance::dark);
        const QImage dark = background.grab().toImage();
        QCOMPARE(dark, woodlandLayer(QSize(300, 300), Surface::sidebar, Appearance::dark).toImage());
        // Where the gradient passes through clear, the surface colour shows nearly unchanged.
        const auto near = [](QColor a, QColor b) {
            return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2 && qAbs(a.blue() - b.blue()) <= 2;
        };
        QVERIFY(near(light.pixelColor(150, 150), Woodland::sidebar().resolve(Appearance::light)));
        QVERIFY(near(dark.pixelColor(150, 150), Woodland::sidebar().resolve(Appearance::dark)));
        QVERIFY(QAccessible::queryAccessibleInterface(&background)->state().invisible);
    }

    void aWindowSmallerThanOneTileStillDrawsTheFirstSprig() {
        const auto small = sprigPlacements(QSizeF(150, 70), Surface::main, Appearance::light);
        QCOMPARE(small.size(), size_t(1));
        QCOMPARE(small[0].centre, QPointF(105, 100));
        QCOMPARE(small[0].turn, -0.7);
        // t = max(105 / 150, 0.8 * 100 / 70) is capped at 1.
        QCOMPARE(small[0].opacity, 0.028);
        QVERIFY(colourCount(woodlandLayer(QSize(150, 70), Surface::main, Appearance::light).toImage()) > 1);
    }

    void sprigsTileTurnAndFadeByPosition() {
        const auto main = sprigPlacements(QSizeF(1100, 760), Surface::main, Appearance::dark);
        // Columns 0..4 and rows 0..3.
        QCOMPARE(main.size(), size_t(20));
        const SprigPlacement& r1c2 = main[1 * 5 + 2];
        QCOMPARE(r1c2.centre, QPointF(2 * 240 + 105, 240 + 100));
        QVERIFY(qFuzzyCompare(r1c2.turn, 0 * 0.32 - 0.7));  // (2 + 3) mod 5 = 0
        const double t = std::max(585.0 / 1100.0, 0.8 * 340.0 / 760.0);
        QVERIFY(qFuzzyCompare(r1c2.opacity, 0.026 * t * t * t));
        QVERIFY(qFuzzyCompare(main[1].turn, 1 * 0.32 - 0.7));
        const auto sidebar = sprigPlacements(QSizeF(220, 760), Surface::sidebar, Appearance::light);
        QCOMPARE(sidebar.size(), size_t(2 * 5));
        QCOMPARE(sidebar[2].centre, QPointF(105, 190 + 100));
        for (const auto& s : sidebar) QVERIFY(qFuzzyCompare(s.opacity, 0.028 * 0.32));
        for (const auto& s : sprigPlacements(QSizeF(600, 400), Surface::panel, Appearance::dark)) {
            QVERIFY(qFuzzyCompare(s.opacity, 0.026 * 0.18));
        }
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
