#pragma once

#include <QWidget>

#include <optional>
#include <string>

#include "app/window/category_list.h"

class QLabel;
class QListView;

namespace quillet {
class StorageModel;
}

namespace quillet::ui {

class Environment;

// The sidebar's content: the brand header, the categories with their counts, and the privacy
// footer with the free space of the home folder's volume.
class Sidebar final : public QWidget {
    Q_OBJECT

public:
    Sidebar(StorageModel& model, Environment* environment, QWidget* parent = nullptr);

    void setCounts(const CategoryModel::Counts& counts);
    // The chosen row's tag ("all" or a kind's raw value), none while nothing is chosen.
    std::optional<std::string> category() const;
    void applyAppearance();

signals:
    void categoryChanged();

private:
    Environment* m_environment;
    CategoryModel* m_categories;
    QListView* m_list = nullptr;
    QLabel* m_icon = nullptr;
};

}  // namespace quillet::ui
