#pragma once

#include "capture/VisitEffects.h"
#include "tests/mock/LogRecorder.h"

#include <QList>
#include <QStringList>

#include <functional>

// Records what a visit did outside the list.
class RecordingVisitEffects final : public IVisitEffects
{
public:
    void playSound(const QString &fileName) override { sounds << fileName; }
    void showPopup(const QString &caption, const QString &subcaption) override
    {
        popups << (caption + u'|' + subcaption);
    }
    void setTrayAlert(bool alert) override { tray << alert; }
    void setStopRepeat(bool visible, const QString &toolTip) override
    {
        stopRepeatVisible = visible;
        if (visible)
            stopRepeatTip = toolTip;
    }
    std::optional<QString> country(const QString &address) override
    {
        if (!countryFile)
            return std::nullopt;
        return countryOf ? countryOf(address) : QString();
    }

    LogRecorder recorder;
    QStringList &log = recorder.lines;
    QStringList sounds, popups;
    QList<bool> tray;
    bool stopRepeatVisible = false;
    QString stopRepeatTip;
    bool countryFile = true;
    std::function<QString(const QString &)> countryOf;
};
