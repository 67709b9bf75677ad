#pragma once

#include <QString>

// What the server settings window (frmSettings) asks of the program around it: the main window
// and its listener and address-script timer, the host manager, the desktop. The shell implements
// it; tests record the calls.
class ISettingsWindowHost
{
public:
    virtual ~ISettingsWindowHost() = default;
    // Shows the main window again (it is hidden while the settings window is open).
    virtual void showMainWindow() = 0;
    // frmMain's ListenOnPort.
    virtual void listenOnPort(qint16 port) = 0;
    // Enables frmMain's tmrUpdateIP: one call of the owner's address script follows.
    virtual void enablePublisher() = 0;
    // Starts the relay again with the stored settings.
    virtual void restartRelay() = 0;
    // Opens the host manager window (frmMain2), modal.
    virtual void openHostManager() = 0;
    // Opens a document or web address with the desktop's handler.
    virtual void openDocument(const QString &pathOrUrl) = 0;
};
