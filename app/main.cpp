#include "Console.h"
#include "UnixSignals.h"
#include "frmMain.h"

#include <QApplication>
#include <QStringList>

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
    Console::setHeadless(headless);

    UnixSignals signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignals::terminationRequested, &app, [] { QApplication::quit(); });

    frmMain window;
    window.show();
    window.listenOnConfiguredPort();
    return QApplication::exec();
}
