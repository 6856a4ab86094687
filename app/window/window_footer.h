#pragma once

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;

namespace quillet::ui {

class BoundedScrollArea;
class Environment;

// The pane's footer: the scan notes behind a disclosure, the status line with "View plan", and
// the selection bar while something is selected.
class WindowFooter final : public QWidget {
    Q_OBJECT

public:
    explicit WindowFooter(Environment* environment, QWidget* parent = nullptr);

    // A new status also takes away the last notice.
    void setStatus(const QString& status);
    // A short line under the status about something the window just tried.
    void showNotice(const QString& notice);
    void showNotes(const std::vector<std::string>& notes);
    // `count` paths selected, `bytes` their total; none selected hides the bar.
    void showSelection(std::size_t count, std::int64_t bytes);
    void showPlanButton(bool planPresent);
    void setBusy(bool busy);

signals:
    void viewPlanRequested();
    void reviewRequested();
    void clearSelectionRequested();

private:
    Environment* m_environment;
    QToolButton* m_notesToggle = nullptr;
    BoundedScrollArea* m_notesArea = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_notice = nullptr;
    QPushButton* m_viewPlan = nullptr;
    QWidget* m_selectionBar = nullptr;
    QLabel* m_selectionLine = nullptr;
    QPushButton* m_review = nullptr;
};

}  // namespace quillet::ui
