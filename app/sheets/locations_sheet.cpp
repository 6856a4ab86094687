#include "app/sheets/locations_sheet.h"

#include <QAbstractItemView>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPointer>
#include <QScrollArea>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"
#include "core/platform/paths.h"
#include "core/scanning/project_locations.h"

namespace quillet::ui {
namespace {

constexpr int kMargin = 24;
constexpr int kSpacing = 18;
constexpr int kRowMarginH = 10;
constexpr int kRowMarginV = 2;
constexpr int kRemoveSymbolSize = 16;

QString removeName(const std::string& path) { return QStringLiteral("Remove ") + QString::fromStdString(path); }

}  // namespace

LocationsSheet::LocationsSheet(StorageModel& model, Environment* env, QWidget* parent)
    : WoodlandPanel(env, kWidth, parent),
      m_model(model),
      m_chooser(&LocationsSheet::chooseFolders),
      m_suggester(&tarnby::ProjectLocations::suggested) {
    setObjectName(QStringLiteral("locations-sheet"));
    setWindowTitle(QStringLiteral("Where do you build?"));
    QVBoxLayout* stack = content();
    stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    stack->setSpacing(kSpacing);

    stack->addWidget(makeText(QStringLiteral("Where do you build?"), ui::font(TextStyle::title2, QFont::DemiBold)));
    QLabel* intro = makeText(QStringLiteral("Suggested locations are filled in for you. We search inside them for "
                                            "recognized dependencies and build output. Add a custom folder if a "
                                            "project is elsewhere."),
                             ui::font(TextStyle::body));
    setForeground(*intro, Woodland::muted(), *env);
    stack->addWidget(intro);

    auto* list = new QScrollArea;
    list->setObjectName(QStringLiteral("locations-list"));
    list->setAccessibleName(QStringLiteral("Project locations"));
    list->setFixedHeight(kListHeight);
    list->setWidgetResizable(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFrameShape(QFrame::StyledPanel);
    // Its remove buttons take the keyboard and scroll into view; the area has nothing to offer.
    list->setFocusPolicy(Qt::NoFocus);
    list->viewport()->setBackgroundRole(QPalette::Base);
    list->viewport()->setAutoFillBackground(true);
    auto* body = new QWidget;
    m_rows = new QVBoxLayout(body);
    m_rows->setContentsMargins(0, 2 * kRowMarginV, 0, 2 * kRowMarginV);
    m_rows->setSpacing(0);
    list->setWidget(body);
    body->setAutoFillBackground(false);
    stack->addWidget(list);

    auto* tools = new QHBoxLayout;
    m_find = makeButton(QStringLiteral("Find project locations"));
    m_find->setObjectName(QStringLiteral("find-project-locations"));
    connect(m_find, &QPushButton::clicked, this, &LocationsSheet::findProjectLocations);
    m_add = makeButton(QStringLiteral("Add folder\u2026"));
    m_add->setObjectName(QStringLiteral("add-folder"));
    connect(m_add, &QPushButton::clicked, this, &LocationsSheet::addFolders);
    tools->addWidget(m_find);
    tools->addWidget(m_add);
    tools->addStretch(1);
    stack->addLayout(tools);

    for (const char* text :
         {"Discovery checks common developer folders and projects directly in your home folder. It skips symlinks "
          "and personal document/media folders.",
          "Common package caches, Xcode DerivedData and simulator devices in your home Library are checked too. "
          "Symlinks are skipped; no administrator access is used."}) {
        QLabel* note = makeText(QString::fromUtf8(text), ui::font(TextStyle::caption));
        setForeground(*note, Woodland::muted(), *env);
        stack->addWidget(note);
    }

    auto* buttons = new QHBoxLayout;
    m_showKept = makeButton(QStringLiteral("Show all kept items"));
    m_showKept->setObjectName(QStringLiteral("show-kept"));
    connect(m_showKept, &QPushButton::clicked, this, [this] { m_model.clearKept(); });
    m_cancel = makeButton(QStringLiteral("Cancel"));
    m_cancel->setObjectName(QStringLiteral("locations-cancel"));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_save = makeProminentButton(QStringLiteral("Save locations"), *env);
    m_save->setObjectName(QStringLiteral("locations-save"));
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, this, &LocationsSheet::save);
    buttons->addWidget(m_showKept);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    stack->addLayout(buttons);

    connect(&m_model, &StorageModel::keptChanged, this, &LocationsSheet::updateKeptButton);
    connect(&m_finding, &QFutureWatcherBase::finished, this, [this] {
        m_find->setEnabled(true);
        if (m_findingGeneration == m_generation) {
            setDraft(merged(m_draft, m_finding.result()));
        }
    });

    updateKeptButton();
    fitHeightToContent(*this);
}

std::vector<std::string> LocationsSheet::merged(std::vector<std::string> draft,
                                                const std::vector<std::string>& suggestions) {
    draft.insert(draft.end(), suggestions.begin(), suggestions.end());
    std::sort(draft.begin(), draft.end());
    draft.erase(std::unique(draft.begin(), draft.end()), draft.end());
    return draft;
}

std::vector<std::string> LocationsSheet::resolved(const std::vector<std::string>& chosen) {
    std::vector<std::string> result;
    result.reserve(chosen.size());
    for (const std::string& path : chosen) {
        result.push_back(tarnby::paths::resolvingSymlinks(path).value_or(path));
    }
    return result;
}

std::optional<std::vector<std::string>> LocationsSheet::chooseFolders(QWidget* parent, const std::string& home) {
    QFileDialog dialog(parent);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFileMode(QFileDialog::Directory);
    // The desktop's own chooser cannot take several folders at once; Qt's can.
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(home)));
    for (const char* name : {"listView", "treeView"}) {
        if (auto* view = dialog.findChild<QAbstractItemView*>(QString::fromLatin1(name))) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    std::vector<std::string> chosen;
    for (const QString& path : dialog.selectedFiles()) {
        chosen.push_back(QFile::encodeName(path).toStdString());
    }
    return chosen;
}

void LocationsSheet::showEvent(QShowEvent* event) {
    WoodlandPanel::showEvent(event);
    if (event->spontaneous()) {
        return;  // the window system showing it again, not a new opening
    }
    ++m_generation;
    m_find->setEnabled(!m_finding.isRunning());
    setDraft(m_model.roots());
    updateKeptButton();
}

void LocationsSheet::setDraft(std::vector<std::string> draft) {
    m_draft = std::move(draft);
    showRows(-1);
}

void LocationsSheet::showRows(int focusPosition) {
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            // The clicked button may be in this row: detach now, delete once its signal returned.
            row->setParent(nullptr);
            row->deleteLater();
        }
        delete item;
    }
    Environment& env = *environment();
    QWidget* body = m_rows->parentWidget();
    for (std::size_t position = 0; position < m_draft.size(); ++position) {
        const std::string& path = m_draft[position];
        auto* row = new QWidget(body);
        row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);  // a short list keeps its row height
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(kRowMarginH, kRowMarginV, kRowMarginH / 2, kRowMarginV);
        line->addWidget(new ElidedLabel(QString::fromStdString(path)), 1);
        auto* remove = new QToolButton;
        remove->setObjectName(QStringLiteral("remove-root-%1").arg(position));
        remove->setAutoRaise(true);
        remove->setAccessibleName(removeName(path));
        remove->setToolTip(removeName(path));
        remove->setIcon(symbolIcon("minus.circle", Woodland::muted().resolve(env), kRemoveSymbolSize));
        remove->setIconSize(QSize(kRemoveSymbolSize, kRemoveSymbolSize));
        answerReturn(*remove);
        connect(remove, &QToolButton::clicked, this, [this, position] { removeRoot(position); });
        line->addWidget(remove);
        m_rows->addWidget(row);
        row->show();  // at once, not on the layout's next turn: focus may move to it below
    }
    m_rows->addStretch(1);
    orderTabs();
    if (focusPosition < 0) {
        return;
    }
    if (m_draft.empty()) {
        m_find->setFocus(Qt::OtherFocusReason);
    } else {
        const auto next = std::min<std::size_t>(static_cast<std::size_t>(focusPosition), m_draft.size() - 1);
        if (auto* button = body->findChild<QToolButton*>(QStringLiteral("remove-root-%1").arg(next))) {
            button->setFocus(Qt::OtherFocusReason);
        }
    }
}

void LocationsSheet::removeRoot(std::size_t position) {
    if (position >= m_draft.size()) {
        return;
    }
    m_draft.erase(m_draft.begin() + static_cast<std::ptrdiff_t>(position));
    showRows(static_cast<int>(position));
}

void LocationsSheet::findProjectLocations() {
    if (m_finding.isRunning()) {
        return;
    }
    m_find->setEnabled(false);
    m_findingGeneration = m_generation;
    m_finding.setFuture(
        QtConcurrent::run([suggester = m_suggester, home = m_model.home()] { return suggester(home); }));
}

void LocationsSheet::addFolders() {
    QPointer<LocationsSheet> self(this);
    const auto chosen = m_chooser(this, m_model.home());
    if (!self || !chosen) {
        return;
    }
    std::vector<std::string> draft = m_draft;
    for (std::string& path : resolved(*chosen)) {
        draft.push_back(std::move(path));
    }
    setDraft(std::move(draft));
}

void LocationsSheet::save() {
    QPointer<LocationsSheet> self(this);
    m_model.save(m_draft);
    if (self) {
        accept();
    }
}

void LocationsSheet::updateKeptButton() { m_showKept->setVisible(!m_model.kept().empty()); }

void LocationsSheet::orderTabs() {
    // Rows are made after the buttons below them; the keyboard follows the screen instead.
    QList<QWidget*> order;
    for (int i = 0; i < m_rows->count(); ++i) {
        if (QWidget* row = m_rows->itemAt(i)->widget()) order += row->findChild<QToolButton*>();
    }
    order += {m_find, m_add, m_showKept, m_cancel, m_save};
    for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace quillet::ui
