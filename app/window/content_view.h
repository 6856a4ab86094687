#pragma once

#include <QMainWindow>

#include <functional>

#include "app/look/palette.h"
#include "core/browsing/result_browsing.h"
#include "core/records/storage_item.h"

class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace quillet {
class StorageModel;
}

namespace quillet::ui {

class BoundedScrollArea;
class CategoryModel;
class Environment;
class ItemDelegate;
class ResultsModel;
class StorageBar;
class WoodlandMotion;

// The application's one window: the category sidebar beside the detail pane with its
// header, controls, results (or the welcome or empty state) and footer. It reads the model,
// calls its operations and opens the four sheets; the browsing choices are its only state.
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
    QWidget* makeSidebar();
    QWidget* makeDetail();
    QWidget* makeToolbar();
    QWidget* makeHeader();
    QWidget* makeControls();
    QWidget* makeResults();
    QWidget* makeWelcome();
    QWidget* makeEmpty();
    QWidget* makeFooter();

    // A label whose text colour follows the appearance; wrapped: centred lines `width` wide.
    QLabel* makeLabel(const QString& text, const QFont& font, const AdaptiveColor& colour);
    QLabel* makeWrapped(const QString& text, const QFont& font, const AdaptiveColor& colour, int width);
    QVBoxLayout* makeStatePage(QWidget* page, const QString& name);

    void setChoice(const std::function<void(tarnby::browsing::Choices&)>& change);
    void showCategory(const QModelIndex& current);
    void showVisibleItems();
    void showRoots();
    void showState();
    void showBusy();
    void showNotes();
    void showSelection();
    void showPlanButton();
    void showContextMenu(const QPoint& position);
    void focusSearchAfterWork();
    void applyAppearance();
    void openSheet(QDialog* sheet, std::function<void()> closed = {});

    StorageModel& m_model;
    Environment* m_environment;
    ResultsModel* m_results = nullptr;
    CategoryModel* m_categories = nullptr;
    int m_openSheets = 0;

    QListView* m_categoryList = nullptr;
    QLabel* m_freeSpace = nullptr;
    WoodlandMotion* m_motion = nullptr;
    QAction* m_locationsAction = nullptr;
    QAction* m_stopAction = nullptr;
    QAction* m_scanAction = nullptr;
    QLabel* m_total = nullptr;
    QLabel* m_headerLine = nullptr;
    StorageBar* m_bar = nullptr;
    QLineEdit* m_search = nullptr;
    QComboBox* m_order = nullptr;
    QComboBox* m_age = nullptr;
    QPushButton* m_selectVisible = nullptr;
    QProgressBar* m_progress = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_welcomePage = nullptr;  // the welcome and empty states, each in a scroll area
    QWidget* m_emptyPage = nullptr;
    QLabel* m_suggested = nullptr;
    QListView* m_list = nullptr;
    ItemDelegate* m_delegate = nullptr;
    QLabel* m_emptyTitle = nullptr;
    QLabel* m_emptyMessage = nullptr;
    QPushButton* m_showKept = nullptr;
    QToolButton* m_notesToggle = nullptr;
    BoundedScrollArea* m_notesArea = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_viewPlan = nullptr;
    QWidget* m_selectionBar = nullptr;
    QLabel* m_selectionLine = nullptr;
    QPushButton* m_review = nullptr;
};

}  // namespace quillet::ui
