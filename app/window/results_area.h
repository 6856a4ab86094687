#pragma once

#include <QWidget>

#include "core/records/storage_item.h"

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace quillet {
class StorageModel;
}

namespace quillet::ui {

class Environment;
class ItemDelegate;
class ResultsModel;

// The results region: the progress bar while the model works, above exactly one of the
// welcome state, the list of rows and the empty state.
class ResultsArea final : public QWidget {
    Q_OBJECT

public:
    ResultsArea(StorageModel& model, ResultsModel& results, Environment* environment, QWidget* parent = nullptr);

    // Picks the page for the model's state and fills the empty state's texts.
    void showState();
    void showBusy();
    void showRoots();
    void applyAppearance();

signals:
    void scanRequested();
    void locationsRequested();
    void detailsRequested(const tarnby::StorageItem& item);
    // No file manager could be asked to show the item the menu was opened on.
    void revealFailed();

private:
    QWidget* makeWelcome();
    QWidget* makeEmpty();
    void requestDetails(int row);
    void showContextMenu(const QPoint& position);

    StorageModel& m_model;
    ResultsModel& m_results;
    Environment* m_environment;
    QProgressBar* m_progress = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_welcomePage = nullptr;  // the welcome and empty states, each in a scroll area
    QWidget* m_emptyPage = nullptr;
    QListView* m_list = nullptr;
    ItemDelegate* m_delegate = nullptr;
    QLabel* m_welcomeSymbol = nullptr;
    QLabel* m_suggested = nullptr;
    QLabel* m_emptySymbol = nullptr;
    QLabel* m_emptyTitle = nullptr;
    QLabel* m_emptyMessage = nullptr;
    QPushButton* m_showKept = nullptr;
};

}  // namespace quillet::ui
