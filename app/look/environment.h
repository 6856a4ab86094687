#pragma once

#include <QObject>

class QApplication;

namespace quillet::ui {

enum class Appearance { light, dark };

// What the views read from the desktop: the appearance and the accessibility settings, and
// whether the window is in front. One per application, created by the shell and handed to every
// view; tests set the values directly. Every setter emits changed() only when the value moved.
class Environment : public QObject {
    Q_OBJECT
public:
    explicit Environment(QObject* parent = nullptr);

    Appearance appearance() const { return m_appearance; }
    bool reduceMotion() const { return m_reduceMotion; }
    bool reduceTransparency() const { return m_reduceTransparency; }
    bool increasedContrast() const { return m_increasedContrast; }
    // Decoration shows its translucent layers only when neither setting asks for a solid look.
    bool solid() const { return m_reduceTransparency || m_increasedContrast; }

    void setAppearance(Appearance appearance);
    void setReduceMotion(bool on);
    void setReduceTransparency(bool on);
    void setIncreasedContrast(bool on);

signals:
    void changed();

private:
    template <typename T>
    void assign(T& member, T value);

    Appearance m_appearance = Appearance::light;
    bool m_reduceMotion = false;
    bool m_reduceTransparency = false;
    bool m_increasedContrast = false;
};

// Keeps `env` current from the desktop: the freedesktop settings portal (colour scheme, GNOME's
// animation and high-contrast settings) where it answers, else gsettings, else the application
// palette's window colour; follows palette and theme changes. Absent services are skipped
// quietly. Also switches `app` to the Fusion style and keeps its palette on the woodland colours.
void followDesktop(Environment& env, QApplication& app);

}  // namespace quillet::ui
