#pragma once

#include <QString>

// What the host manager window (frmMain2) asks of the main window after a manual update: its
// address label Label8. The shell implements it; tests record the calls.
class IHostManagerHost
{
public:
    virtual ~IHostManagerHost() = default;
    virtual void setAddressLabel(const QString &text) = 0;
};
