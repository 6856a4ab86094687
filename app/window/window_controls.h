#pragma once

#include <QWidget>

#include <functional>

#include "core/browsing/result_browsing.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace quillet::ui {

class Environment;

// The bar above the results: the search field, the sort and age choices and "Select visible".
class WindowControls final : public QWidget {
    Q_OBJECT

public:
    explicit WindowControls(QWidget* parent = nullptr);

    void setSelectVisibleEnabled(bool enabled);
    void focusSearch();

signals:
    // A control changed the browsing choices; `change` applies it.
    void choiceChanged(const std::function<void(tarnby::browsing::Choices&)>& change);
    void selectVisibleRequested();

private:
    QLineEdit* m_search;
    QComboBox* m_order;
    QComboBox* m_age;
    QPushButton* m_selectVisible;
};

}  // namespace quillet::ui
