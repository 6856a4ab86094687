#include "app/ui/environment.h"

namespace quillet::ui {

Environment::Environment(QObject* parent) : QObject(parent) {}

void Environment::setAppearance(Appearance appearance) {
  if (m_appearance == appearance) return;
  m_appearance = appearance;
  emit changed();
}

void Environment::setReduceMotion(bool on) {
  if (m_reduceMotion == on) return;
  m_reduceMotion = on;
  emit changed();
}

void Environment::setReduceTransparency(bool on) {
  if (m_reduceTransparency == on) return;
  m_reduceTransparency = on;
  emit changed();
}

void Environment::setIncreasedContrast(bool on) {
  if (m_increasedContrast == on) return;
  m_increasedContrast = on;
  emit changed();
}

}  // namespace quillet::ui
