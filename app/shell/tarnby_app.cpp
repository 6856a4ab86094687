#include "app/shell/tarnby_app.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include "app/look/environment.h"

namespace quillet::ui {

namespace {

const QString kAppIcon = QStringLiteral(":/app/quillet.svg");

void describeApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("quillet"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // Ties the window to its desktop entry (Wayland app id, task bar icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quillet.Quillet"));
    app.setWindowIcon(QIcon(kAppIcon));
}

}  // namespace

TarnbyApp::TarnbyApp(QApplication& app, TarnbyAppSetup setup) : m_app(app) {
    describeApplication(app);
    m_environment = std::make_unique<Environment>();
    followDesktop(*m_environment, app);
    m_model = std::make_unique<StorageModel>(std::move(setup.model));
    m_updater = std::make_unique<AppUpdater>(std::move(setup.updater));
    m_window = std::make_unique<ContentView>(*m_model, m_environment.get());
    m_window->setWindowTitle(QStringLiteral("Quillet"));
    m_updater->setDialogParent(m_window.get());
    buildMenu();
    // The sizes are the content's: a menu bar inside the window (not the macOS one) comes on top.
    const QMenuBar* bar = m_window->menuBar();
    const QSize menu(0, bar->isNativeMenuBar() ? 0 : bar->sizeHint().height());
    m_window->setMinimumSize(kMinimumSize + menu);
    m_window->resize(kFirstSize + menu);
}

TarnbyApp::~TarnbyApp() {
    // The window and its dialogs read the model and the updater: they go first.
    m_window.reset();
    m_updater.reset();
    m_model.reset();
}

void TarnbyApp::buildMenu() {
    // On macOS the menu roles move these into the application menu, in this order after
    // the about item; elsewhere they form the "Quillet" menu.
    QMenu* menu = m_window->menuBar()->addMenu(QStringLiteral("Quillet"));
    menu->setObjectName(QStringLiteral("application-menu"));

    QAction* about = menu->addAction(QStringLiteral("About Quillet"), [this] { showAbout(); });
    about->setMenuRole(QAction::AboutRole);

    QAction* check =
        menu->addAction(QStringLiteral("Check for Updates…"), m_updater.get(), &AppUpdater::checkForUpdates);
    check->setObjectName(QStringLiteral("check-for-updates"));
    check->setMenuRole(QAction::ApplicationSpecificRole);
    check->setEnabled(m_updater->canCheck());
    QObject::connect(m_updater.get(), &AppUpdater::canCheckChanged, check, &QAction::setEnabled);

    QAction* credits = menu->addAction(QStringLiteral("Made by the Quillet team"));
    credits->setObjectName(QStringLiteral("credits"));
    credits->setMenuRole(QAction::ApplicationSpecificRole);
    credits->setEnabled(false);

    menu->addSeparator();
    QAction* quit = menu->addAction(QStringLiteral("Quit Quillet"), &m_app, &QApplication::quit);
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void TarnbyApp::showAbout() {
    QMessageBox::about(
        m_window.get(), QStringLiteral("About Quillet"),
        QStringLiteral("<p><b>Quillet</b> %1</p>"
                       "<p>Finds reclaimable developer storage in your home folder and makes a preview "
                       "cleanup plan. It never moves, deletes or erases anything, and your scans stay on "
                       "this computer.</p>")
            .arg(QApplication::applicationVersion().toHtmlEscaped()));
}

void TarnbyApp::show() { m_window->show(); }

int TarnbyApp::exec() {
    show();
    return m_app.exec();
}

}  // namespace quillet::ui
