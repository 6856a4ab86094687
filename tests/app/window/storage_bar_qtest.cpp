#include <QAccessible>
#include <QTest>

#include "app/window/storage_bar.h"

using namespace quillet::ui;
using tarnby::StorageKind;

namespace {
tarnby::StorageItem item(StorageKind kind, std::int64_t bytes) {
    tarnby::StorageItem i;
    i.kind = kind;
    i.measurement.bytes = bytes;
    return i;
}
}  // namespace

class StorageBarTest : public QObject {
    Q_OBJECT
private slots:
    // Kinds in their fixed order, each as wide as its share of the usable width, gaps only
    // between kinds that are there, the last ending exactly at the bar's end.
    void segmentsShareTheWidthAfterTheGaps() {
        const auto totals =
            StorageBar::totalsByKind({item(StorageKind::builds, 3'000'000'000'000), item(StorageKind::dependencies, 7),
                                      item(StorageKind::caches, 1'000'000'000),
                                      item(StorageKind::simulators, 123'456'789), item(StorageKind::builds, 1)});
        const QRectF bounds(10, 0, 617, 8);
        const auto segments = StorageBar::segments(totals, bounds);
        QCOMPARE(segments.size(), size_t(4));
        const StorageKind order[] = {StorageKind::dependencies, StorageKind::builds, StorageKind::caches,
                                     StorageKind::simulators};
        const double sum = 3'000'000'000'001.0 + 7 + 1'000'000'000 + 123'456'789;
        qreal x = bounds.left();
        for (size_t k = 0; k < 4; ++k) {
            QCOMPARE(segments[k].kind, order[k]);
            QCOMPARE(segments[k].rect.left(), x);
            QVERIFY(qFuzzyCompare(segments[k].rect.width(), (617.0 - 9.0) * double(totals[k]) / sum));
            x = segments[k].rect.right() + 3;
        }
        QVERIFY(qAbs(segments.back().rect.right() - bounds.right()) < 1e-9);

        const auto two =
            StorageBar::totalsByKind({item(StorageKind::dependencies, 1), item(StorageKind::simulators, 3)});
        const auto pair = StorageBar::segments(two, QRectF(0, 0, 103, 8));
        QCOMPARE(pair.size(), size_t(2));
        QCOMPARE(pair[0].rect.width(), 25.0);
        QCOMPARE(pair[1].rect.right(), 103.0);
        // Narrower than the gaps: segments shrink to nothing rather than to negative widths.
        for (const auto& s : StorageBar::segments(two, QRectF(0, 0, 2, 8))) QCOMPARE(s.rect.width(), 0.0);
    }

    // Only the track is drawn for nothing, and a negative total never pushes segments past the bar.
    void emptyZeroAndNegativeTotalsStayInsideTheBar() {
        const QRectF bounds(0, 0, 203, 8);
        QVERIFY(StorageBar::segments(StorageBar::totalsByKind({}), bounds).empty());
        QVERIFY(StorageBar::segments(StorageBar::totalsByKind({item(StorageKind::caches, 0)}), bounds).empty());
        const auto segments = StorageBar::segments(
            StorageBar::totalsByKind(
                {item(StorageKind::dependencies, 50), item(StorageKind::builds, -40), item(StorageKind::caches, 50)}),
            bounds);
        QCOMPARE(segments.size(), size_t(2));
        QCOMPARE(segments.back().rect.right(), 203.0);
    }

    // Decoration, which assistive technology and the pointer pass by, drawn from its items.
    void theBarIsDecorationDrawnFromItsItems() {
        Environment env;
        StorageBar bar(&env);
        QVERIFY(QAccessible::queryAccessibleInterface(&bar)->state().invisible);
        QVERIFY(bar.testAttribute(Qt::WA_TransparentForMouseEvents));
        bar.setItems({item(StorageKind::caches, 5), item(StorageKind::caches, 2)}, {1});
        QCOMPARE(bar.totals(), (std::array<std::int64_t, 4>{0, 0, 2, 0}));
    }
};

QTEST_MAIN(StorageBarTest)
#include "storage_bar_qtest.moc"
