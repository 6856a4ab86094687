#pragma once

#include <QFutureWatcher>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/look/woodland_panel.h"
#include "app/model/storage_model.h"

class QPushButton;
class QVBoxLayout;

namespace quillet::ui {

// Edits the project folders a scan walks. Works on a draft, refilled from the model's roots
// each time the sheet is shown; only "Save locations" writes the roots, only "Show all kept
// items" changes the kept set, and Cancel or Escape drop the draft.
class LocationsSheet final : public WoodlandPanel {
    Q_OBJECT
public:
    static constexpr int kWidth = 570;
    static constexpr int kListHeight = 180;

    // The folders the user chose, in the chooser's order, or nothing when cancelled.
    using FolderChooser =
        std::function<std::optional<std::vector<std::string>>(QWidget* parent, const std::string& home)>;
    // Suggested project folders of a home folder; reads the disk, so runs off the main thread.
    using Suggester = std::function<std::vector<std::string>(const std::string& home)>;

    LocationsSheet(StorageModel& model, Environment* env, QWidget* parent = nullptr);

    void setFolderChooser(FolderChooser chooser) { m_chooser = std::move(chooser); }
    void setSuggester(Suggester suggester) { m_suggester = std::move(suggester); }

    std::vector<std::string> draft() const { return m_draft; }

    // `draft` with `suggestions` added, each path once, in plain ascending order of the path text.
    static std::vector<std::string> merged(std::vector<std::string> draft, const std::vector<std::string>& suggestions);
    // The chooser's folders as they are added: symbolic links resolved where the path resolves.
    static std::vector<std::string> resolved(const std::vector<std::string>& chosen);
    // The default chooser: a directory dialog that takes several folders at once.
    static std::optional<std::vector<std::string>> chooseFolders(QWidget* parent, const std::string& home);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setDraft(std::vector<std::string> draft);
    void showRows(int focusPosition);
    void removeRoot(std::size_t position);
    void findProjectLocations();
    void addFolders();
    void save();
    void updateKeptButton();
    void orderTabs();

    StorageModel& m_model;
    std::vector<std::string> m_draft;
    FolderChooser m_chooser;
    Suggester m_suggester;
    // Bumped each time the sheet is shown, so suggestions asked for an earlier draft are dropped.
    int m_generation = 0;
    int m_findingGeneration = 0;  // the opening the running search was asked for
    QFutureWatcher<std::vector<std::string>> m_finding;

    QVBoxLayout* m_rows = nullptr;
    QPushButton* m_find = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_showKept = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_save = nullptr;
};

}  // namespace quillet::ui
