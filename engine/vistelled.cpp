// vistelled: Vistelle for servers. The engine without windows, on QtCore and QtNetwork only; every
// event-log line, visit and popup text goes to standard output.
#include "core/Clock.h"
#include "core/FileLimits.h"
#include "engine/HeadlessShell.h"

int main(int argc, char *argv[])
{
    // Every visitor's connection holds a descriptor: take all the room the system allows.
    FileLimits::raiseToHardLimit();
    Clock::settleTimeZone();
    return runHeadless(argc, argv, QStringLiteral("vistelled"));
}
