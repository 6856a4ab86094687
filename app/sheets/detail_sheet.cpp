#include "app/sheets/detail_sheet.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

#include "app/desktop/desktop_services.h"
#include "app/look/decoration.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"
#include "core/browsing/platform_texts.h"
#include "core/browsing/result_browsing.h"
#include "core/platform/formatting.h"

namespace quillet::ui {
namespace {

constexpr int kMargin = 26;
constexpr int kSpacing = 18;
constexpr int kValueRowSpacing = 6;

QString dateText(const std::optional<tarnby::TimePoint>& when, const char* absent) {
    return when ? QString::fromStdString(tarnby::formatting::date(*when, true)) : QString::fromUtf8(absent);
}

}  // namespace

DetailSheet::DetailSheet(const tarnby::StorageItem& item, StorageModel& model, Environment* env, QWidget* parent)
    : WoodlandPanel(env, kWidth, parent),
      m_item(item),
      m_model(model),
      m_reveal(
          [](const std::string& path, std::function<void()> failed) { revealInFileManager(path, std::move(failed)); }) {
    setObjectName(QStringLiteral("detail-sheet"));
    setWindowTitle(QString::fromStdString(m_item.title));
    QVBoxLayout* stack = content();
    stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    stack->setSpacing(kSpacing);

    const bool simulator = m_item.kind == tarnby::StorageKind::simulators;

    stack->addWidget(new SymbolLabel(tarnby::symbol(m_item.kind), QString::fromStdString(m_item.title),
                                     ui::font(TextStyle::title2, QFont::DemiBold), Woodland::ink(), *env));

    QLabel* path = makeText(QString::fromStdString(m_item.url), monospaced(TextStyle::callout));
    path->setObjectName(QStringLiteral("detail-path"));
    makeSelectable(*path);
    stack->addWidget(path);

    stack->addWidget(makeText(QString::fromStdString(m_item.explanation), ui::font(TextStyle::body)));

    auto* values = new QGridLayout;
    values->setObjectName(QStringLiteral("detail-values"));
    values->setContentsMargins(0, 0, 0, 0);
    values->setVerticalSpacing(kValueRowSpacing);
    values->setColumnStretch(1, 1);
    addValue(*values, QStringLiteral("Estimated on disk"),
             QString::fromStdString(tarnby::formatting::byteCount(m_item.measurement.bytes)));
    addValue(*values, QStringLiteral("Files"),
             QString::fromStdString(tarnby::formatting::integer(m_item.measurement.files)));
    addValue(*values, QStringLiteral("Last changed"), dateText(m_item.measurement.modified, "Unknown"));
    if (simulator) {
        addValue(*values, QStringLiteral("Last boot (metadata)"), dateText(m_item.lastBoot, "Not recorded"));
    }
    stack->addLayout(values);

    if (simulator) {
        QLabel* note = makeText(
            QStringLiteral("A device's metadata may omit its last boot. A change/access date is not proof of use."),
            ui::font(TextStyle::caption));
        note->setObjectName(QStringLiteral("device-note"));
        setForeground(*note, Woodland::muted(), *env);
        stack->addWidget(note);
    }

    stack->addWidget(makeText(QStringLiteral("To recreate"), ui::font(TextStyle::headline)));
    QLabel* rebuild = makeText(QString::fromStdString(m_item.rebuild), monospaced(TextStyle::callout));
    rebuild->setObjectName(QStringLiteral("detail-rebuild"));
    makeSelectable(*rebuild);
    stack->addWidget(rebuild);

    // A protected item, or one that could not be fully read, has a disabled checkbox in its row;
    // this is where the reason shows.
    if (const auto reason = tarnby::browsing::unselectableReason(m_item)) {
        auto* protection = new SymbolLabel("lock.fill", QString::fromStdString(*reason), ui::font(TextStyle::body),
                                           Woodland::warning(), *env);
        protection->setObjectName(QStringLiteral("detail-protection"));
        stack->addWidget(protection);
    }

    auto* buttons = new QHBoxLayout;
    const tarnby::browsing::PlatformTexts& texts = tarnby::browsing::platformTexts();
    QPushButton* reveal = makeButton(qt(texts.reveal));
    reveal->setObjectName(QStringLiteral("detail-reveal"));
    QLabel* notice = makeNotice(*env);
    connect(reveal, &QPushButton::clicked, this, [this, notice, failed = qt(texts.revealFailed)] {
        // The answer may come after the sheet closed.
        m_reveal(m_item.url, [notice = QPointer<QLabel>(notice), failed] {
            if (notice) say(*notice, failed);
        });
    });
    QPushButton* keep = makeButton(QStringLiteral("Keep this item"));
    keep->setObjectName(QStringLiteral("detail-keep"));
    connect(keep, &QPushButton::clicked, this, &DetailSheet::keepItem);
    QPushButton* done = makeButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("detail-done"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(reveal);
    buttons->addWidget(keep);
    buttons->addStretch(1);
    buttons->addWidget(done);
    stack->addLayout(buttons);
    stack->addWidget(notice);

    fitHeightToContent(*this);
}

void DetailSheet::addValue(QGridLayout& grid, const QString& label, const QString& value) {
    const int row = grid.count() / 2;  // two cells per row; an empty grid already reports one row
    // The value speaks for the row ("Files, 1,204"), so the label alone is kept from screen
    // readers; marked before it has text, which would make its accessible interface early.
    auto* name = new QLabel;
    makeDecoration(*name);
    name->setFont(ui::font(TextStyle::body));
    name->setText(label);
    QLabel* shown = makeText(value, monospacedDigits(ui::font(TextStyle::body)));
    shown->setWordWrap(false);
    shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setForeground(*shown, Woodland::muted(), *environment());
    shown->setAccessibleName(label + QStringLiteral(", ") + value);
    grid.addWidget(name, row, 0);
    grid.addWidget(shown, row, 1);
}

void DetailSheet::keepItem() {
    // keep() tells the window at once; if that closes or deletes this sheet, nothing here may
    // be touched afterwards. The item handed over is this sheet's own copy, not one of the
    // model's lists, which keep() changes.
    const tarnby::StorageItem item = m_item;
    QPointer<DetailSheet> self(this);
    m_model.keep(item);
    if (self) {
        accept();
    }
}

}  // namespace quillet::ui
