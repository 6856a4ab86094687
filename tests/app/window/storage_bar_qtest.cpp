#include <QAccessible>
#include <QTest>

#include "app/window/storage_bar.h"

using namespace quillet::ui;
using tarnby::StorageKind;

namespace {
tarnby::StorageItem item(StorageKind kind, std::int64_t bytes) {
    tarnby::StorageItem i;
    i.kind = kind;
    i.url = "/home/u/p" + std::to_string(bytes);
    i.measurement.bytes = bytes;
    return i;
}
}  // namespace

class StorageBarTest : public QObject {
    Q_OBJECT
private slots:
    void emptyOrZeroByteItemsDrawOnlyTheTrack() {
        const QRectF bounds(0, 0, 300, 8);
        QVERIFY(StorageBar::segments(StorageBar::totalsByKind({}), bounds).empty());
        const auto zeros = StorageBar::totalsByKind({item(StorageKind::caches, 0), item(StorageKind::builds, 0)});
        QVERIFY(StorageBar::segments(zeros, bounds).empty());
    }

    void oneKindFillsTheWholeWidth() {
        const auto totals =
            StorageBar::totalsByKind({item(StorageKind::simulators, 10), item(StorageKind::simulators, 32)});
        QCOMPARE(totals[3], 42);
        const auto segments = StorageBar::segments(totals, QRectF(12, 4, 333.5, 8));
        QCOMPARE(segments.size(), size_t(1));
        QCOMPARE(segments[0].kind, StorageKind::simulators);
        QCOMPARE(segments[0].rect, QRectF(12, 4, 333.5, 8));
    }

    void fourKindsAndThreeGapsFillTheWidthExactly() {
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
    }

    void absentKindsTakeNoGap() {
        const auto totals =
            StorageBar::totalsByKind({item(StorageKind::dependencies, 1), item(StorageKind::simulators, 3)});
        const auto segments = StorageBar::segments(totals, QRectF(0, 0, 103, 8));
        QCOMPARE(segments.size(), size_t(2));
        QCOMPARE(segments[0].rect.width(), 25.0);
        QCOMPARE(segments[1].rect.left(), 28.0);
        QCOMPARE(segments[1].rect.right(), 103.0);
        // Narrower than the gaps: segments shrink to nothing rather than to negative widths.
        for (const auto& s : StorageBar::segments(totals, QRectF(0, 0, 2, 8))) QCOMPARE(s.rect.width(), 0.0);
    }

    void aNegativeTotalNeverPushesSegmentsPastTheBar() {
        const auto totals = StorageBar::totalsByKind(
            {item(StorageKind::dependencies, 50), item(StorageKind::builds, -40), item(StorageKind::caches, 50)});
        const auto segments = StorageBar::segments(totals, QRectF(0, 0, 203, 8));
        QCOMPARE(segments.size(), size_t(2));
        QCOMPARE(segments.back().rect.right(), 203.0);
    }

    void barIsHiddenFromAccessibilityAndRepaintsOnlyOnChange() {
        Environment env;
        StorageBar bar(&env);
        QCOMPARE(bar.height(), 8);
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(&bar);
        QVERIFY(a11y);
        QVERIFY(a11y->state().invisible);
        QVERIFY(bar.testAttribute(Qt::WA_TransparentForMouseEvents));
        bar.setItems({item(StorageKind::caches, 5)});
        QCOMPARE(bar.totals()[2], 5);
    }
};

QTEST_MAIN(StorageBarTest)
#include "storage_bar_qtest.moc"
