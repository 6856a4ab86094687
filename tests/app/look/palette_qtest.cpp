#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/look/symbols.h"
#include "app/look/woodland_panel.h"

using namespace quillet::ui;

class PaletteTest : public QObject {
    Q_OBJECT
private slots:
    // A panel follows the appearance; one change, however often it is said, is one change.
    void panelRecoloursWhenTheAppearanceChanges() {
        Environment env;
        WoodlandPanel panel(&env, 600);
        QCOMPARE(panel.palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::light));
        QSignalSpy spy(&env, &Environment::changed);
        env.setAppearance(Appearance::dark);
        env.setAppearance(Appearance::dark);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(panel.palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::dark));
        QCOMPARE(panel.palette().color(QPalette::Window), Woodland::panel().resolve(Appearance::dark));
        // Colours are opaque whatever was written in the top byte.
        QCOMPARE(MakerPalette::adaptive(0x12345678, 0).resolve(Appearance::light).alpha(), 255);
    }

    void symbolsAreTintedAndCached() {
        const QColor tint(0x38, 0x65, 0x45);
        const QPixmap icon = symbol("info.circle", tint, 16, 2.0);
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.devicePixelRatio(), 2.0);
        const QImage image = icon.toImage();
        int painted = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 255) continue;
                ++painted;
                QCOMPARE(c.rgb(), tint.rgb());
            }
        }
        QVERIFY(painted > 20);
        QCOMPARE(symbol("info.circle", tint, 16, 2.0).cacheKey(), icon.cacheKey());
        QVERIFY(symbol("no.such.symbol", tint, 16).isNull());
    }
};

QTEST_MAIN(PaletteTest)
#include "palette_qtest.moc"
