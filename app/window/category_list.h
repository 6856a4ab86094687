#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "core/records/storage_kind.h"

namespace quillet::ui {

class Environment;

// The sidebar's rows: "All developer storage", the "Browse" heading, then one row per kind
// with the number of visible items of that kind. Only the heading cannot be chosen.
class CategoryModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        TagRole = Qt::UserRole + 1,  // "all" or a kind's raw value; empty for the heading
        CountRole,                   // visible items of the row's kind; none for other rows
        SymbolRole,                  // symbol name; empty for the heading
        KindRole,                    // the kind as int; none for other rows
        HeadingRole,                 // bool
    };
    using Counts = std::array<std::size_t, tarnby::kAllStorageKinds.size()>;

    explicit CategoryModel(QObject* parent = nullptr);

    void setCounts(const Counts& counts);
    // The row showing `tag` ("all" or a kind's raw value); -1 for any other text.
    int rowOf(const std::string& tag) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    Counts m_counts{};
};

// Paints a sidebar row: a tinted symbol, the title and, for kinds, the count at the trailing end.
class CategoryDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    CategoryDelegate(Environment* environment, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    Environment* m_environment;
};

}  // namespace quillet::ui
