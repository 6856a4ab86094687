#pragma once

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <string>
#include <string_view>

#include "app/look/environment.h"
#include "app/look/palette.h"
#include "core/records/freed_space.h"

class QAbstractButton;
class QCheckBox;
class QVBoxLayout;

// Pieces the four sheets share: texts in a type role and colour, buttons, a symbol beside a
// text, a scroll area that grows to a limit, a middle-truncated line and a wrapping checkbox.
// Colours follow the environment's appearance while the widget lives.
namespace quillet::ui {

inline QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Word-wrapped text in `font`.
QLabel* makeText(const QString& text, const QFont& font, QWidget* parent = nullptr);
// Lets the user select and copy the text with the mouse or the keyboard.
void makeSelectable(QLabel& label);
// Draws the widget's text (and a checkbox's mark) in `color`, now and after every change of
// the appearance.
void setForeground(QWidget& widget, const AdaptiveColor& color, Environment& env);

// Return and Enter press `button` while it has the keyboard, as Space does.
void answerReturn(QAbstractButton& button);
// A push button that answers Return while it has the keyboard; elsewhere in a sheet Return
// goes to the sheet's default button, if it has one.
QPushButton* makeButton(const QString& text, QWidget* parent = nullptr);
// The prominent action button, filled with the action colour.
QPushButton* makeProminentButton(const QString& text, Environment& env, QWidget* parent = nullptr);

// A short caption that says what just happened ("Copied …"), hidden until there is something
// to say; plain text.
QLabel* makeNotice(Environment& env);
// Shows `text` in a sheet's notice, and grows the sheet to fit it.
void say(QLabel& notice, const QString& text);

// A symbol drawn in front of a text, as a label with an icon: screen readers read the text.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(std::string_view symbolName, const QString& text, const QFont& font, const AdaptiveColor& color,
                Environment& env, QWidget* parent = nullptr);
    QLabel* text() const { return m_text; }

private:
    void paintSymbol();

    std::string m_symbolName;
    AdaptiveColor m_color;
    Environment& m_env;
    QLabel* m_icon;
    QLabel* m_text;
};

// Grows with its content up to `maximumHeight`, then scrolls; transparent, without a frame.
// The content widget's layout is content().
class BoundedScrollArea : public QScrollArea {
    Q_OBJECT
public:
    BoundedScrollArea(int maximumHeight, int spacing, QWidget* parent = nullptr);
    QVBoxLayout* content() const { return m_content; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    int m_maximumHeight;
    QVBoxLayout* m_content;
};

// One line of text truncated in the middle to the width it gets; the full text stays its
// accessible name and tool tip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    QString fullText() const { return m_full; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString m_full;
};

// A checkbox whose text wraps over several lines; clicking the text toggles it too. The box
// carries the text as its accessible name.
class WrappingCheckBox : public QWidget {
    Q_OBJECT
public:
    WrappingCheckBox(const QString& text, const QFont& font, const AdaptiveColor& tint, Environment& env,
                     QWidget* parent = nullptr);
    QCheckBox* box() const { return m_box; }
    QLabel* label() const { return m_label; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QCheckBox* m_box;
    QLabel* m_label;
};

// What cleaning a set frees where that is less than its size on disk (callout, ink), or null.
QLabel* makeFreedLine(const tarnby::FreedSpace& freed, std::int64_t onDisk, std::string_view what);

// Sizes a fixed-width sheet to the height its content needs at that width; call again after
// rows appear or disappear.
void fitHeightToContent(QWidget& sheet);

}  // namespace quillet::ui
