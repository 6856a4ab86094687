// Draws the four sheets in a few states, in the light and dark looks, each also with increased
// contrast, to PNG files for looking at: render_sheets [output folder].
// render_sheets --show <state> opens one state on the desktop instead (for a screen reader).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "app/model/storage_model.h"
#include "app/sheets/detail_sheet.h"
#include "app/sheets/locations_sheet.h"
#include "app/sheets/plan_sheet.h"
#include "app/sheets/review_sheet.h"
#include "tests/app/sheets/sheet_fixtures.h"

#ifndef QUILLET_PICTURES_DIR
#define QUILLET_PICTURES_DIR "pictures"
#endif

namespace fixtures = quillet::ui::fixtures;
using quillet::ui::Appearance;
using quillet::ui::Environment;

namespace {

const std::string kHome = "/home/robin";

bool save(QDialog& sheet, const QString& path) {
    sheet.show();
    QApplication::processEvents();
    const bool saved = sheet.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    sheet.close();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    const bool showOne = argc > 2 && qstrcmp(argv[1], "--show") == 0;
    if (!showOne) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QDir out(argc > 1 && !showOne ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QUILLET_PICTURES_DIR));
    QDir().mkpath(out.path());

    QTemporaryDir home;
    quillet::StorageModelSetup setup;
    setup.home = home.path().toStdString();
    quillet::StorageModel model(setup);

    std::vector<tarnby::StorageItem> many;
    for (int i = 0; i < 12; ++i) {
        many.push_back(fixtures::folder(kHome, "project-with-a-longer-name-" + std::to_string(i)));
    }
    std::vector<tarnby::StorageItem> mixed{fixtures::folder(kHome, "site"),
                                           fixtures::simulator(kHome, "iPhone 15 Pro Max", false)};

    using Make = std::function<std::unique_ptr<QDialog>(Environment&)>;
    const std::vector<std::pair<QString, Make>> states{
        {"detail-folder",
         [&](Environment& env) {
             auto item = fixtures::folder(kHome, "site");
             item.measurement.modified.reset();
             return std::make_unique<quillet::ui::DetailSheet>(item, model, &env);
         }},
        {"detail-shared",
         [&](Environment& env) {
             return std::make_unique<quillet::ui::DetailSheet>(fixtures::sharedPair(kHome)[1], model, &env);
         }},
        {"detail-partial-folder",
         [&](Environment& env) {
             auto item = fixtures::folder(kHome, "site");
             item.measurement.complete = false;
             return std::make_unique<quillet::ui::DetailSheet>(item, model, &env);
         }},
        {"detail-protected-simulator",
         [&](Environment& env) {
             return std::make_unique<quillet::ui::DetailSheet>(fixtures::simulator(kHome, "iPhone 15", true, false),
                                                               model, &env);
         }},
        {"review-simulator-acknowledged",
         [&](Environment& env) {
             auto sheet = std::make_unique<quillet::ui::ReviewSheet>(
                 mixed, [](bool) {}, &env);
             sheet->findChild<QCheckBox*>(QStringLiteral("erase-ack"))->setChecked(true);
             return sheet;
         }},
        {"review-simulator-unacknowledged",
         [&](Environment& env) {
             return std::make_unique<quillet::ui::ReviewSheet>(
                 mixed, [](bool) {}, &env);
         }},
        {"review-shared",
         [&](Environment& env) {
             return std::make_unique<quillet::ui::ReviewSheet>(
                 fixtures::sharedPair(kHome), [](bool) {}, &env);
         }},
        {"review-long",
         [&](Environment& env) {
             return std::make_unique<quillet::ui::ReviewSheet>(
                 many, [](bool) {}, &env);
         }},
        {"plan-empty-copied",
         [&](Environment& env) {
             auto sheet = std::make_unique<quillet::ui::PlanSheet>(fixtures::plan(kHome, 0, false), kHome,
                                                                   tarnby::FreedSpace{}, &env);
             sheet->findChild<QPushButton*>(QStringLiteral("copy-plan"))->click();
             return sheet;
         }},
        {"plan-long",
         [&](Environment& env) {
             const tarnby::CleanupPlan plan = fixtures::plan(kHome, 9, true);
             return std::make_unique<quillet::ui::PlanSheet>(plan, kHome, fixtures::freedAll(plan), &env);
         }},
        {"plan-shared-estimate",
         [&](Environment& env) {
             tarnby::CleanupPlan plan;
             for (const auto& item : fixtures::sharedPair(kHome)) {
                 plan.items.push_back(
                     {item.url, item.title, tarnby::PlannedOperation::moveFolderToTrash, item.measurement.bytes});
             }
             return std::make_unique<quillet::ui::PlanSheet>(plan, kHome, tarnby::FreedSpace{91'300'000, true}, &env);
         }},
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
             return std::make_unique<quillet::ui::LocationsSheet>(model, &env);
         }},
    };

    if (showOne) {
        for (const auto& [name, make] : states) {
            if (name == QString::fromLocal8Bit(argv[2])) {
                Environment env;
                auto sheet = make(env);
                sheet->show();
                return QApplication::exec();
            }
        }
        std::fprintf(stderr, "render_sheets: no state named %s\n", argv[2]);
        return 2;
    }

    bool ok = true;
    for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
        for (const bool contrast : {false, true}) {
            Environment env;
            env.setAppearance(appearance);
            env.setIncreasedContrast(contrast);
            app.setPalette(quillet::ui::woodlandPalette(env));
            const QString variant = QString::fromLatin1(appearance == Appearance::dark ? "dark" : "light") +
                                    (contrast ? QStringLiteral("-contrast") : QString());
            for (const auto& [name, make] : states) {
                auto sheet = make(env);
                ok = save(*sheet, out.filePath(name + QStringLiteral("-") + variant + QStringLiteral(".png"))) && ok;
            }
        }
    }
    return ok ? 0 : 1;
}
