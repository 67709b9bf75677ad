#pragma once

#include "capture/VisitKind.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The visitor list as the visit processing sees it.
class IVisitList
{
public:
    virtual ~IVisitList() = default;
    // Appends a row (time, address, page) and updates the three counters, or for the owner's own
    // visit the fourth; returns the row, or -1 when the visit is not listed.
    virtual int addVisit(const QDateTime &time, const QString &address, const QString &page, VisitKind kind) = 0;
    // The address cell of a row becomes its old text, a blank and the country name.
    virtual void appendCountry(int row, const QString &country) = 0;
    virtual void makeNewestRowCurrent() = 0;
};

// What a visit does outside the list. The main window implements it; tests record the calls.
class IVisitEffects
{
public:
    virtual ~IVisitEffects() = default;
    // A visit that may be announced (not the owner's own, not a crawler) comes: its sound and
    // popup follow.
    virtual void alertsComing(const QDateTime &time, const QString &address, const QString &page)
    {
        Q_UNUSED(time);
        Q_UNUSED(address);
        Q_UNUSED(page);
    }
    // Starts playing a sound file; returns at once.
    virtual void playSound(const QString &fileName) = 0;
    // Shows the popup with its title and text lines; returns at once.
    virtual void showPopup(const QString &caption, const QString &subcaption) = 0;
    // true: the tray shows its alert picture; false: its normal picture again.
    virtual void setTrayAlert(bool alert) = 0;
    // The "Stopped Repeat Request" indicator: visibility and tool tip.
    virtual void setStopRepeat(bool visible, const QString &toolTip) = 0;
    // The visitor's country; no value when the country files do not name one.
    virtual std::optional<QString> country(const QString &address) = 0;
};
