#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The program's command line: --headless, --help, --version. The application object takes Qt's
// own options (-platform, -display, -style, ...) out before these are read.
struct CommandLine final
{
    enum class Action { Run, ShowHelp, ShowVersion, Fail };

    Action action = Action::Run;
    bool headless = false;
    // With Action::Fail: what was wrong, one line.
    QString error;

    // arguments: as QCoreApplication::arguments() gives them, the program's name first.
    static CommandLine parse(const QStringList &arguments);

    // Before the application object exists: whether the raw arguments ask for something that needs
    // no display (--headless, --help, --version), so the program starts on the offscreen platform.
    static bool needsNoDisplay(int argc, const char *const *argv);

    // The platform the windows should use, chosen before the application object exists: on a
    // Wayland session that also offers XWayland (WAYLAND_DISPLAY and DISPLAY set) "xcb", because
    // Wayland lets no program place its own windows and the popup belongs in the lower right
    // corner. Nothing (Qt's own choice) when the user chose a platform (QT_QPA_PLATFORM or
    // -platform) or the session is not Wayland with XWayland.
    static std::optional<QString> preferredPlatform(int argc, const char *const *argv, const QByteArray &qpaPlatform,
        const QByteArray &waylandDisplay, const QByteArray &display);

    // What --help prints: usage, options, and the environment and folders the program reads.
    static QString helpText();
    // What --version prints: "vistelle 1.0.0".
    static QString versionText();

    // Parses the application's arguments and answers --help, --version and a wrong command line
    // on the console: the exit code then, or nothing when the program should run.
    static std::optional<int> answerOrRun(const QString &programName);
};
