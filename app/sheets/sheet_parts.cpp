#include "app/sheets/sheet_parts.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "app/look/check_box.h"
#include "app/look/decoration.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "core/browsing/result_browsing.h"

namespace quillet::ui {
namespace {
constexpr int kScrollBarGap = 10;

class ReturnPresses final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        auto* button = static_cast<QAbstractButton*>(watched);
        if (button->isEnabled() && !key->isAutoRepeat()) button->click();
        return true;
    }
};
}  // namespace

QLabel* makeText(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void makeSelectable(QLabel& label) {
    label.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label.setCursor(Qt::IBeamCursor);
}

void setForeground(QWidget& widget, const AdaptiveColor& color, Environment& env) {
    auto apply = [target = &widget, color, source = &env] {
        QPalette palette = target->palette();
        const QColor resolved = color.resolve(*source);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::WindowText, resolved);
            palette.setColor(group, QPalette::Text, resolved);
            palette.setColor(group, QPalette::ButtonText, resolved);
        }
        target->setPalette(palette);
    };
    apply();
    QObject::connect(&env, &Environment::changed, &widget, apply);
}

void answerReturn(QAbstractButton& button) { button.installEventFilter(new ReturnPresses(&button)); }

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    // Not auto-default: Qt would make the first such button of a sheet its default, and Return
    // would press it where the sheet has no default of its own.
    button->setAutoDefault(false);
    answerReturn(*button);
    return button;
}

QLabel* makeNotice(Environment& env) {
    QLabel* notice = makeText(QString(), font(TextStyle::caption));
    notice->setObjectName(QStringLiteral("notice"));
    setForeground(*notice, Woodland::muted(), env);
    notice->hide();
    return notice;
}

void say(QLabel& notice, const QString& text) {
    notice.setText(text);
    notice.show();
    fitHeightToContent(*notice.window());
}

QPushButton* makeProminentButton(const QString& text, Environment& env, QWidget* parent) {
    QPushButton* button = makeButton(text, parent);
    auto apply = [button, source = &env] {
        QPalette palette = button->palette();
        const QColor fill = Woodland::actionFill().resolve(*source);
        // Light text on the light look's deep green, ink on the dark look's softer one.
        const QColor label = woodlandPalette(*source).color(QPalette::BrightText);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Button, fill);
            palette.setColor(group, QPalette::ButtonText, label);
        }
        button->setPalette(palette);
    };
    apply();
    QObject::connect(&env, &Environment::changed, button, apply);
    return button;
}

SymbolLabel::SymbolLabel(std::string_view symbolName, const QString& text, const QFont& font,
                         const AdaptiveColor& color, Environment& env, QWidget* parent)
    : QWidget(parent),
      m_symbolName(symbolName),
      m_color(color),
      m_env(env),
      m_icon(new QLabel(this)),
      m_text(makeText(text, font, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(QFontMetrics(font).height() / 3);
    makeDecoration(*m_icon);
    m_icon->setFixedSize(QFontMetrics(font).height(), QFontMetrics(font).height());
    m_icon->setAlignment(Qt::AlignCenter);
    row->addWidget(m_icon, 0, Qt::AlignTop);
    row->addWidget(m_text, 1);
    setForeground(*m_text, color, env);
    paintSymbol();
    connect(&m_env, &Environment::changed, this, &SymbolLabel::paintSymbol);
}

void SymbolLabel::paintSymbol() {
    // The glyph is a little smaller than the line, as a symbol beside text is.
    const int pixels = qRound(m_text->font().pixelSize() > 0 ? m_text->font().pixelSize() * 1.05
                                                             : QFontMetrics(m_text->font()).ascent());
    m_icon->setPixmap(symbol(m_symbolName, m_color.resolve(m_env), pixels, devicePixelRatioF()));
}

BoundedScrollArea::BoundedScrollArea(int maximumHeight, int spacing, QWidget* parent)
    : QScrollArea(parent), m_maximumHeight(maximumHeight) {
    auto* body = new QWidget;
    m_content = new QVBoxLayout(body);
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(spacing);
    setWidget(body);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    body->setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // Keep trailing texts clear of the scroll bar while it shows.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this,
            [this](int, int maximum) { m_content->setContentsMargins(0, 0, maximum > 0 ? kScrollBarGap : 0, 0); });
}

int BoundedScrollArea::heightForWidth(int width) const {
    const QWidget* body = widget();
    const int inner = width - 2 * frameWidth();
    const int needed = body->hasHeightForWidth() ? body->heightForWidth(inner) : body->sizeHint().height();
    return std::min(std::max(needed, 0), m_maximumHeight) + 2 * frameWidth();
}

QSize BoundedScrollArea::sizeHint() const {
    const int width = QScrollArea::sizeHint().width();
    return {width, heightForWidth(width)};
}

QSize BoundedScrollArea::minimumSizeHint() const { return {0, 0}; }

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), m_full(text) {
    setTextFormat(Qt::PlainText);
    setAccessibleName(text);
    setToolTip(text);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setText(text);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(m_full), QLabel::sizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideMiddle, contentsRect().width());
    if (shown != text()) {
        setText(shown);
    }
}

WrappingCheckBox::WrappingCheckBox(const QString& text, const QFont& font, const AdaptiveColor& tint, Environment& env,
                                   QWidget* parent)
    : QWidget(parent), m_box(new CheckBox(&env, tint, this)), m_label(new QLabel(this)) {
    // Marked before it has any text: an accessibility interface made for it earlier (when the
    // text is set while accessibility is on) would be kept, and it would be read after all.
    makeDecoration(*m_label);
    m_label->setFont(font);
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setText(text);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    // The box speaks for the pair, so screen readers do not read the text twice; clicks on the
    // text reach this widget.
    m_box->setAccessibleName(text);
    row->addWidget(m_box, 0, Qt::AlignTop);
    row->addWidget(m_label, 1);
    setFocusProxy(m_box);
}

void WrappingCheckBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_label->geometry().contains(event->position().toPoint()) &&
        m_box->isEnabled()) {
        m_box->click();
        m_box->setFocus(Qt::MouseFocusReason);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

QLabel* makeFreedLine(const tarnby::FreedSpace& freed, std::int64_t onDisk, std::string_view what) {
    const std::optional<std::string> line = tarnby::browsing::freedLine(freed, onDisk, what);
    if (!line) return nullptr;
    QLabel* label = makeText(QString::fromStdString(*line), font(TextStyle::callout));
    label->setObjectName(QStringLiteral("freed-line"));
    return label;
}

void fitHeightToContent(QWidget& sheet) {
    QLayout* layout = sheet.layout();
    if (layout == nullptr) {
        return;
    }
    layout->activate();
    const int width = sheet.width();
    const int height =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    sheet.setFixedHeight(height);
}

}  // namespace quillet::ui
