#include "app/window/window_toolbar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <utility>

#include "app/look/environment.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/sheets/sheet_parts.h"

namespace quillet::ui {

namespace {
constexpr int kMargin = 8;  // above and below the buttons
constexpr int kSpacing = 6;
constexpr int kButtonPadding = 4;
}  // namespace

WindowToolbar::WindowToolbar(Environment* environment, QWidget* parent)
    : Wash(environment, Woodland::main(), 1.0, 0, parent),
      m_locations(new QAction(QStringLiteral("Scan locations"), this)),
      m_stop(new QAction(QStringLiteral("Stop scan"), this)),
      m_scan(new QAction(QStringLiteral("Scan"), this)) {
    setObjectName(QStringLiteral("toolbar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPaneMargin, kMargin, kPaneMargin - kButtonPadding, kMargin);
    row->setSpacing(kSpacing);
    row->addWidget(
        makeLabel(QStringLiteral("Developer storage"), ui::font(TextStyle::headline), Woodland::ink(), *environment),
        1);

    connect(m_locations, &QAction::triggered, this, &WindowToolbar::locationsRequested);
    connect(m_stop, &QAction::triggered, this, &WindowToolbar::stopRequested);
    connect(m_scan, &QAction::triggered, this, &WindowToolbar::scanRequested);
    // Command-R on macOS, Ctrl+R elsewhere: Qt maps CTRL to the Command key there. A hidden or
    // disabled action ignores its shortcut, so the key does nothing while a scan or plan runs.
    m_scan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_scan->setToolTip(QStringLiteral("Scan (%1)").arg(m_scan->shortcut().toString(QKeySequence::NativeText)));
    const std::pair<QAction*, QString> names[] = {
        {m_locations, QStringLiteral("locations")},
        {m_stop, QStringLiteral("stop-scan")},
        {m_scan, QStringLiteral("scan")},
    };
    for (const auto& [action, name] : names) {
        action->setObjectName(name);
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        answerReturn(*button);
        setForeground(*button, Woodland::ink(), *environment);
        // A tool button outside a QToolBar does not follow its action's visibility by itself.
        connect(action, &QAction::changed, button, [button, action] { button->setVisible(action->isVisible()); });
        row->addWidget(button);
    }
}

void WindowToolbar::setBusy(bool busy, bool scanning) {
    m_locations->setEnabled(!busy);
    m_stop->setVisible(scanning);
    m_scan->setVisible(!scanning);
    m_scan->setEnabled(!busy);
}

void WindowToolbar::applyAppearance() {
    const QColor ink = Woodland::ink().resolve(environment()->appearance());
    m_locations->setIcon(symbolIcon("folder.badge.gearshape", ink));
    m_scan->setIcon(symbolIcon("arrow.clockwise", ink));
}

}  // namespace quillet::ui
