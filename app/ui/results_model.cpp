#include "app/ui/results_model.h"

#include <chrono>
#include <utility>

#include "app/model/storage_model.h"
#include "core/platform/formatting.h"

namespace quillet::ui {

ResultsModel::ResultsModel(StorageModel& model, QObject* parent) : QAbstractListModel(parent), m_model(model) {
    connect(&m_model, &StorageModel::visibleItemsChanged, this, &ResultsModel::takeVisibleItems);
    connect(&m_model, &StorageModel::selectedChanged, this, [this] { refreshAll({Qt::CheckStateRole}); });
    // Busy changes what may be toggled, which the flags say; the painted rows follow them.
    connect(&m_model, &StorageModel::busyChanged, this, [this] { refreshAll({}); });
    takeVisibleItems();
}

void ResultsModel::takeVisibleItems() {
    m_visible = std::make_shared<const std::vector<tarnby::StorageItem>>(m_model.visibleItems());
    m_nameKeys.reset();
    derive();
    emit visibleItemsChanged();
}

void ResultsModel::setChoices(browsing::Choices choices) {
    m_choices = std::move(choices);
    derive();
}

const tarnby::StorageItem* ResultsModel::itemPointer(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
    return &(*m_visible)[m_rows[static_cast<std::size_t>(row)]];
}

std::optional<tarnby::StorageItem> ResultsModel::itemAt(int row) const {
    if (const tarnby::StorageItem* item = itemPointer(row)) return *item;
    return std::nullopt;
}

std::vector<tarnby::StorageItem> ResultsModel::listedItems() const {
    std::vector<tarnby::StorageItem> items;
    items.reserve(m_rows.size());
    for (std::size_t position : m_rows) items.push_back((*m_visible)[position]);
    return items;
}

void ResultsModel::derive() {
    const std::vector<tarnby::StorageItem>& visible = *m_visible;
    if (m_choices.order == browsing::kOrderName && !m_nameKeys) m_nameKeys = browsing::nameKeys(visible);
    beginResetModel();
    m_rows = browsing::listedIndices(visible, m_choices, std::chrono::system_clock::now(),
                                     m_nameKeys ? &*m_nameKeys : nullptr);
    m_anySelectable = false;
    for (std::size_t position : m_rows) {
        if (visible[position].selectable()) {
            m_anySelectable = true;
            break;
        }
    }
    endResetModel();
    emit listChanged();
}

void ResultsModel::refreshAll(const QList<int>& roles) {
    if (m_rows.empty()) return;
    emit dataChanged(index(0), index(rowCount() - 1), roles);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this) return {};
    const tarnby::StorageItem* item = itemPointer(index.row());
    if (item == nullptr) return {};
    switch (role) {
        case Qt::DisplayRole:
        case TitleRole: return QString::fromStdString(item->title);
        case Qt::AccessibleDescriptionRole:
            return QString::fromStdString(browsing::displayPath(item->url, m_model.home()) + " · " +
                                          tarnby::formatting::byteCount(item->measurement.bytes));
        case Qt::ToolTipRole:
        case PathRole: return QString::fromStdString(item->url);
        case DisplayPathRole: return QString::fromStdString(browsing::displayPath(item->url, m_model.home()));
        case SizeTextRole: return QString::fromStdString(tarnby::formatting::byteCount(item->measurement.bytes));
        case ChangedLineRole: return QString::fromStdString(browsing::changedLine(item->measurement));
        case KindRole: return static_cast<int>(item->kind);
        case SelectableRole: return item->selectable();
        case Qt::CheckStateRole: return m_model.selected().contains(item->url) ? Qt::Checked : Qt::Unchecked;
        default: return {};
    }
}

bool ResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.model() != this) return false;
    const tarnby::StorageItem* item = itemPointer(index.row());
    if (item == nullptr || !item->selectable() || m_model.busy()) return false;
    if (value.value<Qt::CheckState>() == Qt::Checked) {
        m_model.select(item->url);
    } else {
        m_model.deselect(item->url);
    }
    return true;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return Qt::NoItemFlags;
    if (m_model.busy()) return Qt::ItemNeverHasChildren;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    const tarnby::StorageItem* item = itemPointer(index.row());
    if (item != nullptr && item->selectable()) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QHash<int, QByteArray> ResultsModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(TitleRole, "title");
    names.insert(DisplayPathRole, "displayPath");
    names.insert(SizeTextRole, "sizeText");
    names.insert(ChangedLineRole, "changedLine");
    names.insert(KindRole, "kind");
    names.insert(SelectableRole, "selectable");
    names.insert(PathRole, "path");
    return names;
}

}  // namespace quillet::ui
