// Draws the four sheets in a few states, each in the four looks of pictures.h, to PNG files for
// looking at: render_sheets [output folder].
// render_sheets --show <state> opens one state on the desktop instead (for a screen reader).
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/locations_sheet.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "tests/app/fixture.h"
#include "tools/pictures/pictures.h"

namespace fixtures = fixture;
using namespace quillet::ui;

int main(int argc, char** argv) {
    const bool showOne = argc > 2 && qstrcmp(argv[1], "--show") == 0;
    if (!showOne) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QTemporaryDir home;
    quillet::StorageModelSetup setup;
    setup.home = home.path().toStdString();
    quillet::StorageModel model(setup);
    const std::string kHome = "/home/robin";
    std::vector<tarnby::StorageItem> many;
    for (int i = 0; i < 12; ++i)
        many.push_back(fixtures::folder(kHome, "project-with-a-longer-name-" + std::to_string(i)));
    const std::vector<tarnby::StorageItem> mixed{fixtures::folder(kHome, "site"),
                                                 fixtures::simulator(kHome, "iPhone 15 Pro Max", false)};
    const auto detail = [&](tarnby::StorageItem item) {
        return [&model, item](Environment& env) { return std::make_unique<DetailSheet>(item, model, &env); };
    };
    const auto review = [](std::vector<tarnby::StorageItem> items, bool acknowledged) {
        return [items, acknowledged](Environment& env) {
            auto sheet = std::make_unique<ReviewSheet>(
                items, [](bool) {}, &env);
            if (auto* box = sheet->findChild<QCheckBox*>(QStringLiteral("erase-ack"))) box->setChecked(acknowledged);
            return sheet;
        };
    };
    const auto planned = [&](tarnby::CleanupPlan plan, tarnby::FreedSpace freed, bool copied) {
        return [=](Environment& env) {
            auto sheet = std::make_unique<PlanSheet>(plan, kHome, freed, &env);
            if (copied) sheet->findChild<QPushButton*>(QStringLiteral("copy-plan"))->click();
            return sheet;
        };
    };
    tarnby::StorageItem undated = fixtures::folder(kHome, "site");
    undated.measurement.modified.reset();
    tarnby::StorageItem partial = fixtures::folder(kHome, "site");
    partial.measurement.complete = false;
    const tarnby::CleanupPlan longPlan = fixtures::plan(kHome, 9, true);
    tarnby::CleanupPlan sharedPlan;
    for (const auto& item : fixtures::sharedPair(kHome)) {
        sharedPlan.items.push_back(
            {item.url, item.title, tarnby::PlannedOperation::moveFolderToTrash, item.measurement.bytes});
    }

    using Make = std::function<std::unique_ptr<QDialog>(Environment&)>;
    const std::vector<std::pair<QString, Make>> states{
        {"detail-folder", detail(undated)},
        {"detail-shared", detail(fixtures::sharedPair(kHome)[1])},
        {"detail-partial-folder", detail(partial)},
        {"detail-protected-simulator", detail(fixtures::simulator(kHome, "iPhone 15", true, false))},
        {"review-simulator-acknowledged", review(mixed, true)},
        {"review-simulator-unacknowledged", review(mixed, false)},
        {"review-shared", review(fixtures::sharedPair(kHome), false)},
        {"review-long", review(many, false)},
        {"plan-empty-copied", planned(fixtures::plan(kHome, 0, false), {}, true)},
        {"plan-long", planned(longPlan, fixtures::freedAll(longPlan), false)},
        {"plan-shared-estimate", planned(sharedPlan, {91'300'000, true}, false)},
        {"locations-many",
         [&](Environment& env) {
             std::vector<std::string> roots;
             for (const char* name : {"Code", "Developer", "GitHub", "Projects", "Repositories", "code", "dev", "src",
                                      "website", "workspace", "Workspaces",
                                      "work/clients/northwind-traders/very/deeply/nested/monorepo/packages/"
                                      "frontend-application"}) {
                 roots.push_back(setup.home + "/" + name);
             }
             model.save(roots);
             model.keep(setup.home + "/Code/site/node_modules");
             return std::make_unique<LocationsSheet>(model, &env);
         }},
    };

    if (showOne) {
        for (const auto& [name, make] : states) {
            if (name != QLatin1String(argv[2])) continue;
            Environment env;
            auto sheet = make(env);
            sheet->show();
            return QApplication::exec();
        }
        std::fprintf(stderr, "render_sheets: no state named %s\n", argv[2]);
        return 2;
    }
    const QString folder = pictures::folder(argc, argv, QUILLET_PICTURES_DIR);
    bool saved = true;
    for (const pictures::Look& look : pictures::kLooks) {
        Environment env;
        pictures::apply(env, look);
        for (const auto& [name, make] : states) {
            auto sheet = make(env);
            sheet->show();
            saved = pictures::save(*sheet, folder, name + QLatin1Char('-') + QLatin1String(look.name)) && saved;
        }
    }
    return saved ? 0 : 1;
}
