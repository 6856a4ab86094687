#include "app/window/item_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <string>

#include "app/look/check_box.h"
#include "app/look/environment.h"
#include "app/look/focus_ring.h"
#include "app/look/palette.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/window/results_model.h"
#include "core/platform/formatting.h"
#include "core/records/storage_kind.h"

namespace quillet::ui {

namespace {

constexpr int kListInset = 24;      // the inset list's distance from the view's edges
constexpr int kRowMargin = 14;      // content inside the row's background, left and right
constexpr int kRowPadding = 10;     // above and below the row's content
constexpr int kRowSpacing = 12;     // between the row's columns
constexpr int kSymbolFrame = 28;    // width of the kind symbol's column
constexpr int kLineGap = 5;         // between a column's two lines
constexpr int kDetailsButton = 24;  // the details button's square
constexpr int kDetailsSymbol = 16;
constexpr qreal kCornerRadius = 10;
constexpr qreal kRowOpacity = 0.88;
constexpr qreal kRuleOpacity = 0.55;
constexpr qreal kDisabledOpacity = 0.5;
constexpr qreal kHoverOpacity = 0.35;  // the selection colour over a hovered row or button
constexpr qreal kPressOpacity = 0.7;

// The widest text the trailing column shows: a size, or a change line in any month.
int trailingWidth(const QFont& sizeFont, const QFont& captionFont) {
    const QFontMetrics sizeMetrics(sizeFont);
    const QFontMetrics captionMetrics(captionFont);
    int width = std::max(sizeMetrics.horizontalAdvance(QStringLiteral("888.88 MB")),
                         captionMetrics.horizontalAdvance(QStringLiteral("Change date unknown")));
    using namespace std::chrono;
    const year_month_day today{floor<days>(system_clock::now())};
    for (unsigned month = 1; month <= 12; ++month) {
        const sys_days day{today.year() / month / 28};
        const std::string line = "Changed " + tarnby::formatting::date(system_clock::time_point(day), false);
        width = std::max(width, captionMetrics.horizontalAdvance(QString::fromStdString(line)));
    }
    return width;
}

}  // namespace

ItemDelegate::ItemDelegate(Environment* environment, QAbstractItemView* view)
    : QStyledItemDelegate(view),
      m_environment(environment),
      m_view(view),
      m_viewport(view->viewport()),
      m_titleFont(font(TextStyle::body, QFont::Medium)),
      m_captionFont(font(TextStyle::caption)),
      m_sizeFont(monospacedDigits(font(TextStyle::body))) {
    const int lines = QFontMetrics(m_titleFont).height() + kLineGap + QFontMetrics(m_captionFont).height();
    m_rowHeight = kRowPadding + std::max(lines, kDetailsButton) + kRowPadding;
    m_trailingWidth = trailingWidth(m_sizeFont, m_captionFont);
    m_symbolPixels = QFontInfo(font(TextStyle::title3)).pixelSize();
    view->setMouseTracking(true);
    m_viewport->installEventFilter(this);
}

ItemDelegate::RowLayout ItemDelegate::rowLayout(const QRect& row) const {
    RowLayout layout;
    layout.background = row.adjusted(kListInset, 0, -kListInset, 0);
    const QRect content = layout.background.adjusted(kRowMargin, kRowPadding, -kRowMargin, -kRowPadding);
    const int middle = content.center().y();

    int left = content.left();
    layout.checkbox = QRect(left, middle - kCheckBoxSize / 2, kCheckBoxSize, kCheckBoxSize);
    left += kCheckBoxSize + kRowSpacing;
    layout.symbol = QRect(left, content.top(), kSymbolFrame, content.height());
    left += kSymbolFrame + kRowSpacing;

    int right = content.right() + 1;
    layout.details = QRect(right - kDetailsButton, middle - kDetailsButton / 2, kDetailsButton, kDetailsButton);
    right -= kDetailsButton + kRowSpacing;
    const int titleHeight = QFontMetrics(m_titleFont).height();
    const int captionHeight = QFontMetrics(m_captionFont).height();
    const int top = middle - (titleHeight + kLineGap + captionHeight) / 2;
    layout.size = QRect(right - m_trailingWidth, top, m_trailingWidth, titleHeight);
    layout.changed = QRect(right - m_trailingWidth, top + titleHeight + kLineGap, m_trailingWidth, captionHeight);
    right -= m_trailingWidth + kRowSpacing;

    const int textWidth = std::max(0, right - left);
    layout.title = QRect(left, top, textWidth, titleHeight);
    layout.path = QRect(left, top + titleHeight + kLineGap, textWidth, captionHeight);
    return layout;
}

ItemDelegate::Part ItemDelegate::partAt(const QRect& row, const QPoint& point) const {
    const RowLayout layout = rowLayout(row);
    // The checkbox answers a little around itself, as a real one's label would.
    if (layout.checkbox.adjusted(-6, -6, 6, 6).contains(point)) return Part::checkbox;
    if (layout.details.contains(point)) return Part::details;
    return Part::none;
}

void ItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Appearance appearance = m_environment->appearance();
    const RowLayout layout = rowLayout(option.rect);
    const bool enabled = option.state.testFlag(QStyle::State_Enabled) && index.flags().testFlag(Qt::ItemIsEnabled);
    const int rows = index.model()->rowCount();
    const bool first = index.row() == 0;
    const bool last = index.row() == rows - 1;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (!enabled) painter->setOpacity(kDisabledOpacity);

    // Background: one rounded card for the whole list, drawn a row at a time.
    QPainterPath card;
    if (first || last) {
        card.addRoundedRect(layout.background, kCornerRadius, kCornerRadius);
        if (!first) card.addRect(layout.background.adjusted(0, 0, 0, -layout.background.height() / 2));
        if (!last) card.addRect(layout.background.adjusted(0, layout.background.height() / 2, 0, 0));
        card.setFillRule(Qt::WindingFill);
        card = card.simplified();
    } else {
        card.addRect(layout.background);
    }
    painter->fillPath(card, withOpacity(Woodland::row().resolve(appearance), kRowOpacity));
    if (option.state.testFlag(QStyle::State_Selected)) {
        painter->fillPath(card, withOpacity(Woodland::selection().resolve(appearance), kPressOpacity));
    } else if (enabled && option.state.testFlag(QStyle::State_MouseOver)) {
        painter->fillPath(card, withOpacity(Woodland::selection().resolve(appearance), kHoverOpacity / 2));
    }
    if (!last) {
        painter->setPen(QPen(withOpacity(Woodland::rule().resolve(appearance), kRuleOpacity), 1));
        const int y = layout.background.bottom();
        painter->drawLine(QPointF(layout.symbol.left(), y + 0.5), QPointF(layout.background.right(), y + 0.5));
    }
    if (option.state.testFlag(QStyle::State_HasFocus) && option.state.testFlag(QStyle::State_KeyboardFocusChange) &&
        m_view->hasFocus()) {
        paintFocus(*painter, layout.background, kCornerRadius, *m_environment);
    }

    // Checkbox: faded where the row cannot be selected, which its detail sheet explains.
    const bool checkable = index.flags().testFlag(Qt::ItemIsUserCheckable);
    CheckBoxState box;
    box.checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    box.hovered = checkable && m_hoverIndex == index && m_hoverPart == Part::checkbox;
    box.pressed = checkable && m_pressIndex == index && m_pressPart == Part::checkbox;
    if (!checkable && enabled) painter->setOpacity(kDisabledOpacity);
    paintCheckBox(*painter, layout.checkbox, box, Woodland::accent(), *m_environment);
    if (!checkable && enabled) painter->setOpacity(1.0);

    // Kind symbol.
    const auto kind = static_cast<tarnby::StorageKind>(index.data(ResultsModel::KindRole).toInt());
    const QPixmap kindSymbol = symbol(tarnby::symbol(kind), Woodland::category(kind).resolve(appearance),
                                      m_symbolPixels, painter->device()->devicePixelRatioF());
    const QSize kindSize = kindSymbol.deviceIndependentSize().toSize();
    painter->drawPixmap(
        QRect(QPoint(0, 0), kindSize).translated(layout.symbol.center() - QRect(QPoint(0, 0), kindSize).center()),
        kindSymbol);

    // Texts.
    const QColor ink = Woodland::ink().resolve(appearance);
    const QColor muted = Woodland::muted().resolve(appearance);
    painter->setPen(ink);
    painter->setFont(m_titleFont);
    const QString title = index.data(ResultsModel::TitleRole).toString();
    painter->drawText(layout.title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      QFontMetrics(m_titleFont).elidedText(title, Qt::ElideRight, layout.title.width()));
    painter->setPen(muted);
    painter->setFont(m_captionFont);
    const QString path = index.data(ResultsModel::DisplayPathRole).toString();
    painter->drawText(layout.path, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      QFontMetrics(m_captionFont).elidedText(path, Qt::ElideMiddle, layout.path.width()));
    painter->setPen(ink);
    painter->setFont(m_sizeFont);
    painter->drawText(layout.size, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                      index.data(ResultsModel::SizeTextRole).toString());
    painter->setPen(muted);
    painter->setFont(m_captionFont);
    painter->drawText(layout.changed, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                      index.data(ResultsModel::ChangedLineRole).toString());

    // Details button: borderless until the pointer is over it.
    const bool detailsHovered = enabled && m_hoverIndex == index && m_hoverPart == Part::details;
    const bool detailsPressed = enabled && m_pressIndex == index && m_pressPart == Part::details;
    if (detailsHovered || detailsPressed) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(
            withOpacity(Woodland::selection().resolve(appearance), detailsPressed ? kPressOpacity : kHoverOpacity));
        painter->drawEllipse(layout.details);
    }
    const QPixmap info = symbol("info.circle", Woodland::accent().resolve(appearance), kDetailsSymbol,
                                painter->device()->devicePixelRatioF());
    const QRect infoRect(QPoint(0, 0), QSize(kDetailsSymbol, kDetailsSymbol));
    painter->drawPixmap(infoRect.translated(layout.details.center() - infoRect.center()), info);
    painter->restore();
}

QSize ItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    // No width of its own: a row spans the view, whatever width the view has.
    return {1, m_rowHeight};
}

void ItemDelegate::toggle(QAbstractItemModel* model, const QModelIndex& index) {
    if (!index.isValid() || !index.flags().testFlag(Qt::ItemIsUserCheckable)) return;
    const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    // The row's accessible parts announce the new state (results_accessibility).
    model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

bool ItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                             const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid()) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const RowLayout layout = rowLayout(option.rect);
    QString tip;
    QRect area;
    switch (partAt(option.rect, event->pos())) {
        case Part::details:
            tip = detailsHelp();
            area = layout.details;
            break;
        case Part::checkbox: {
            const QString reason = index.data(ResultsModel::UnselectableReasonRole).toString();
            tip = reason.isEmpty() ? selectName(index.data(ResultsModel::TitleRole).toString()) : reason;
            area = layout.checkbox;
            break;
        }
        case Part::none: return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QToolTip::showText(event->globalPos(), tip, view->viewport(), area);
    return true;
}

bool ItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
    switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            setHover(index, partAt(option.rect, mouse->position().toPoint()));
            return false;
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            const Part part = partAt(option.rect, mouse->position().toPoint());
            if (part == Part::none) return false;
            m_pressIndex = index;
            m_pressPart = part;
            m_view->update(index);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const Part pressed = m_pressPart;
            const bool sameRow = m_pressIndex == index;
            m_pressPart = Part::none;
            m_pressIndex = QPersistentModelIndex();
            if (pressed == Part::none) return false;
            m_view->update(index);
            // Like a button: it acts when released over the part it was pressed on.
            if (!sameRow || mouse->button() != Qt::LeftButton ||
                partAt(option.rect, mouse->position().toPoint()) != pressed) {
                return true;
            }
            if (pressed == Part::checkbox) toggle(model, index);
            if (pressed == Part::details && index.flags().testFlag(Qt::ItemIsEnabled)) emit detailsRequested(index);
            return true;
        }
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return partAt(option.rect, mouse->position().toPoint()) != Part::none;
        }
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Space && key->key() != Qt::Key_Select) return false;
            toggle(model, index);
            return true;
        }
        default: return false;
    }
}

bool ItemDelegate::eventFilter(QObject* watched, QEvent* event) {
    // The viewport sends its last Leave while the view is half destroyed, so this touches only
    // the viewport, through the pointer kept at construction.
    if (event->type() == QEvent::Leave && watched == m_viewport && m_hoverIndex.isValid()) {
        m_hoverIndex = QPersistentModelIndex();
        m_hoverPart = Part::none;
        m_viewport->update();
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

void ItemDelegate::setHover(const QModelIndex& index, Part part) {
    if (m_hoverIndex == index && m_hoverPart == part) return;
    if (m_hoverIndex.isValid()) m_view->update(m_hoverIndex);
    m_hoverIndex = index;
    m_hoverPart = part;
    if (index.isValid()) m_view->update(index);
}

}  // namespace quillet::ui
