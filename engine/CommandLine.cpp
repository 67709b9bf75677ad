#include "engine/CommandLine.h"

#include "core/Paths.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

QCommandLineOption headlessOption()
{
    return QCommandLineOption(QStringLiteral("headless"),
        QStringLiteral("Run without windows on Qt's offscreen platform; write every event-log line "
                       "to standard output and message boxes to standard error. Also the case when "
                       "neither DISPLAY nor WAYLAND_DISPLAY is set."));
}

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption headless = headlessOption();

    Parser()
        : help(parser.addHelpOption())
        , version(parser.addVersionOption())
    {
        parser.setApplicationDescription(
            QStringLiteral("Announces every visit to your web pages: listens on a TCP port for the\n"
                           "requests that your pages' tracking reference sends, and logs, lists,\n"
                           "counts and announces each visit."));
        parser.addOption(headless);
    }
};

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    Parser p;
    CommandLine result;
    if (!p.parser.parse(arguments)) {
        result.action = Action::Fail;
        result.error = p.parser.errorText();
        return result;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        result.action = Action::Fail;
        result.error = QStringLiteral("Unexpected argument '%1'.").arg(p.parser.positionalArguments().constFirst());
        return result;
    }
    result.headless = p.parser.isSet(p.headless);
    if (p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all")))
        result.action = Action::ShowHelp;
    else if (p.parser.isSet(p.version))
        result.action = Action::ShowVersion;
    return result;
}

bool CommandLine::needsNoDisplay(int argc, const char *const *argv)
{
    static const char *const names[] = { "--headless", "--help", "--help-all", "-h", "-?", "--version", "-v" };
    for (int i = 1; i < argc; ++i) {
        for (const char *name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

std::optional<QString> CommandLine::preferredPlatform(int argc, const char *const *argv, const QByteArray &qpaPlatform,
    const QByteArray &waylandDisplay, const QByteArray &display)
{
    if (!qpaPlatform.isEmpty() || waylandDisplay.isEmpty() || display.isEmpty())
        return std::nullopt;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0
            || std::strncmp(argv[i], "-platform=", 10) == 0)
            return std::nullopt;
    }
    return QStringLiteral("xcb");
}

QString CommandLine::helpText()
{
    Parser p;
    QString text = p.parser.helpText();
    text += QStringLiteral("\nEnvironment:\n"
                           "  DISPLAY, WAYLAND_DISPLAY\n"
                           "                 The desktop the windows appear on. With neither set the\n"
                           "                 program runs headless.\n"
                           "  XDG_CONFIG_HOME\n"
                           "                 Folder of the settings file RizidirUduzidodirer.conf\n"
                           "                 (default ~/.config).\n"
                           "  XDG_DATA_HOME  Folder of the user's data folder vistelle/: sounds, the\n"
                           "                 country file, the last address (default ~/.local/share).\n"
                           "  XDG_RUNTIME_DIR\n"
                           "                 Folder of the single-instance lock vistelle.lock.\n"
                           "\nFiles:\n"
                           "  Sounds, the country file GeoIPCountryWhois.csv and the help page\n"
                           "  vistelle.htm are looked up in\n"
                           "    ");
    text += Paths::userDataDir();
    const QStringList dirs = Paths::installedDataDirs();
    if (!dirs.isEmpty())
        text += QStringLiteral(", then in\n    ") + dirs.constFirst();
    text += QStringLiteral("\n");
    return text;
}

std::optional<int> CommandLine::answerOrRun(const QString &programName)
{
    const CommandLine commandLine = parse(QCoreApplication::arguments());
    switch (commandLine.action) {
    case Action::ShowHelp:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case Action::ShowVersion:
        std::fputs(versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case Action::Fail:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", qPrintable(programName),
            commandLine.error.toLocal8Bit().constData(), qPrintable(programName));
        return 2;
    case Action::Run:
        break;
    }
    return std::nullopt;
}

QString CommandLine::versionText()
{
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion()
        + QStringLiteral(
            "\nCountry data: IP Geolocation by DB-IP, https://db-ip.com (CC BY 4.0)\n"
            "Crawler patterns: crawler-user-agents, https://github.com/monperrus/crawler-user-agents (MIT)\n");
}
