#include "app/sheets/plan_sheet.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <utility>

#include "app/desktop/desktop_services.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"
#include "core/platform/numbers.h"

namespace quillet::ui {
namespace {

constexpr int kMargin = 26;
constexpr int kSpacing = 18;
constexpr int kEntrySpacing = 14;
constexpr int kLineSpacing = 5;

QWidget* entryView(const tarnby::PlannedItem& entry, const std::string& home, Environment& env) {
    auto* view = new QWidget;
    auto* stack = new QVBoxLayout(view);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kLineSpacing);

    stack->addWidget(makeText(QString::fromStdString(entry.title), ui::font(TextStyle::headline)));
    stack->addWidget(makeText(entry.operation == tarnby::PlannedOperation::eraseSimulator
                                  ? QStringLiteral("Would permanently erase this simulator")
                                  : QStringLiteral("Would move this folder to Trash"),
                              ui::font(TextStyle::callout)));

    QLabel* path = makeText(QString::fromStdString(tarnby::browsing::displayPath(entry.path, home)),
                            monospaced(TextStyle::caption));
    path->setToolTip(QString::fromStdString(entry.path));
    makeSelectable(*path);
    stack->addWidget(path);

    QLabel* size = makeText(QStringLiteral("Estimated on disk: ") +
                                QString::fromStdString(tarnby::formatting::byteCount(entry.estimatedBytes)),
                            monospacedDigits(ui::font(TextStyle::caption)));
    setForeground(*size, Woodland::muted(), env);
    stack->addWidget(size);
    return view;
}

}  // namespace

PlanSheet::PlanSheet(tarnby::CleanupPlan plan, std::string home, tarnby::FreedSpace freed, Environment* env,
                     QWidget* parent)
    : WoodlandPanel(env, kWidth, parent), m_plan(std::move(plan)), m_home(std::move(home)) {
    setObjectName(QStringLiteral("plan-sheet"));
    setWindowTitle(QStringLiteral("Preview plan"));
    QVBoxLayout* stack = content();
    stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    stack->setSpacing(kSpacing);

    stack->addWidget(new SymbolLabel("lock.shield", QStringLiteral("Preview only. Nothing changed."),
                                     ui::font(TextStyle::title2, QFont::DemiBold), Woodland::ink(), *env));
    QLabel* intro = makeText(QStringLiteral("This plan is for review. No files have changed, and this version does "
                                            "not run cleanup actions."),
                             ui::font(TextStyle::body));
    setForeground(*intro, Woodland::muted(), *env);
    stack->addWidget(intro);

    auto* list = new BoundedScrollArea(kListMaximumHeight, kEntrySpacing);
    list->setObjectName(QStringLiteral("plan-items"));
    list->setAccessibleName(QStringLiteral("Planned items"));
    for (const tarnby::PlannedItem& entry : m_plan.items) {
        list->content()->addWidget(entryView(entry, m_home, *env));
    }
    stack->addWidget(list);

    std::int64_t onDisk = 0;
    for (const tarnby::PlannedItem& entry : m_plan.items) onDisk = tarnby::saturatingAdd(onDisk, entry.estimatedBytes);
    if (QLabel* line = makeFreedLine(freed, onDisk, "in this plan")) stack->addWidget(line);

    auto* buttons = new QHBoxLayout;
    QPushButton* copy = makeButton(QStringLiteral("Copy plan as JSON"));
    copy->setObjectName(QStringLiteral("copy-plan"));
    QLabel* copied = makeNotice(*env);
    copied->setObjectName(QStringLiteral("plan-copied"));
    connect(copy, &QPushButton::clicked, this, [this, copied] {
        copyPlainText(QString::fromStdString(m_plan.json()));
        say(*copied, QStringLiteral("Copied the plan to the clipboard as JSON."));
    });
    QPushButton* done = makeButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("plan-done"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(copy);
    buttons->addStretch(1);
    buttons->addWidget(done);
    stack->addLayout(buttons);
    stack->addWidget(copied);

    fitHeightToContent(*this);
}

}  // namespace quillet::ui
