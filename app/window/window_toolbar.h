#pragma once

#include "app/window/window_parts.h"

class QAction;

namespace quillet::ui {

// The detail pane's title bar: "Developer storage" and the toolbar's three actions, of which
// "Stop scan" and "Scan" take turns.
class WindowToolbar final : public Wash {
    Q_OBJECT

public:
    explicit WindowToolbar(Environment* environment, QWidget* parent = nullptr);

    void setBusy(bool busy, bool scanning);
    void applyAppearance();

signals:
    void locationsRequested();
    void stopRequested();
    void scanRequested();

private:
    QAction* m_locations;
    QAction* m_stop;
    QAction* m_scan;
};

}  // namespace quillet::ui
