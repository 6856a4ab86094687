#include "app/window/results_model.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "app/model/storage_model.h"
#include "core/platform/formatting.h"

namespace quillet::ui {

namespace {
constexpr std::size_t kMostInsertions = 64;
}  // namespace

ResultsModel::ResultsModel(StorageModel& model, QObject* parent) : QAbstractListModel(parent), m_model(model) {
    connect(&m_model, &StorageModel::visibleItemsChanged, this, &ResultsModel::takeVisibleItems);
    connect(&m_model, &StorageModel::selectedChanged, this, [this] { refreshAll({Qt::CheckStateRole}); });
    // Busy changes what may be toggled, which the flags say; the painted rows follow them.
    connect(&m_model, &StorageModel::busyChanged, this, [this] { refreshAll({}); });
    takeVisibleItems();
}

void ResultsModel::takeVisibleItems() {
    std::shared_ptr<const VisibleSnapshot> visible = m_model.visibleSnapshot();
    std::shared_ptr<const VisibleSnapshot> previous;
    if (!m_visible || visible->items != m_visible->items) {
        m_nameKeys.reset();
        m_searchTexts.reset();
        m_sorted.reset();
        previous = m_visible;
    }
    m_visible = std::move(visible);
    // Rows listed before may include items kept since.
    m_listedFrom.reset();
    derive(previous.get());
    emit visibleItemsChanged();
}

void ResultsModel::setChoices(tarnby::browsing::Choices choices) {
    m_choices = std::move(choices);
    derive();
}

const tarnby::StorageItem* ResultsModel::itemPointer(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
    return &(*m_visible->items)[m_rows[static_cast<std::size_t>(row)]];
}

std::optional<tarnby::StorageItem> ResultsModel::itemAt(int row) const {
    if (const tarnby::StorageItem* item = itemPointer(row)) return *item;
    return std::nullopt;
}

std::vector<tarnby::StorageItem> ResultsModel::listedItems() const {
    std::vector<tarnby::StorageItem> items;
    items.reserve(m_rows.size());
    for (std::size_t position : m_rows) items.push_back((*m_visible->items)[position]);
    return items;
}

namespace {

// Whether rows listed for `before` hold every row for `after`: only the search text changed, and
// it grew around the old text (a text containing the new one contains the old one). Not with an
// age filter, whose cutoff moves with the clock.
bool onlyNarrowed(const tarnby::browsing::Choices& before, const tarnby::browsing::Choices& after) {
    return before.category == after.category && before.order == after.order && before.age == 0 && after.age == 0 &&
           after.query.find(before.query) != std::string::npos;
}

}  // namespace

void ResultsModel::derive(const VisibleSnapshot* previous) {
    // Positions are into all the items; only the visible ones are candidates.
    const std::vector<tarnby::StorageItem>& items = *m_visible->items;
    const auto now = std::chrono::system_clock::now();
    if (!m_sorted || m_sortedOrder != m_choices.order) {
        if (m_choices.order == tarnby::browsing::kOrderName && !m_nameKeys)
            m_nameKeys = tarnby::browsing::nameKeys(items);
        tarnby::browsing::Choices everything;
        everything.order = m_choices.order;
        m_sorted = tarnby::browsing::listedIndices(items, everything, now, m_nameKeys ? &*m_nameKeys : nullptr);
        m_sortedOrder = m_choices.order;
        m_listedFrom.reset();
    }
    // Tested in position order, which walks the items the way they lie in memory; the sorted
    // order then picks the rows that passed. Testing in name order would jump across a long
    // list and wait on memory at nearly every item.
    const std::size_t count = items.size();
    std::vector<char> marked(count, 0);
    std::vector<std::size_t> candidates;
    if (m_listedFrom && onlyNarrowed(*m_listedFrom, m_choices)) {
        for (std::size_t position : m_rows) marked[position] = 1;
        candidates.reserve(m_rows.size());
        for (std::size_t position = 0; position < count; ++position) {
            if (marked[position]) candidates.push_back(position);
        }
        std::fill(marked.begin(), marked.end(), 0);
    } else {
        candidates = m_visible->positions;
    }
    if (!m_choices.query.empty() && !m_searchTexts) m_searchTexts = tarnby::browsing::searchTexts(items);
    for (std::size_t position : tarnby::browsing::passingIndices(items, m_choices, now, candidates,
                                                                 m_searchTexts ? &*m_searchTexts : nullptr)) {
        marked[position] = 1;
    }
    std::vector<std::size_t> rows;
    rows.reserve(candidates.size());
    for (std::size_t position : *m_sorted) {
        if (marked[position]) rows.push_back(position);
    }

    if (previous == nullptr || !insertRows(*previous, rows)) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    m_listedFrom = m_choices;
    m_anySelectable = std::any_of(m_rows.begin(), m_rows.end(),
                                  [&items](std::size_t position) { return items[position].selectable(); });
    emit listChanged();
}

bool ResultsModel::insertRows(const VisibleSnapshot& previous, const std::vector<std::size_t>& rows) {
    // Where each earlier item is now, found by path: the items grow in place, so the earlier
    // ones come in the same order.
    const std::vector<tarnby::StorageItem>& before = *previous.items;
    const std::vector<tarnby::StorageItem>& now = *m_visible->items;
    std::vector<std::size_t> moved(before.size());
    std::size_t at = 0;
    for (std::size_t position = 0; position < before.size(); ++position) {
        while (at < now.size() && now[at].url != before[position].url) ++at;
        if (at == now.size()) return false;
        moved[position] = at++;
    }
    // Every row listed must still be listed, in the same order, with runs of new rows between.
    std::vector<std::size_t> kept;
    kept.reserve(m_rows.size());
    for (std::size_t row : m_rows) kept.push_back(moved[row]);
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, end) in the new rows
    std::size_t next = 0;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (next < kept.size() && rows[row] == kept[next]) {
            ++next;
        } else if (!runs.empty() && runs.back().second == row) {
            runs.back().second = row + 1;
        } else {
            runs.emplace_back(row, row + 1);
        }
    }
    // Past a few dozen runs one reset costs views less than the insertions.
    if (next != kept.size() || runs.size() > kMostInsertions) return false;

    m_rows = std::move(kept);
    for (const auto& [first, end] : runs) {
        beginInsertRows({}, static_cast<int>(first), static_cast<int>(end - 1));
        m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(first),
                      rows.begin() + static_cast<std::ptrdiff_t>(first),
                      rows.begin() + static_cast<std::ptrdiff_t>(end));
        endInsertRows();
    }
    // A row listed before may show an item whose values a new scan changed.
    refreshAll({});
    return true;
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
            return QString::fromStdString(tarnby::browsing::displayPath(item->url, m_model.home()) + " · " +
                                          tarnby::formatting::byteCount(item->measurement.bytes));
        case Qt::ToolTipRole:
        case PathRole: return QString::fromStdString(item->url);
        case DisplayPathRole: return QString::fromStdString(tarnby::browsing::displayPath(item->url, m_model.home()));
        case SizeTextRole: return QString::fromStdString(tarnby::formatting::byteCount(item->measurement.bytes));
        case ChangedLineRole: return QString::fromStdString(tarnby::browsing::changedLine(item->measurement));
        case KindRole: return static_cast<int>(item->kind);
        case SelectableRole: return item->selectable();
        case UnselectableReasonRole:
            return QString::fromStdString(tarnby::browsing::unselectableReason(*item).value_or(std::string()));
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
    names.insert(UnselectableReasonRole, "unselectableReason");
    return names;
}

}  // namespace quillet::ui
