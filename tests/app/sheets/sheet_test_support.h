#pragma once

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QStringList>
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

// Controls a keyboard can reach that a screen reader would announce without a name.
inline QStringList unnamedControls(QWidget& sheet) {
    QStringList unnamed;
    for (QWidget* widget : sheet.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty()) {
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + widget->objectName();
        }
    }
    return unnamed;
}

}  // namespace quillet::ui::testing
