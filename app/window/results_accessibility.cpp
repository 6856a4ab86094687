#include "app/window/results_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QItemSelectionModel>
#include <QListView>
#include <QPointer>

#include <array>

#include "app/window/item_delegate.h"
#include "app/window/results_model.h"

namespace quillet::ui {

namespace {

constexpr char kRowsProperty[] = "quilletAccessibleRows";

enum class Part { row, select, details };

// The list's rows as assistive technology has asked for them: one object per part, so each has
// an identifier, and so the toolkit drops each part's interface with its object. All of them go
// whenever the rows are derived again, since a row number then names another item.
class Rows final : public QObject {
public:
    Rows(QListView& list, QAbstractItemModel& model, ItemDelegate& delegate);

    QListView* list() const { return m_list; }
    QAbstractItemModel* model() const { return m_model; }
    ItemDelegate* delegate() const { return m_delegate; }
    // The interface of a part of `row`, made on first request; none outside the list.
    QAccessibleInterface* part(int row, Part part);
    // The row and part an interface of this list stands for.
    bool find(const QAccessibleInterface* iface, int* row, Part* part) const;

private:
    struct Entry {
        std::array<QObject*, 3> objects{};
        bool checked = false;
        Qt::ItemFlags flags;
    };
    void forget();
    void tell(int first, int last);

    QPointer<QListView> m_list;
    QPointer<QAbstractItemModel> m_model;
    QPointer<ItemDelegate> m_delegate;
    QHash<int, Entry> m_entries;
};

Rows* rowsOf(const QListView* list) { return static_cast<Rows*>(list->property(kRowsProperty).value<QObject*>()); }

// A row or one of its two parts.
class RowPart final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowPart(Rows* rows, QObject* object, int row, Part part)
        : m_rows(rows), m_object(object), m_row(row), m_part(part) {}

    bool isValid() const override { return m_rows && m_rows->list() && index().isValid(); }
    QObject* object() const override { return m_object; }
    QWindow* window() const override {
        return m_rows && m_rows->list() ? m_rows->list()->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i) {
            QAccessibleInterface* part = child(i);
            if (part && part->rect().contains(x, y)) return part;
        }
        return nullptr;
    }
    QAccessibleInterface* parent() const override {
        if (!isValid()) return nullptr;
        return m_part == Part::row ? QAccessible::queryAccessibleInterface(m_rows->list())
                                   : m_rows->part(m_row, Part::row);
    }
    QAccessibleInterface* child(int i) const override {
        if (m_part != Part::row || !isValid() || i < 0 || i > 1) return nullptr;
        return m_rows->part(m_row, i == 0 ? Part::select : Part::details);
    }
    int childCount() const override { return m_part == Part::row ? 2 : 0; }
    int indexOfChild(const QAccessibleInterface* iface) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (child(i) == iface) return i;
        }
        return -1;
    }

    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        const QModelIndex at = index();
        const QString title = at.data(ResultsModel::TitleRole).toString();
        switch (m_part) {
            case Part::row:
                if (kind == QAccessible::Name) return title;
                if (kind == QAccessible::Description) return at.data(Qt::AccessibleDescriptionRole).toString();
                return {};
            case Part::select:
                if (kind == QAccessible::Name) return ItemDelegate::selectName(title);
                if (kind == QAccessible::Description) return at.data(ResultsModel::UnselectableReasonRole).toString();
                return {};
            case Part::details:
                if (kind == QAccessible::Name) return ItemDelegate::detailsName(title);
                if (kind == QAccessible::Help) return ItemDelegate::detailsHelp();
                return {};
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        QListView* list = m_rows->list();
        const QRect row = list->visualRect(index());
        const ItemDelegate::RowLayout layout = m_rows->delegate()->rowLayout(row);
        const QRect shown = m_part == Part::row ? row : m_part == Part::select ? layout.checkbox : layout.details;
        return QRect(list->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }
    QAccessible::Role role() const override {
        switch (m_part) {
            case Part::row: return QAccessible::ListItem;
            case Part::select: return QAccessible::CheckBox;
            case Part::details: return QAccessible::Button;
        }
        return QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        QListView* list = m_rows->list();
        const QModelIndex at = index();
        const Qt::ItemFlags flags = at.flags();
        const bool checked = at.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        state.invisible = !list->isVisible();
        state.offscreen = !list->viewport()->rect().intersects(list->visualRect(at));
        state.disabled = !list->isEnabled() || !flags.testFlag(Qt::ItemIsEnabled);
        switch (m_part) {
            case Part::row:
                state.focusable = true;
                state.focused = list->hasFocus() && list->currentIndex() == at;
                state.selectable = true;
                state.selected = list->selectionModel()->isSelected(at);
                // Mirrors its checkbox, so moving through the rows tells which are ticked.
                state.checkable = true;
                state.checked = checked;
                break;
            case Part::select:
                state.checkable = true;
                state.checked = checked;
                state.disabled = state.disabled || !flags.testFlag(Qt::ItemIsUserCheckable);
                break;
            case Part::details: break;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface && m_part != Part::row) {
            return static_cast<QAccessibleActionInterface*>(this);
        }
        return nullptr;
    }
    QStringList actionNames() const override {
        if (m_part == Part::select) return {toggleAction()};
        if (m_part == Part::details) return {pressAction()};
        return {};
    }
    void doAction(const QString& name) override {
        if (!isValid() || state().disabled) return;
        if (m_part == Part::select && name == toggleAction()) {
            m_rows->delegate()->toggle(m_rows->model(), index());
        } else if (m_part == Part::details && name == pressAction()) {
            emit m_rows->delegate()->detailsRequested(index());
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QModelIndex index() const {
        if (!m_rows || !m_rows->model() || m_row >= m_rows->model()->rowCount()) return {};
        return m_rows->model()->index(m_row, 0);
    }

    QPointer<Rows> m_rows;
    QObject* m_object;
    int m_row;
    Part m_part;
};

// The list itself: its rows as children, and the table the toolkit's item views report to.
class ResultsList final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ResultsList(QListView* list) : QAccessibleWidget(list, QAccessible::List) {}

    int childCount() const override { return rows() ? rows()->model()->rowCount() : 0; }
    QAccessibleInterface* child(int index) const override { return rows() ? rows()->part(index, Part::row) : nullptr; }
    int indexOfChild(const QAccessibleInterface* iface) const override {
        int row = -1;
        Part part = Part::row;
        return rows() && rows()->find(iface, &row, &part) && part == Part::row ? row : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        auto* list = static_cast<QListView*>(widget());
        const QModelIndex at = list->indexAt(list->viewport()->mapFromGlobal(QPoint(x, y)));
        return at.isValid() ? child(at.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        auto* list = static_cast<QListView*>(widget());
        return list->hasFocus() && list->currentIndex().isValid() ? child(list->currentIndex().row()) : nullptr;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // One column of rows, as the toolkit's own list reports itself.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override { return column == 0 ? child(row) : nullptr; }
    int selectedCellCount() const override { return static_cast<int>(selectedRows().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows()) cells.append(child(row));
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> selected;
        for (const QModelIndex& index : static_cast<QListView*>(widget())->selectionModel()->selectedRows()) {
            selected.append(index.row());
        }
        return selected;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return selectedRows().contains(row); }
    bool selectRow(int row) override {
        auto* list = static_cast<QListView*>(widget());
        const QModelIndex at = list->model()->index(row, 0);
        if (!at.isValid()) return false;
        list->setCurrentIndex(at);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    // The rows follow the model's own signals, which arrive whether or not anyone listens.
    void modelChange(QAccessibleTableModelChangeEvent*) override {}

private:
    Rows* rows() const { return rowsOf(static_cast<QListView*>(widget())); }
};

QAccessibleInterface* resultsFactory(const QString&, QObject* object) {
    auto* list = qobject_cast<QListView*>(object);
    if (list != nullptr && list->property(kRowsProperty).isValid()) return new ResultsList(list);
    return nullptr;
}

Rows::Rows(QListView& list, QAbstractItemModel& model, ItemDelegate& delegate)
    : QObject(&list), m_list(&list), m_model(&model), m_delegate(&delegate) {
    connect(&model, &QAbstractItemModel::modelReset, this, &Rows::forget);
    connect(&model, &QAbstractItemModel::layoutChanged, this, &Rows::forget);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &Rows::forget);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &Rows::forget);
    connect(&model, &QAbstractItemModel::rowsMoved, this, &Rows::forget);
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) { tell(first.row(), last.row()); });
}

QAccessibleInterface* Rows::part(int row, Part which) {
    if (!m_model || row < 0 || row >= m_model->rowCount()) return nullptr;
    Entry& entry = m_entries[row];
    QObject*& object = entry.objects[static_cast<std::size_t>(which)];
    if (object == nullptr) {
        const QModelIndex index = m_model->index(row, 0);
        entry.checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        entry.flags = index.flags();
        object = new QObject(this);
        static const QString kPrefixes[] = {QString(), QStringLiteral("select-"), QStringLiteral("details-")};
        object->setObjectName(kPrefixes[static_cast<std::size_t>(which)] +
                              index.data(ResultsModel::PathRole).toString());
        // Registered now, so the interface is the one found for the object, and goes with it.
        QAccessible::registerAccessibleInterface(new RowPart(this, object, row, which));
    }
    return QAccessible::queryAccessibleInterface(object);
}

bool Rows::find(const QAccessibleInterface* iface, int* row, Part* which) const {
    const QObject* object = iface != nullptr ? iface->object() : nullptr;
    if (object == nullptr || object->parent() != this) return false;
    for (auto entry = m_entries.constBegin(); entry != m_entries.constEnd(); ++entry) {
        for (std::size_t i = 0; i < entry->objects.size(); ++i) {
            if (entry->objects[i] == object) {
                *row = entry.key();
                *which = static_cast<Part>(i);
                return true;
            }
        }
    }
    return false;
}

void Rows::forget() {
    // Each object takes its interface with it.
    for (const Entry& entry : std::as_const(m_entries)) {
        for (QObject* object : entry.objects) delete object;
    }
    m_entries.clear();
}

void Rows::tell(int first, int last) {
    if (!m_model) return;
    // Told after the walk: a listener may ask for more parts, which would change the entries.
    QList<std::pair<QPointer<QObject>, QAccessible::State>> changes;
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        const int row = entry.key();
        if (row < first || row > last || row >= m_model->rowCount()) continue;
        const QModelIndex index = m_model->index(row, 0);
        const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        const Qt::ItemFlags flags = index.flags();
        QAccessible::State changed;
        changed.checked = checked != entry->checked;
        changed.disabled = flags != entry->flags;
        entry->checked = checked;
        entry->flags = flags;
        if (!changed.checked && !changed.disabled) continue;
        // Only parts someone asked for have interfaces to tell about.
        for (QObject* object : {entry->objects[0], entry->objects[1]}) {
            if (object != nullptr) changes.append({object, changed});
        }
    }
    for (const auto& [object, changed] : changes) {
        if (!object) continue;
        QAccessibleStateChangeEvent event(object, changed);
        QAccessible::updateAccessibility(&event);
    }
}

}  // namespace

void makeRowsAccessible(QListView& list, QAbstractItemModel& model, ItemDelegate& delegate) {
    static const bool installed = (QAccessible::installFactory(resultsFactory), true);
    (void)installed;
    list.setProperty(kRowsProperty, QVariant::fromValue<QObject*>(new Rows(list, model, delegate)));
}

}  // namespace quillet::ui
