#pragma once

#include <QString>

// Program-wide state shared by the start-up routine and the connection monitor.
struct StartupState
{
    // Incremented by each start-up run; the monitor sets it to 1 while offline and to 0 just
    // before it runs the start-up again on reconnection.
    int runCounter = 0;
    // Set once the online start-up steps (listen, tray, popup, publisher) have run in this process.
    bool onlineStepsDone = false;
    // Name of the active connection, as last filled in by the connection-state query.
    QString ConnectionName;
};
