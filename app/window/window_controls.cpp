#include "app/window/window_controls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "app/window/window_parts.h"

namespace quillet::ui {

namespace {
constexpr int kSpacing = 10;
constexpr int kMargin = 14;  // above and below
constexpr int kSortWidth = 130;
constexpr int kAgeWidth = 165;
using tarnby::browsing::Choices;
}  // namespace

WindowControls::WindowControls(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPaneMargin, kMargin, kPaneMargin, kMargin);
    row->setSpacing(kSpacing);

    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Filter by project or path"));
    m_search->setAccessibleName(QStringLiteral("Filter by project or path"));
    m_search->setClearButtonEnabled(true);
    // The toolkit's clear button is otherwise an unnamed button to a screen reader.
    for (QToolButton* clear : m_search->findChildren<QToolButton*>()) {
        clear->setAccessibleName(QStringLiteral("Clear search"));
    }
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        emit choiceChanged([query = text.toStdString()](Choices& c) { c.query = query; });
    });
    row->addWidget(m_search, 1);

    m_order = new QComboBox;
    m_order->setObjectName(QStringLiteral("sort"));
    m_order->setAccessibleName(QStringLiteral("Sort"));
    m_order->setFixedWidth(kSortWidth);
    for (const auto& option : tarnby::browsing::kOrderOptions) m_order->addItem(qt(option.label), qt(option.value));
    connect(m_order, &QComboBox::currentIndexChanged, this, [this] {
        emit choiceChanged([order = m_order->currentData().toString().toStdString()](Choices& c) { c.order = order; });
    });
    row->addWidget(m_order);

    m_age = new QComboBox;
    m_age->setObjectName(QStringLiteral("age"));
    m_age->setAccessibleName(QStringLiteral("Age"));
    m_age->setFixedWidth(kAgeWidth);
    for (const auto& option : tarnby::browsing::kAgeOptions) m_age->addItem(qt(option.label), option.value);
    connect(m_age, &QComboBox::currentIndexChanged, this,
            [this] { emit choiceChanged([age = m_age->currentData().toInt()](Choices& c) { c.age = age; }); });
    row->addWidget(m_age);

    m_selectVisible = makeButton(QStringLiteral("Select visible"));
    m_selectVisible->setObjectName(QStringLiteral("select-visible"));
    connect(m_selectVisible, &QPushButton::clicked, this, &WindowControls::selectVisibleRequested);
    row->addWidget(m_selectVisible);
}

void WindowControls::setSelectVisibleEnabled(bool enabled) { m_selectVisible->setEnabled(enabled); }

void WindowControls::focusSearch() { m_search->setFocus(Qt::OtherFocusReason); }

}  // namespace quillet::ui
