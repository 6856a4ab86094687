#include "app/window/category_list.h"

#include <QPainter>

#include "app/look/environment.h"
#include "app/look/focus_ring.h"
#include "app/look/palette.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "core/browsing/result_browsing.h"

namespace quillet::ui {

namespace {

constexpr int kAllRow = 0;
constexpr int kHeadingRow = 1;
constexpr int kFirstKindRow = 2;
constexpr int kRowHeight = 30;
constexpr int kHeadingHeight = 30;
constexpr int kRowMargin = 10;  // inside the row's highlight
constexpr int kSymbolSize = 16;
constexpr int kSymbolGap = 8;
constexpr qreal kHighlightRadius = 7;
constexpr qreal kHoverOpacity = 0.35;

std::optional<tarnby::StorageKind> kindOfRow(int row) {
    const int position = row - kFirstKindRow;
    if (position < 0 || position >= static_cast<int>(tarnby::kAllStorageKinds.size())) return std::nullopt;
    return tarnby::kAllStorageKinds[static_cast<std::size_t>(position)];
}

QString text(std::string_view value) { return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())); }

}  // namespace

CategoryModel::CategoryModel(QObject* parent) : QAbstractListModel(parent) {}

void CategoryModel::setCounts(const Counts& counts) {
    if (counts == m_counts) return;
    m_counts = counts;
    emit dataChanged(index(kFirstKindRow), index(rowCount() - 1), {CountRole});
}

int CategoryModel::rowOf(const std::string& tag) const {
    if (tag == tarnby::browsing::kAllCategories) return kAllRow;
    if (const auto kind = tarnby::storageKindFromRawValue(tag)) return kFirstKindRow + static_cast<int>(*kind);
    return -1;
}

int CategoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kFirstKindRow + static_cast<int>(tarnby::kAllStorageKinds.size());
}

QVariant CategoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this) return {};
    const int row = index.row();
    const std::optional<tarnby::StorageKind> kind = kindOfRow(row);
    switch (role) {
        case Qt::DisplayRole:
            if (row == kAllRow) return text(tarnby::browsing::kAllCategoriesLabel);
            if (row == kHeadingRow) return QStringLiteral("Browse");
            return text(tarnby::title(*kind));
        case Qt::AccessibleDescriptionRole:
            if (!kind) return {};
            return text(tarnby::browsing::itemCount(m_counts[static_cast<std::size_t>(*kind)]));
        case TagRole:
            if (row == kAllRow) return text(tarnby::browsing::kAllCategories);
            return kind ? text(tarnby::rawValue(*kind)) : QString();
        case CountRole:
            if (!kind) return {};
            return static_cast<qulonglong>(m_counts[static_cast<std::size_t>(*kind)]);
        case SymbolRole:
            if (row == kAllRow) return QStringLiteral("square.stack.3d.up");
            return kind ? text(tarnby::symbol(*kind)) : QString();
        case KindRole:
            if (!kind) return {};
            return static_cast<int>(*kind);
        case HeadingRole: return row == kHeadingRow;
        default: return {};
    }
}

Qt::ItemFlags CategoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return Qt::NoItemFlags;
    if (index.row() == kHeadingRow) return Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

CategoryDelegate::CategoryDelegate(Environment* environment, QObject* parent)
    : QStyledItemDelegate(parent), m_environment(environment) {}

void CategoryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Appearance appearance = m_environment->appearance();
    const QColor muted = Woodland::muted().resolve(appearance);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (index.data(CategoryModel::HeadingRole).toBool()) {
        painter->setFont(font(TextStyle::caption, QFont::DemiBold));
        painter->setPen(muted);
        painter->drawText(option.rect.adjusted(kRowMargin, 0, -kRowMargin, -4), Qt::AlignLeft | Qt::AlignBottom,
                          index.data().toString());
        painter->restore();
        return;
    }

    const QRect row = option.rect;
    if (option.state.testFlag(QStyle::State_Selected)) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(Woodland::selection().resolve(appearance));
        painter->drawRoundedRect(QRectF(row), kHighlightRadius, kHighlightRadius);
    } else if (option.state.testFlag(QStyle::State_MouseOver)) {
        QColor hover = Woodland::selection().resolve(appearance);
        hover.setAlphaF(static_cast<float>(kHoverOpacity));
        painter->setPen(Qt::NoPen);
        painter->setBrush(hover);
        painter->drawRoundedRect(QRectF(row), kHighlightRadius, kHighlightRadius);
    }
    if (option.state.testFlag(QStyle::State_HasFocus) && option.state.testFlag(QStyle::State_KeyboardFocusChange) &&
        option.widget && option.widget->hasFocus()) {
        paintFocus(*painter, row, kHighlightRadius, *m_environment);
    }

    const QVariant kind = index.data(CategoryModel::KindRole);
    const QColor tint = kind.isValid()
                            ? Woodland::category(static_cast<tarnby::StorageKind>(kind.toInt())).resolve(appearance)
                            : Woodland::accent().resolve(appearance);
    const QString symbolName = index.data(CategoryModel::SymbolRole).toString();
    const QPixmap icon = symbol(symbolName.toStdString(), tint, kSymbolSize, painter->device()->devicePixelRatioF());
    const QRect iconRect(row.left() + kRowMargin, row.center().y() - kSymbolSize / 2, kSymbolSize, kSymbolSize);
    painter->drawPixmap(iconRect, icon);

    QRect textRect = row.adjusted(kRowMargin + kSymbolSize + kSymbolGap, 0, -kRowMargin, 0);
    const QVariant count = index.data(CategoryModel::CountRole);
    if (count.isValid()) {
        const QFont countFont = monospacedDigits(font(TextStyle::caption));
        const QString countText = QString::number(count.toULongLong());
        painter->setFont(countFont);
        painter->setPen(muted);
        painter->drawText(textRect, Qt::AlignRight | Qt::AlignVCenter, countText);
        textRect.setRight(textRect.right() - QFontMetrics(countFont).horizontalAdvance(countText) - kSymbolGap);
    }
    const QFont titleFont = font(TextStyle::body);
    painter->setFont(titleFont);
    painter->setPen(Woodland::ink().resolve(appearance));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(titleFont).elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize CategoryDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    // No width of its own: a row spans the list at whatever width the sidebar has now.
    return {1, index.data(CategoryModel::HeadingRole).toBool() ? kHeadingHeight : kRowHeight};
}

}  // namespace quillet::ui
