#pragma once

class QAbstractItemModel;
class QListView;

namespace quillet::ui {

class ItemDelegate;

// Lets assistive technology read and operate the results list, whose rows the delegate paints:
// each row is a list item named by its title, with two children, the checkbox "Select <title>"
// (checkable, with its checked state) and the button "Details for <title>". Their object names
// are the item's path, "select-" + path and "details-" + path. Call before the list is given
// its model or an accessible name, either of which would make Qt's own interface for it.
void makeRowsAccessible(QListView& list, QAbstractItemModel& model, ItemDelegate& delegate);

}  // namespace quillet::ui
