#include "alerts/AlertIcons.h"
#include "app/Shell.h"
#include "core/Clock.h"
#include "core/Console.h"
#include "core/FileLimits.h"
#include "engine/CommandLine.h"
#include "engine/HeadlessShell.h"
#include "engine/UnixSignals.h"

#include <QApplication>
#include <QTimer>

namespace {
QtMessageHandler g_defaultHandler = nullptr;

// The font engine notes every script of a visitor's text that a font cannot shape (a referer full
// of odd bytes gives one note per font and glyph run), so visitors could fill the session's error
// log. None of that concerns the user.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("OpenType support missing for")))
        return;
    g_defaultHandler(type, context, message);
}
} // namespace

int main(int argc, char *argv[])
{
    // Every visitor's connection holds a descriptor: take all the room the system allows.
    FileLimits::raiseToHardLimit();
    Clock::settleTimeZone();
    // Without a display, with --headless, and for --help and --version the program makes no
    // window: the engine runs on a core application, decided before any application object exists.
    if (Console::noDisplay() || CommandLine::needsNoDisplay(argc, argv))
        return runHeadless(argc, argv, QStringLiteral("vistelle"));
    g_defaultHandler = qInstallMessageHandler(messageHandler);
    // On a Wayland session the popup can only be placed through XWayland.
    if (const std::optional<QString> platform = CommandLine::preferredPlatform(
            argc, argv, qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")))
        qputenv("QT_QPA_PLATFORM", platform->toLatin1());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vistelle"));
    // No display name: the window manager would show it after every window's title.
    QApplication::setApplicationVersion(QStringLiteral(VISTELLE_VERSION));
    // The desktop entry's name, which is also the AppStream id.
    QApplication::setDesktopFileName(QStringLiteral("io.sourceforge.vistelle.Vistelle"));

    if (const std::optional<int> answered = CommandLine::answerOrRun(QStringLiteral("vistelle")))
        return *answered;
    // The tray icon keeps the program alive while every window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    // Every window of the program (history, whois, settings...) carries the program's icon.
    QApplication::setWindowIcon(AlertIcons::normalTrayIcon());
    ShellServices services;
    services.keyring = true;
    Shell shell(services);
    QObject::connect(&shell, &Shell::finished, &app, [](int code) { QCoreApplication::exit(code); });
    UnixSignals signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignals::terminationRequested, &shell, &Shell::ShutDown);
    // The desktop session ending quits the application: shut down in order first.
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &shell, [&shell](QSessionManager &) { shell.ShutDown(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &shell, &Shell::ShutDown);

    QTimer::singleShot(0, &shell, [&shell] { shell.RunStartup(); });
    return QApplication::exec();
}
