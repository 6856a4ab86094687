#pragma once

#include <QFont>

namespace quillet::ui {

enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, caption };

// The desktop's font at the role's size; headline is semibold unless a weight is given.
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
// Tabular figures where the font has them, so columns of numbers line up.
QFont monospacedDigits(QFont base);
// The desktop's fixed-pitch font at the role's size.
QFont monospaced(TextStyle style);
// Point size of a role, relative to a 13-point body.
qreal pointSize(TextStyle style);

}  // namespace quillet::ui
