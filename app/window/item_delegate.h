#pragma once

#include <QFont>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

class QAbstractItemView;

namespace quillet::ui {

class Environment;

// Paints one result row (checkbox, kind symbol, title over the shortened path, size over the
// change date, details button) and answers clicks and keys on it, so the list needs no
// widget per row. Rows all have the same height. Reads ResultsModel's roles.
class ItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    enum class Part { none, checkbox, details };

    // Where the parts of a row lie inside the row's rectangle; painting and hit testing share it.
    struct RowLayout {
        QRect background;
        QRect checkbox;
        QRect symbol;
        QRect title;
        QRect path;
        QRect size;
        QRect changed;
        QRect details;
    };

    // Follows the pointer over `view`'s rows for hover and press feedback.
    ItemDelegate(Environment* environment, QAbstractItemView* view);

    // What tool tips and assistive technology call a row's checkbox and details button.
    static QString selectName(const QString& title) { return QStringLiteral("Select ") + title; }
    static QString detailsName(const QString& title) { return QStringLiteral("Details for ") + title; }
    static QString detailsHelp() { return QStringLiteral("Details and rebuild instructions"); }

    RowLayout rowLayout(const QRect& row) const;
    Part partAt(const QRect& row, const QPoint& point) const;
    int rowHeight() const { return m_rowHeight; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The checkbox and the details button have tips of their own; the rest of the row shows its path.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // Turns the row's checkbox over, if the row may be selected now.
    void toggle(QAbstractItemModel* model, const QModelIndex& index);

signals:
    void detailsRequested(const QModelIndex& index);

private:
    void setHover(const QModelIndex& index, Part part);

    Environment* m_environment;
    QAbstractItemView* m_view;
    QWidget* m_viewport;  // the one the event filter watches
    QFont m_titleFont;
    QFont m_captionFont;
    QFont m_sizeFont;
    int m_rowHeight = 0;
    int m_trailingWidth = 0;
    int m_symbolPixels = 0;  // the kind symbol, drawn at the third-level title's size
    QPersistentModelIndex m_hoverIndex;
    Part m_hoverPart = Part::none;
    QPersistentModelIndex m_pressIndex;
    Part m_pressPart = Part::none;
};

}  // namespace quillet::ui
