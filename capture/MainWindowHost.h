#pragma once

#include <QString>

// What the main window asks of the program around it: the tray, the popup, the start-up routine,
// the desktop. The shell implements it; tests record the calls.
class IMainWindowHost
{
public:
    virtual ~IMainWindowHost() = default;
    virtual void showPopup(const QString &caption, const QString &subcaption) = 0;
    // true: the tray shows the alert picture; false: the normal one.
    virtual void setTrayAlert(bool alert) = 0;
    // true: the tray shows the busy picture and the tool tip; false: the normal picture and tip.
    virtual void setTrayBusy(bool busy, const QString &toolTip) = 0;
    // The start-up routine, run again by the connection monitor on reconnection.
    virtual void runStartup() = 0;
    // Opens a document or web address with the desktop's handler.
    virtual void openDocument(const QString &pathOrUrl) = 0;
    // The window asks to be restored from minimised (after a failed address-script call).
    virtual void restoreWindow() = 0;
};
