#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <string_view>

#include "app/look/palette.h"
#include "app/sheets/sheet_parts.h"

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QVBoxLayout;

// Pieces the window's regions share: the pane's margin, texts in a colour that follows the
// appearance, washes of colour behind a block, and the ways blocks are stacked and centred.
namespace quillet::ui {

class Environment;

constexpr int kPaneMargin = 24;  // left and right of every block of the detail pane

// A size outside the type roles, grown with the desktop's font as the roles are.
QFont fontAt(qreal points, QFont::Weight weight);

// A label whose text colour follows the appearance; wrapped: centred lines `width` wide.
QLabel* makeLabel(const QString& text, const QFont& font, const AdaptiveColor& colour, Environment& environment);
QLabel* makeWrapped(const QString& text, const QFont& font, const AdaptiveColor& colour, int width,
                    Environment& environment);

// A colour wash behind a block of the pane, optionally with rounded corners.
class Wash : public QWidget {
public:
    Wash(Environment* environment, AdaptiveColor colour, qreal opacity, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
    Environment* environment() const { return m_environment; }

private:
    Environment* m_environment;
    AdaptiveColor m_colour;
    qreal m_opacity;
    qreal m_radius;
};

// Blocks stacked edge to edge; each block brings its own margins.
QVBoxLayout* flushColumn(QWidget* owner);

// Centres a fixed-width wrapped text. A layout alignment would size it by its one-line hint
// and cut the lines that do not fit; a row of stretches keeps its height for that width.
QHBoxLayout* centred(QWidget* widget);

// Lets a centred page shrink below its height in a small window, scrolling instead of pushing the
// window's minimum size up. Transparent, so the background shows through.
QScrollArea* scrollable(QWidget* page);

// Puts `content` over decorative layers, all filling the same area; the layers are stacked in
// the order given, the first at the bottom.
QWidget* layered(std::initializer_list<QWidget*> layers, QWidget* content);

}  // namespace quillet::ui
