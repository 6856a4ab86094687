#pragma once

#include <QMainWindow>

#include <functional>

#include "core/browsing/result_browsing.h"
#include "core/records/storage_item.h"

class QDialog;

namespace quillet {
class StorageModel;
}

namespace quillet::ui {

class Environment;
class ResultsArea;
class ResultsModel;
class Sidebar;
class WindowControls;
class WindowFooter;
class WindowHeader;
class WindowToolbar;
class WoodlandMotion;

// The application's one window: the category sidebar beside the detail pane with its
// toolbar, header, controls, results (or the welcome or empty state) and footer. It wires the
// regions to the model, calls its operations and opens the four sheets; the browsing choices
// are its only state.
class ContentView final : public QMainWindow {
    Q_OBJECT

public:
    ContentView(StorageModel& model, Environment* environment, QWidget* parent = nullptr);
    ~ContentView() override;

    const tarnby::browsing::Choices& choices() const;
    ResultsModel& results() { return *m_results; }
    // Whether a sheet of this window is open.
    bool sheetOpen() const { return m_openSheets > 0; }

    // What the toolbar, the buttons and the rows do; public so the shell's menu can reach them.
    void scan();
    void stopScan();
    void openLocations();
    void openReview();
    void openPlan();
    void openDetails(const tarnby::StorageItem& item);

private:
    QWidget* makeDetail();
    void setChoice(const std::function<void(tarnby::browsing::Choices&)>& change);
    void showVisibleItems();
    void showState();
    void showBusy();
    void showSelection();
    void focusSearchAfterWork();
    void applyAppearance();
    void openSheet(QDialog* sheet, std::function<void()> closed = {});

    StorageModel& m_model;
    Environment* m_environment;
    ResultsModel* m_results = nullptr;
    int m_openSheets = 0;

    Sidebar* m_sidebar = nullptr;
    WoodlandMotion* m_motion = nullptr;
    WindowToolbar* m_toolbar = nullptr;
    WindowHeader* m_header = nullptr;
    WindowControls* m_controls = nullptr;
    ResultsArea* m_resultsArea = nullptr;
    WindowFooter* m_footer = nullptr;
};

}  // namespace quillet::ui
