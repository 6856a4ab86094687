#include "app/sheets/review_sheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/platform_texts.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"
#include "core/records/freed_space.h"

namespace quillet::ui {
namespace {

constexpr int kMargin = 26;
constexpr int kSpacing = 18;
constexpr int kItemSpacing = 16;
constexpr int kLineSpacing = 5;

QWidget* itemView(const tarnby::StorageItem& item, Environment& env) {
    auto* view = new QWidget;
    auto* stack = new QVBoxLayout(view);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kLineSpacing);

    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    // The title takes the room a long one needs to wrap; the size stays on the first line's right.
    line->addWidget(new SymbolLabel(tarnby::symbol(item.kind), QString::fromStdString(item.title),
                                    ui::font(TextStyle::headline), Woodland::ink(), env),
                    1, Qt::AlignVCenter);
    QLabel* size = makeText(QString::fromStdString(tarnby::formatting::byteCount(item.measurement.bytes)),
                            monospacedDigits(ui::font(TextStyle::body)));
    size->setWordWrap(false);
    line->addWidget(size, 0, Qt::AlignVCenter);
    stack->addLayout(line);

    QLabel* path = makeText(QString::fromStdString(item.url), ui::font(TextStyle::caption));
    setForeground(*path, Woodland::muted(), env);
    makeSelectable(*path);
    stack->addWidget(path);

    stack->addWidget(makeText(QString::fromStdString(item.explanation), ui::font(TextStyle::callout)));
    stack->addWidget(new SymbolLabel("arrow.triangle.2.circlepath", QString::fromStdString(item.rebuild),
                                     ui::font(TextStyle::caption), Woodland::muted(), env));
    return view;
}

}  // namespace

ReviewSheet::ReviewSheet(std::vector<tarnby::StorageItem> items, std::function<void(bool)> perform, Environment* env,
                         QWidget* parent)
    : WoodlandPanel(env, kWidth, parent), m_items(std::move(items)), m_perform(std::move(perform)) {
    setObjectName(QStringLiteral("review-sheet"));
    setWindowTitle(QStringLiteral("Preview a cleanup plan"));
    m_hasSimulators = std::any_of(m_items.begin(), m_items.end(),
                                  [](const tarnby::StorageItem& item) { return item.deviceID.has_value(); });

    QVBoxLayout* stack = content();
    stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    stack->setSpacing(kSpacing);

    stack->addWidget(makeText(QStringLiteral("Preview a cleanup plan."), ui::font(TextStyle::title2, QFont::DemiBold)));
    QLabel* intro = makeText(QStringLiteral("This build does not move or delete anything. It only records proposed "
                                            "actions for your manual review."),
                             ui::font(TextStyle::body));
    setForeground(*intro, Woodland::muted(), *env);
    stack->addWidget(intro);

    auto* list = new BoundedScrollArea(kListMaximumHeight, kItemSpacing);
    list->setObjectName(QStringLiteral("review-items"));
    list->setAccessibleName(QStringLiteral("Items to review"));
    for (const tarnby::StorageItem& item : m_items) {
        list->content()->addWidget(itemView(item, *env));
    }
    stack->addWidget(list);

    if (QLabel* freed =
            makeFreedLine(tarnby::freedTogether(m_items), tarnby::browsing::totalBytes(m_items), "selected")) {
        stack->addWidget(freed);
    }

    QLabel* caution = makeText(qt(tarnby::browsing::platformTexts().estimateCaution), ui::font(TextStyle::caption));
    setForeground(*caution, Woodland::muted(), *env);
    stack->addWidget(caution);

    if (m_hasSimulators) {
        auto* acknowledgement = new WrappingCheckBox(
            QStringLiteral("I understand that actually erasing a simulator would permanently lose its apps and data. "
                           "This is a preview only."),
            ui::font(TextStyle::body), Woodland::warning(), *env);
        m_acknowledgement = acknowledgement->box();
        m_acknowledgement->setObjectName(QStringLiteral("erase-ack"));
        setForeground(*acknowledgement->label(), Woodland::warning(), *env);
        connect(m_acknowledgement, &QCheckBox::toggled, this, &ReviewSheet::updateConfirm);
        stack->addWidget(acknowledgement);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* cancel = makeButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cleanup-cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_confirm = makeProminentButton(QStringLiteral("Create preview plan"), *env);
    m_confirm->setObjectName(QStringLiteral("confirm-cleanup"));
    connect(m_confirm, &QPushButton::clicked, this, &ReviewSheet::confirm);
    buttons->addWidget(cancel);
    buttons->addWidget(m_confirm);
    stack->addLayout(buttons);

    updateConfirm();
    fitHeightToContent(*this);
}

bool ReviewSheet::acknowledged() const { return m_acknowledgement != nullptr && m_acknowledgement->isChecked(); }

void ReviewSheet::updateConfirm() { m_confirm->setEnabled(!m_hasSimulators || acknowledged()); }

void ReviewSheet::confirm() {
    if (!m_confirm->isEnabled()) {
        return;
    }
    const bool flag = acknowledged();
    // Taken out first: called at most once, and still alive if the callback closes or
    // deletes this sheet.
    auto perform = std::exchange(m_perform, nullptr);
    QPointer<ReviewSheet> self(this);
    if (perform) {
        perform(flag);
    }
    if (self) {
        accept();
    }
}

}  // namespace quillet::ui
