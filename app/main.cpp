// `quillet`: without arguments the window, with any argument the command line. The command
// line never creates a GUI application object, so it runs where there is no display.
#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/shell/tarnby_app.h"
#include "cli/commands.h"
#include "cli/process_setup.h"

namespace {

constexpr int kNoDisplay = quillet::cli::kUsage;

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool mayHaveDisplay() {
#if defined(__APPLE__)
    return true;
#else
    // An explicit platform (offscreen, vnc…) is the user's choice; otherwise the window needs
    // an X11 or Wayland display.
    return isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
#endif
}

void sayNoWindow(const QString& reason) {
    std::fprintf(stderr,
                 "quillet: cannot open the window: %s. The command line works without one: see \"quillet help\".\n",
                 reason.toLocal8Bit().constData());
}

// While the toolkit starts, its messages are held back: a display that is set but cannot be
// reached makes it print a few lines and abort, which becomes our one line and status 2.
QStringList g_startupMessages;

void startupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        sayNoWindow(g_startupMessages.isEmpty() ? message.section(QLatin1Char('\n'), 0, 0) : g_startupMessages.first());
        std::fflush(stderr);
        std::_Exit(kNoDisplay);
    }
    g_startupMessages.append(message);
}

}  // namespace

int main(int argc, char** argv) {
    quillet::cli::prepareProcess();
    if (argc > 1) {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        return quillet::cli::runCommandLine(arguments, stdout, stderr);
    }
    if (!mayHaveDisplay()) {
        sayNoWindow(QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"));
        return kNoDisplay;
    }

    const QtMessageHandler previous = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& message : std::as_const(g_startupMessages)) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
    g_startupMessages.clear();

    quillet::ui::TarnbyApp shell(app);
    return shell.exec();
}
