#pragma once

#include "capture/MainWindowHost.h"

#include <QList>
#include <QStringList>

// Records what the main window asked of the program around it.
class RecordingMainWindowHost final : public IMainWindowHost
{
public:
    void showPopup(const QString &caption, const QString &subcaption) override
    {
        popups << (caption + u'|' + subcaption);
    }
    void setTrayAlert(bool alert) override { trayAlerts << alert; }
    void setTrayBusy(bool busy, const QString &toolTip) override
    {
        trayBusy << busy;
        trayTips << toolTip;
    }
    void runStartup() override { ++startups; }
    void openDocument(const QString &pathOrUrl) override { documents << pathOrUrl; }
    void restoreWindow() override { ++restores; }

    QStringList popups, trayTips, documents;
    QList<bool> trayAlerts, trayBusy;
    int startups = 0;
    int restores = 0;
};
