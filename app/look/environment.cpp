#include "app/look/environment.h"

namespace quillet::ui {

Environment::Environment(QObject* parent) : QObject(parent) {}

template <typename T>
void Environment::assign(T& member, T value) {
    if (member == value) return;
    member = value;
    emit changed();
}

void Environment::setAppearance(Appearance appearance) { assign(m_appearance, appearance); }
void Environment::setReduceMotion(bool on) { assign(m_reduceMotion, on); }
void Environment::setReduceTransparency(bool on) { assign(m_reduceTransparency, on); }
void Environment::setIncreasedContrast(bool on) { assign(m_increasedContrast, on); }

}  // namespace quillet::ui
