#include "Console.h"
#include "Shell.h"
#include "UnixSignals.h"

#include <QApplication>
#include <QTimer>

#include <cstring>

int main(int argc, char *argv[])
{
    bool headless = Console::noDisplay();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            headless = true;
    }
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vistelle"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vistelle"));
    QApplication::setApplicationVersion(QStringLiteral(VISTELLE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vistelle"));
    // The tray icon keeps the program alive while every window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    Console::setHeadless(headless);

    Shell shell;
    QObject::connect(&shell, &Shell::finished, &app, [](int code) { QCoreApplication::exit(code); });
    UnixSignals signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignals::terminationRequested, &shell, &Shell::ShutDown);
    // The desktop session ending quits the application: shut down in order first.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &shell, [&shell](QSessionManager &) { shell.ShutDown(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &shell, &Shell::ShutDown);

    QTimer::singleShot(0, &shell, [&shell] { shell.RunStartup(); });
    return QApplication::exec();
}
