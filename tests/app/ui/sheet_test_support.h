#pragma once

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>

// What the sheet tests share: opening a sheet as the window does and pressing keys where a
// user's key press would land.
namespace quillet::ui::testing {

// Shows the sheet window-modal, as the window opens it, and waits until it is on screen.
inline bool openSheet(QDialog& sheet) {
    sheet.open();
    return QTest::qWaitForWindowExposed(&sheet);
}

// A key press goes to the focused control first and reaches the sheet when that ignores it.
inline void press(QDialog& sheet, Qt::Key key) {
    QWidget* target = sheet.focusWidget() != nullptr ? sheet.focusWidget() : &sheet;
    QTest::keyClick(target, key);
}

// True when `widget` is shown and lies wholly inside the sheet's visible area.
inline bool visibleInside(const QWidget& widget, const QWidget& sheet) {
    if (!widget.isVisible()) {
        return false;
    }
    const QRect area(widget.mapTo(&sheet, QPoint(0, 0)), widget.size());
    return sheet.rect().contains(area);
}

}  // namespace quillet::ui::testing
