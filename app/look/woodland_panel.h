#pragma once

#include <QDialog>

#include "app/look/environment.h"

class QVBoxLayout;

namespace quillet::ui {

// The shared styling of every sheet: a window-modal dialog of fixed width with ink text, the
// accent as its tint, and the panel surface of the woodland background behind its content.
// Sheets put their rows into content() with their own margins and spacing.
class WoodlandPanel : public QDialog {
    Q_OBJECT
public:
    WoodlandPanel(Environment* env, int width, QWidget* parent = nullptr);

    QVBoxLayout* content() const { return m_content; }
    Environment* environment() const { return m_env; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Each opening hands the keyboard to the default button, if the sheet has one.
    void showEvent(QShowEvent* event) override;
    // Called after the appearance changed and the palette was renewed; sheets re-tint icons here.
    virtual void appearanceChanged() {}

private:
    void applyPalette();

    Environment* m_env;
    QVBoxLayout* m_content;
};

}  // namespace quillet::ui
