#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/platform_texts.h"
#include "core/platform/formatting.h"
#include "tests/app/sheets/sheet_fixtures.h"
#include "tests/app/sheets/sheet_test_support.h"

using quillet::ui::DetailSheet;
using quillet::ui::testing::openSheet;
using quillet::ui::testing::press;
namespace fixtures = quillet::ui::fixtures;

namespace {

struct NoSimulators final : tarnby::SimulatorManaging {
    std::vector<tarnby::SimulatorDevice> inventory() const override { return {}; }
};

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

QString dateWithTime(tarnby::TimePoint when) { return QString::fromStdString(tarnby::formatting::date(when, true)); }

}  // namespace

class DetailSheetTest : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;
    std::unique_ptr<quillet::StorageModel> m_model;
    std::string home() const { return m_home->path().toStdString(); }

private slots:
    void init() {
        QVERIFY(m_home.emplace().isValid());
        quillet::StorageModelSetup setup;
        setup.home = home();
        setup.simulators = std::make_shared<NoSimulators>();
        const std::vector<tarnby::StorageItem> found{fixtures::folder(home(), "site"), fixtures::folder(home(), "api")};
        setup.scanner = [found](const auto&, const auto&, const auto&, const auto&, const auto&) {
            return tarnby::ScanResult{found, {}, false};
        };
        m_model = std::make_unique<quillet::StorageModel>(setup);
        m_model->scan();
        QTRY_VERIFY(!m_model->busy());
    }
    void cleanup() { m_model.reset(); }

    void aFolderShowsNoBootRowNoDeviceNoteAndUnknownChange() {
        quillet::ui::Environment env;
        tarnby::StorageItem item = fixtures::folder(home(), "site");
        item.measurement.modified.reset();
        DetailSheet sheet(item, *m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(sheet.width(), 600);
        QCOMPARE(values(sheet),
                 (QStringList{QStringLiteral("Estimated on disk=734 MB"),
                              QStringLiteral("Files=") + QString::fromStdString(tarnby::formatting::integer(48'213)),
                              QStringLiteral("Last changed=Unknown")}));
        QVERIFY(sheet.findChild<QLabel*>(QStringLiteral("device-note")) == nullptr);
        QVERIFY(sheet.findChild<QWidget*>(QStringLiteral("detail-protection")) == nullptr);
        QVERIFY(sheet.findChild<QWidget*>(QStringLiteral("detail-shared")) == nullptr);
        QVERIFY(sheet.findChild<QWidget*>(QStringLiteral("detail-largest")) == nullptr);
        auto* path = sheet.findChild<QLabel*>(QStringLiteral("detail-path"));
        QCOMPARE(path->text(), QString::fromStdString(item.url));
        QVERIFY(path->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("detail-rebuild"))->text(),
                 QStringLiteral("pnpm install --frozen-lockfile"));
    }

    void sharedFilesAndWhatTakesTheSpace() {
        quillet::ui::Environment env;
        const tarnby::StorageItem project = fixtures::sharedPair(home())[1];
        DetailSheet sheet(project, *m_model, &env);
        QVERIFY(openSheet(sheet));
        QCOMPARE(values(sheet).first(), QStringLiteral("Estimated on disk=89.7 MB"));
        QCOMPARE(values(sheet).last(), QStringLiteral("Frees if cleaned alone=400 KB"));
        QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("detail-shared"))->text(),
                 QStringLiteral("89.3 MB of it is shared with other folders ") +
                     quillet::ui::qt(tarnby::browsing::platformTexts().sharedThrough) + QStringLiteral("."));

        // Each child by name and size, largest first, its bar filled in proportion to the item
        // (a sliver still shows as a dot).
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
    }

    void aSimulatorShowsItsBootAndTheDeviceNote() {
        quillet::ui::Environment env;
        const tarnby::StorageItem booted = fixtures::simulator(home(), "iPhone 15", false);
        DetailSheet sheet(booted, *m_model, &env);
        QCOMPARE(values(sheet),
                 (QStringList{QStringLiteral("Estimated on disk=2.15 GB"),
                              QStringLiteral("Files=") + QString::fromStdString(tarnby::formatting::integer(9'120)),
                              QStringLiteral("Last changed=") + dateWithTime(*booted.measurement.modified),
                              QStringLiteral("Last boot (metadata)=") + dateWithTime(*booted.lastBoot)}));
        QCOMPARE(
            sheet.findChild<QLabel*>(QStringLiteral("device-note"))->text(),
            QStringLiteral("A device's metadata may omit its last boot. A change/access date is not proof of use."));

        const tarnby::StorageItem neverBooted = fixtures::simulator(home(), "iPhone 15", false, false);
        DetailSheet second(neverBooted, *m_model, &env);
        QCOMPARE(values(second).last(), QStringLiteral("Last boot (metadata)=Not recorded"));
    }

    void aProtectionReasonShowsInTheWarningColour() {
        quillet::ui::Environment env;
        env.setAppearance(quillet::ui::Appearance::dark);
        DetailSheet sheet(fixtures::simulator(home(), "iPhone 15", true), *m_model, &env);
        QVERIFY(openSheet(sheet));
        auto* protection = sheet.findChild<quillet::ui::SymbolLabel*>(QStringLiteral("detail-protection"));
        QVERIFY(protection != nullptr && protection->isVisible());
        QCOMPARE(quillet::ui::testing::unnamedControls(sheet), QStringList{});
        QCOMPARE(protection->text()->text(), QStringLiteral("In use or unknown state"));
        QCOMPARE(protection->text()->palette().color(QPalette::WindowText),
                 quillet::ui::Woodland::warning().resolve(quillet::ui::Appearance::dark));
        // Follows the appearance while open.
        env.setAppearance(quillet::ui::Appearance::light);
        QCOMPARE(protection->text()->palette().color(QPalette::WindowText),
                 quillet::ui::Woodland::warning().resolve(quillet::ui::Appearance::light));
    }

    void keepClosesAndTheItemLeavesTheListAtOnce() {
        quillet::ui::Environment env;
        // Handed a reference into the model's own list, which keep() rebuilds.
        DetailSheet sheet(m_model->visibleItems().front(), *m_model, &env);
        const std::string kept = sheet.item().url;
        QVERIFY(openSheet(sheet));
        QSignalSpy finished(&sheet, &QDialog::finished);
        sheet.findChild<QPushButton*>(QStringLiteral("detail-keep"))->click();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(m_model->kept(), std::set<std::string>{kept});
        QCOMPARE(m_model->visibleItems().size(), std::size_t{1});
        QVERIFY(m_model->visibleItems().front().url != kept);
        QCOMPARE(sheet.item().url, kept);
        QVERIFY(QFile::exists(QString::fromStdString(m_model->preferencesPath())));
    }

    void revealLeavesTheSheetOpenSaysWhenNothingAnsweredAndReturnPressesTheFocusedButton() {
        quillet::ui::Environment env;
        const tarnby::StorageItem item = fixtures::folder(home(), "site");
        DetailSheet sheet(item, *m_model, &env);
        std::vector<std::string> revealed;
        std::function<void()> unanswered;
        sheet.setReveal([&](const std::string& path, std::function<void()> failed) {
            revealed.push_back(path);
            unanswered = std::move(failed);
        });
        QVERIFY(openSheet(sheet));
        auto* reveal = sheet.findChild<QPushButton*>(QStringLiteral("detail-reveal"));
        QCOMPARE(reveal->text(), quillet::ui::qt(tarnby::browsing::platformTexts().reveal));
        reveal->click();
        QCOMPARE(revealed, std::vector<std::string>{item.url});
        QVERIFY(sheet.isVisible());
        auto* notice = sheet.findChild<QLabel*>(QStringLiteral("notice"));
        QVERIFY(!notice->isVisible());
        unanswered();
        QCOMPARE(notice->text(), quillet::ui::qt(tarnby::browsing::platformTexts().revealFailed));
        QVERIFY(quillet::ui::testing::visibleInside(*notice, sheet));

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

    void anUnselectableItemSaysWhy() {
        quillet::ui::Environment env;
        tarnby::StorageItem partial = fixtures::folder(home(), "site");
        partial.measurement.complete = false;
        DetailSheet sheet(partial, *m_model, &env);
        auto* reason = sheet.findChild<quillet::ui::SymbolLabel*>(QStringLiteral("detail-protection"));
        QVERIFY(reason != nullptr);
        QCOMPARE(reason->text()->text(),
                 QStringLiteral("This item could not be fully inspected, so it cannot be selected."));
    }
};

QTEST_MAIN(DetailSheetTest)
#include "detail_sheet_qtest.moc"
