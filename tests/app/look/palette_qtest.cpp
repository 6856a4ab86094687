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
    void everyColourTakesItsValueInEachAppearance() {
        struct Row {
            const AdaptiveColor& colour;
            QRgb light;
            QRgb dark;
        };
        const Row rows[] = {
            {Woodland::main(), 0xEDF2E5, 0x172D25},      {Woodland::sidebar(), 0xDCE5D2, 0x10221B},
            {Woodland::panel(), 0xF7F6F0, 0x25312B},     {Woodland::row(), 0xF8FAF2, 0x284336},
            {Woodland::selection(), 0xC5D6B8, 0x34513D}, {Woodland::ink(), 0x213A2B, 0xEEF3E1},
            {Woodland::muted(), 0x54674F, 0xB7C9B5},     {Woodland::rule(), 0xD1D6CA, 0x435148},
            {Woodland::accent(), 0x386545, 0xB5D39B},    {Woodland::actionFill(), 0x386545, 0x476C4E},
            {Woodland::art(), 0x57794F, 0xB5D39B},       {Woodland::warning(), 0x795D2D, 0xE1C58D},
        };
        for (const Row& row : rows) {
            QCOMPARE(row.colour.resolve(Appearance::light), QColor(QRgb(0xFF000000u | row.light)));
            QCOMPARE(row.colour.resolve(Appearance::dark), QColor(QRgb(0xFF000000u | row.dark)));
        }
        QCOMPARE(Woodland::category(tarnby::StorageKind::builds).resolve(Appearance::light), QColor(0x92, 0x72, 0x42));
        QCOMPARE(Woodland::category(tarnby::StorageKind::simulators).resolve(Appearance::dark),
                 QColor(0xA9, 0xC2, 0xC3));
        QCOMPARE(MakerPalette::adaptive(0x12345678, 0).resolve(Appearance::light).alpha(), 255);
    }

    void panelRecoloursWhenTheAppearanceChanges() {
        Environment env;
        WoodlandPanel panel(&env, 600);
        QCOMPARE(panel.width(), 600);
        QCOMPARE(panel.windowModality(), Qt::WindowModal);
        QCOMPARE(panel.palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::light));
        QSignalSpy spy(&env, &Environment::changed);
        env.setAppearance(Appearance::dark);
        env.setAppearance(Appearance::dark);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(panel.palette().color(QPalette::WindowText), Woodland::ink().resolve(Appearance::dark));
        QCOMPARE(panel.palette().color(QPalette::Window), Woodland::panel().resolve(Appearance::dark));
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
