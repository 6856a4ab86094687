// The macOS side of following the desktop: the system appearance and the workspace's
// accessibility display options. Built only on macOS.
#include "app/look/desktop_settings.h"

#import <AppKit/AppKit.h>

#include <QApplication>
#include <QEvent>

namespace quillet::ui {

namespace {
void readMacSettings(Environment& env) {
    NSWorkspace* workspace = NSWorkspace.sharedWorkspace;
    env.setReduceMotion(workspace.accessibilityDisplayShouldReduceMotion);
    env.setReduceTransparency(workspace.accessibilityDisplayShouldReduceTransparency);
    env.setIncreasedContrast(workspace.accessibilityDisplayShouldIncreaseContrast);
    NSAppearanceName best = [NSApp.effectiveAppearance
        bestMatchFromAppearancesWithNames:@[ NSAppearanceNameAqua, NSAppearanceNameDarkAqua ]];
    env.setAppearance([best isEqualToString:NSAppearanceNameDarkAqua] ? Appearance::dark : Appearance::light);
}

// Qt reports a change of the system appearance as a theme change of every window.
class ThemeWatcher : public QObject {
public:
    ThemeWatcher(Environment& env, QObject* parent) : QObject(parent), m_env(env) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ThemeChange) readMacSettings(m_env);
        return QObject::eventFilter(watched, event);
    }

private:
    Environment& m_env;
};
}  // namespace

void followMacDesktop(Environment& env, QApplication& app) {
    readMacSettings(env);
    app.installEventFilter(new ThemeWatcher(env, &app));
    Environment* target = &env;
    [NSWorkspace.sharedWorkspace.notificationCenter
        addObserverForName:NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification
                    object:nil
                     queue:NSOperationQueue.mainQueue
                usingBlock:^(NSNotification*) {
                  readMacSettings(*target);
                }];
}

}  // namespace quillet::ui
