#pragma once

#include <memory>

#include "app/model/storage_model.h"
#include "app/shell/app_updater.h"
#include "app/window/content_view.h"

class QAction;
class QApplication;

namespace quillet::ui {

class Environment;

// What the shell is built from; the defaults are the real machine and the application's own
// information property list. Tests hand in a fixture home and their own property list.
struct TarnbyAppSetup {
    StorageModelSetup model;
    AppUpdaterSetup updater;
};

// The application: one model, one update checker and one window for the life of the process,
// plus the application menu ("About Quillet", "Check for Updates…", the credits line, Quit).
// There is no command that opens a second window. Main thread only.
class TarnbyApp {
public:
    // Names the application (name, version, desktop entry, icon) and builds the window,
    // which follows the desktop's light or dark appearance; shows nothing yet.
    explicit TarnbyApp(QApplication& app, TarnbyAppSetup setup = {});
    ~TarnbyApp();
    TarnbyApp(const TarnbyApp&) = delete;
    TarnbyApp& operator=(const TarnbyApp&) = delete;

    // Shows the window at its first size.
    void show();
    // show(), then runs the event loop until the application quits.
    int exec();

    StorageModel& model() { return *m_model; }
    AppUpdater& updater() { return *m_updater; }
    ContentView& window() { return *m_window; }
    Environment& environment() { return *m_environment; }

    // The window's content, below its menu bar.
    static constexpr QSize kMinimumSize{960, 660};
    static constexpr QSize kFirstSize{1100, 760};

private:
    void buildMenu();
    void showAbout();

    QApplication& m_app;
    std::unique_ptr<Environment> m_environment;
    std::unique_ptr<StorageModel> m_model;
    std::unique_ptr<AppUpdater> m_updater;
    std::unique_ptr<ContentView> m_window;
};

}  // namespace quillet::ui
