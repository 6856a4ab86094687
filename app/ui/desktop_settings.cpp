#include "app/ui/environment.h"

#include <QApplication>
#include <QStyleFactory>

#include "app/ui/palette.h"

namespace quillet::ui {

void followDesktop(Environment& env, QApplication& app) {
  // Decide from the palette the desktop gave before it is replaced by the woodland one.
  const QColor window = app.palette().color(QPalette::Window);
  env.setAppearance(window.lightnessF() < 0.5 ? Appearance::dark : Appearance::light);
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  app.setPalette(woodlandPalette(env));
  QObject::connect(&env, &Environment::changed, &app,
                   [&env, &app] { app.setPalette(woodlandPalette(env)); });
}

}  // namespace quillet::ui
