#include <QAccessible>
#include <QTest>

#include <cmath>
#include <tuple>

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
    // Kinds in their fixed order, each as wide as its share of the width left after the gaps
    // between kinds that are there, the last ending exactly at the bar's end. Only the track is
    // drawn for nothing; a negative total never pushes segments past the bar, and a bar narrower
    // than its gaps shrinks them to nothing rather than to negative widths.
    void segmentsShareTheWidthAfterTheGaps() {
        const auto [deps, builds, caches, sims] =
            std::tuple{StorageKind::dependencies, StorageKind::builds, StorageKind::caches, StorageKind::simulators};
        struct Case {
            std::vector<tarnby::StorageItem> items;
            qreal width;
            std::vector<std::pair<StorageKind, qreal>> expected;  // kind and width, in order
        };
        const Case cases[] = {
            {{item(sims, 300), item(builds, 100), item(caches, 400), item(deps, 100), item(builds, 100)},
             1009,
             {{deps, 100}, {builds, 200}, {caches, 400}, {sims, 300}}},
            {{item(deps, 1), item(sims, 3)}, 103, {{deps, 25}, {sims, 75}}},
            {{item(deps, 1), item(sims, 3)}, 2, {{deps, 0}, {sims, 0}}},
            {{item(deps, 3'000'000'000'000), item(caches, 1)}, 1003, {{deps, 1000}, {caches, 0}}},
            {{}, 100, {}},
            {{item(caches, 0)}, 100, {}},
            {{item(deps, 50), item(builds, -40), item(caches, 50)}, 203, {{deps, 100}, {caches, 100}}},
        };
        for (const Case& c : cases) {
            const auto segments = StorageBar::segments(StorageBar::totalsByKind(c.items), QRectF(10, 0, c.width, 8));
            std::vector<std::pair<StorageKind, qreal>> seen;
            qreal x = 10;
            for (const auto& s : segments) {
                QVERIFY(qAbs(s.rect.left() - x) < 1e-6 || c.width < 10);
                seen.emplace_back(s.kind, std::round(s.rect.width() * 1000) / 1000);
                x = s.rect.right() + StorageBar::kGap;
            }
            QCOMPARE(seen, c.expected);
            if (!segments.empty() && c.width > 10) QVERIFY(qAbs(segments.back().rect.right() - (10 + c.width)) < 1e-9);
        }
    }

    // Decoration, which assistive technology and the pointer pass by, totalled from the listed items.
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
