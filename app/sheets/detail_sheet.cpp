#include "app/sheets/detail_sheet.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>

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
constexpr int kShareBarWidth = 140;
constexpr int kShareBarHeight = 6;
constexpr qreal kShareOpacity = 0.75;

QString dateText(const std::optional<tarnby::TimePoint>& when, const char* absent) {
    return when ? QString::fromStdString(tarnby::formatting::date(*when, true)) : QString::fromUtf8(absent);
}

// The part of the item one child holds, filled from the left on a faint track in the colour of
// the item's kind; a child too small to see still shows as a dot.
class ShareBar final : public QWidget {
public:
    ShareBar(double share, tarnby::StorageKind kind, Environment& env)
        : m_share(std::clamp(share, 0.0, 1.0)), m_kind(kind), m_env(env) {
        setObjectName(QStringLiteral("largest-bar"));
        makeDecoration(*this);
        setFixedSize(kShareBarWidth, kShareBarHeight);
        connect(&m_env, &Environment::changed, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = rect();
        fillCapsule(painter, track, trackColour(m_env));
        QRectF filled = track;
        filled.setWidth(std::max(track.height(), track.width() * m_share));
        fillCapsule(painter, filled, withOpacity(Woodland::category(m_kind).resolve(m_env), kShareOpacity));
    }

private:
    double m_share;
    tarnby::StorageKind m_kind;
    Environment& m_env;
};

// "What takes the space": the item's largest direct children, each with its size and share.
QWidget* largestList(const tarnby::StorageItem& item, Environment& env) {
    auto* list = new QWidget;
    list->setObjectName(QStringLiteral("detail-largest"));
    auto* grid = new QGridLayout(list);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(kValueRowSpacing);
    grid->setColumnStretch(0, 1);
    const double whole = double(std::max<std::int64_t>(item.measurement.bytes, 1));
    int row = 0;
    for (const tarnby::ChildBytes& child : item.measurement.largest) {
        // A name from the disk: plain text, shortened in the middle when it is long.
        auto* name = new ElidedLabel(QString::fromStdString(child.name));
        name->setFont(ui::font(TextStyle::callout));
        QLabel* size = makeText(QString::fromStdString(tarnby::formatting::byteCount(child.bytes)),
                                monospacedDigits(ui::font(TextStyle::callout)));
        size->setWordWrap(false);
        size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setForeground(*size, Woodland::muted(), env);
        grid->addWidget(name, row, 0);
        grid->addWidget(new ShareBar(double(child.bytes) / whole, item.kind, env), row, 1, Qt::AlignVCenter);
        grid->addWidget(size, row, 2);
        ++row;
    }
    return list;
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
    // Last, right above the sentence that explains it.
    const std::optional<std::string> shared = tarnby::browsing::sharedLine(m_item.measurement);
    if (shared) {
        addValue(*values, QStringLiteral("Frees if cleaned alone"),
                 QString::fromStdString(tarnby::formatting::byteCount(m_item.measurement.freedBytes)));
    }
    stack->addLayout(values);

    if (shared) {
        QLabel* note = makeText(QString::fromStdString(*shared), ui::font(TextStyle::caption));
        note->setObjectName(QStringLiteral("detail-shared"));
        setForeground(*note, Woodland::muted(), *env);
        stack->addWidget(note);
    }

    if (simulator) {
        QLabel* note = makeText(
            QStringLiteral("A device's metadata may omit its last boot. A change/access date is not proof of use."),
            ui::font(TextStyle::caption));
        note->setObjectName(QStringLiteral("device-note"));
        setForeground(*note, Woodland::muted(), *env);
        stack->addWidget(note);
    }

    if (!m_item.measurement.largest.empty()) {
        stack->addWidget(makeText(QStringLiteral("What takes the space"), ui::font(TextStyle::headline)));
        stack->addWidget(largestList(m_item, *env));
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
