#pragma once

#include <QAbstractListModel>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/browsing/result_browsing.h"
#include "core/records/storage_item.h"

namespace quillet {
class StorageModel;
struct VisibleSnapshot;
}  // namespace quillet

namespace quillet::ui {

// The listed items as rows: the positions in the storage model's items, among its visible ones,
// that the browsing choices select, in display order. Rows are re-derived when the choices, the
// items or the kept set change; selection and busy changes only repaint. When new items keep
// every row listed, in its order (a list growing during a scan), only the new rows are inserted,
// so views keep their place. Main thread only.
class ResultsModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        TitleRole = Qt::UserRole + 1,
        DisplayPathRole,         // the path with the home folder shortened to "~"
        SizeTextRole,            // formatted byte count
        ChangedLineRole,         // "Changed …" or "Change date unknown"
        KindRole,                // tarnby::StorageKind as int
        SelectableRole,          // bool: may enter a plan
        PathRole,                // the item's path, its identity
        UnselectableReasonRole,  // why the item cannot be selected; empty when it can
    };

    explicit ResultsModel(StorageModel& model, QObject* parent = nullptr);

    const tarnby::browsing::Choices& choices() const { return m_choices; }
    void setChoices(tarnby::browsing::Choices choices);

    // A copy of the item at `row`, none outside the list. A copy, because the storage
    // model replaces its lists on every change.
    std::optional<tarnby::StorageItem> itemAt(int row) const;
    // Copies of every listed item, in display order.
    std::vector<tarnby::StorageItem> listedItems() const;
    // Whether some listed item may be selected ("Select visible" has work to do).
    bool anySelectable() const { return m_anySelectable; }
    // The storage model's visible snapshot as of its last change, shared by the list, the totals
    // and the counts; never null.
    std::shared_ptr<const VisibleSnapshot> visibleItems() const { return m_visible; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    // The storage model's visibleItems changed; the rows follow at once.
    void visibleItemsChanged();
    // The listed rows were derived again (their number may have changed).
    void listChanged();

private:
    const tarnby::StorageItem* itemPointer(int row) const;
    void takeVisibleItems();
    // `previous`: the snapshot the rows were listed from, when the items have changed since.
    void derive(const VisibleSnapshot* previous = nullptr);
    bool insertRows(const VisibleSnapshot& previous, const std::vector<std::size_t>& rows);
    void refreshAll(const QList<int>& roles);

    StorageModel& m_model;
    tarnby::browsing::Choices m_choices;
    std::shared_ptr<const VisibleSnapshot> m_visible;
    std::vector<std::size_t> m_rows;
    // The caches below cover all of the snapshot's items, visible or not, so a keep, which
    // shares the items, keeps them.
    // Collation keys of the items' titles for the name order: made at most once per scan,
    // never per keystroke.
    std::optional<std::vector<std::string>> m_nameKeys;
    // What the search looks in, prepared on the first search of each scan's items.
    std::optional<std::vector<tarnby::browsing::SearchText>> m_searchTexts;
    // All the items in the chosen order, sorted once per scan and order: the filters do not
    // change the order, so a keystroke only filters (the rows listed now, when the search text
    // grew) and never sorts.
    std::optional<std::vector<std::size_t>> m_sorted;
    std::string m_sortedOrder;
    std::optional<tarnby::browsing::Choices> m_listedFrom;  // the choices m_rows were derived with
    bool m_anySelectable = false;
};

}  // namespace quillet::ui
