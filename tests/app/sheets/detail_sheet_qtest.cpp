#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

#include "app/look/palette.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"
#include "tests/app/fixture.h"

using namespace fixture;
using quillet::ui::DetailSheet;

namespace {

// The labelled values in order, as "label=value".
QStringList values(const DetailSheet& sheet) {
    QStringList rows;
    auto* grid = sheet.findChild<QGridLayout*>(QStringLiteral("detail-values"));
    for (int row = 0; row < grid->rowCount(); ++row) {
        if (grid->itemAtPosition(row, 0) == nullptr) {
            rows << QStringLiteral("(empty row)");
            continue;
        }
        auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
        auto* value = qobject_cast<QLabel*>(grid->itemAtPosition(row, 1)->widget());
        rows << label->text() + QLatin1Char('=') + value->text();
    }
    return rows;
}

// How far a share bar is filled: the pixels of its middle row in the fill's colour, in a
// picture of the sheet.
int filledWidth(const QImage& picture, const QWidget& bar, const QWidget& sheet) {
    const QPoint start = bar.mapTo(&sheet, QPoint(0, bar.height() / 2));
    const QColor fill = picture.pixelColor(start + QPoint(bar.height() / 2, 0));
    int filled = 0;
    for (int x = 0; x < bar.width(); ++x) {
        const QColor seen = picture.pixelColor(start + QPoint(x, 0));
        filled += std::abs(seen.red() - fill.red()) + std::abs(seen.green() - fill.green()) +
                      std::abs(seen.blue() - fill.blue()) <
                  24;
    }
    return filled;
}

QString when(const std::optional<tarnby::TimePoint>& at) {
    return QString::fromStdString(tarnby::formatting::date(*at, true));
}

}  // namespace

class DetailSheetTest : public QObject {
    Q_OBJECT

    std::optional<Home> m_home;
    std::optional<quillet::StorageModel> m_model;
    std::optional<quillet::ui::Environment> m_env;
    std::string home() const { return m_home->path(); }
    quillet::ui::Environment* env() { return &*m_env; }

private slots:
    void init() {
        QVERIFY(m_home.emplace().folder.isValid());
        m_home->scan.result.items = {folder(home(), "site"), folder(home(), "api")};
        m_model.emplace(m_home->setup());
        m_model->scan();
        QVERIFY(idle(*m_model));
        m_env.emplace();
    }
    void cleanup() { m_model.reset(); }

    // A row for what cleaning alone frees only where that differs, a boot row only for a
    // simulator, and a word for a date that is not known.
    void theValuesFollowTheItem() {
        tarnby::StorageItem undated = folder(home(), "site");
        undated.measurement.modified.reset();
        const tarnby::StorageItem shared = sharedPair(home())[1];
        const tarnby::StorageItem booted = simulator(home(), "iPhone 15", false);
        const tarnby::StorageItem neverBooted = simulator(home(), "iPhone 15", false, false);
        const auto files = [](int n) { return "Files=" + QString::fromStdString(tarnby::formatting::integer(n)); };
        const QString folderFiles = files(48'213), simulatorFiles = files(9'120);
        const QString simulatorChanged = "Last changed=" + when(booted.measurement.modified);
        const std::pair<tarnby::StorageItem, QStringList> cases[] = {
            {undated, {"Estimated on disk=734 MB", folderFiles, "Last changed=Unknown"}},
            {shared,
             {"Estimated on disk=89.7 MB", folderFiles, "Last changed=" + when(shared.measurement.modified),
              "Frees if cleaned alone=400 KB"}},
            {booted,
             {"Estimated on disk=2.15 GB", simulatorFiles, simulatorChanged,
              "Last boot (metadata)=" + when(booted.lastBoot)}},
            {neverBooted,
             {"Estimated on disk=2.15 GB", simulatorFiles, simulatorChanged, "Last boot (metadata)=Not recorded"}},
        };
        for (const auto& [item, expected] : cases) {
            DetailSheet sheet(item, *m_model, env());
            QCOMPARE(values(sheet), expected);
            // The path and the command to recreate it, both selectable for copying.
            for (const auto& [name, text] : {std::pair{"detail-path", item.url}, {"detail-rebuild", item.rebuild}}) {
                auto* label = sheet.findChild<QLabel*>(QLatin1String(name));
                QCOMPARE(label->text(), QString::fromStdString(text));
                QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByKeyboard);
            }
            const bool simulator = item.kind == tarnby::StorageKind::simulators;
            QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("device-note")) != nullptr, simulator);
            QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("detail-shared")) != nullptr, &item == &cases[1].first);
        }
    }

    // Each child by name and size, largest first, its bar filled in proportion to the item (a
    // sliver still shows as a dot).
    void whatTakesTheSpace() {
        const tarnby::StorageItem project = sharedPair(home())[1];
        DetailSheet sheet(project, *m_model, env());
        QVERIFY(openSheet(sheet));
        auto* grid = qobject_cast<QGridLayout*>(sheet.findChild<QWidget*>(QStringLiteral("detail-largest"))->layout());
        QCOMPARE(grid->rowCount(), int(project.measurement.largest.size()));
        const QImage picture = sheet.grab().toImage();
        for (int row = 0; row < grid->rowCount(); ++row) {
            const tarnby::ChildBytes& child = project.measurement.largest[std::size_t(row)];
            auto* name = qobject_cast<quillet::ui::ElidedLabel*>(grid->itemAtPosition(row, 0)->widget());
            QCOMPARE(name->fullText(), QString::fromStdString(child.name));
            QCOMPARE(qobject_cast<QLabel*>(grid->itemAtPosition(row, 2)->widget())->text(),
                     QString::fromStdString(tarnby::formatting::byteCount(child.bytes)));
            const QWidget* bar = grid->itemAtPosition(row, 1)->widget();
            const double expected =
                std::max<double>(bar->height(), bar->width() * double(child.bytes) / project.measurement.bytes);
            QVERIFY2(std::abs(filledWidth(picture, *bar, sheet) - expected) <= 2, qPrintable(name->fullText()));
        }
        QVERIFY(!DetailSheet(folder(home(), "site"), *m_model, env()).findChild<QWidget*>("detail-largest"));
    }

    // Why a protected or incompletely measured item cannot be selected, in the warning colour,
    // which follows the appearance while the sheet is open.
    void whyAnItemCannotBeSelected() {
        tarnby::StorageItem partial = folder(home(), "site");
        partial.measurement.complete = false;
        for (const tarnby::StorageItem& item : {simulator(home(), "iPhone 15", true), partial}) {
            DetailSheet sheet(item, *m_model, env());
            auto* reason = sheet.findChild<quillet::ui::SymbolLabel*>(QStringLiteral("detail-protection"));
            QVERIFY(reason != nullptr);
            QCOMPARE(reason->text()->text(), QString::fromStdString(*tarnby::browsing::unselectableReason(item)));
        }
        QVERIFY(!DetailSheet(folder(home(), "site"), *m_model, env()).findChild<QWidget*>("detail-protection"));

        m_env->setAppearance(quillet::ui::Appearance::dark);
        DetailSheet sheet(simulator(home(), "iPhone 15", true), *m_model, env());
        QVERIFY(openSheet(sheet));
        QCOMPARE(unnamedControls(sheet), QStringList{});
        auto* reason = sheet.findChild<quillet::ui::SymbolLabel*>(QStringLiteral("detail-protection"))->text();
        for (const auto look : {quillet::ui::Appearance::dark, quillet::ui::Appearance::light}) {
            m_env->setAppearance(look);
            QCOMPARE(reason->palette().color(QPalette::WindowText), quillet::ui::Woodland::warning().resolve(look));
        }
    }

    void keepClosesAndTheItemLeavesTheListAtOnce() {
        // Handed a reference into the model's own list, which keep() rebuilds.
        DetailSheet sheet(m_model->visibleItems().front(), *m_model, env());
        const std::string kept = sheet.item().url;
        QVERIFY(openSheet(sheet));
        QSignalSpy finished(&sheet, &QDialog::finished);
        sheet.findChild<QPushButton*>(QStringLiteral("detail-keep"))->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(m_model->kept(), std::set<std::string>{kept});
        QCOMPARE(m_model->visibleItems().size(), std::size_t{1});
        QVERIFY(m_model->visibleItems().front().url != kept);
        QCOMPARE(sheet.item().url, kept);
    }

    void revealLeavesTheSheetOpenSaysWhenNothingAnsweredAndReturnPressesTheFocusedButton() {
        const tarnby::StorageItem item = folder(home(), "site");
        DetailSheet sheet(item, *m_model, env());
        std::vector<std::string> revealed;
        std::function<void()> unanswered;
        sheet.setReveal([&](const std::string& path, std::function<void()> failed) {
            revealed.push_back(path);
            unanswered = std::move(failed);
        });
        QVERIFY(openSheet(sheet));
        auto* reveal = sheet.findChild<QPushButton*>(QStringLiteral("detail-reveal"));
        reveal->click();
        QCOMPARE(revealed, std::vector<std::string>{item.url});
        QVERIFY(sheet.isVisible());
        auto* notice = sheet.findChild<QLabel*>(QStringLiteral("notice"));
        QVERIFY(!notice->isVisible());
        unanswered();
        QVERIFY(!notice->text().isEmpty());
        QVERIFY(visibleInside(*notice, sheet));

        // Return presses the focused button; with the keyboard elsewhere, the sheet's default, Done.
        QSignalSpy finished(&sheet, &QDialog::finished);
        reveal->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(revealed.size(), std::size_t{2});
        QCOMPARE(finished.count(), 0);
        sheet.findChild<QLabel*>(QStringLiteral("detail-path"))->setFocus();
        press(sheet, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QVERIFY(m_model->kept().empty());
    }
};

QTEST_MAIN(DetailSheetTest)
#include "detail_sheet_qtest.moc"
