#pragma once

#include "core/Clock.h"

#include <QObject>
#include <QString>

class QTimer;

// The day-change note: the timer `CheckDate` (objectName "CheckDate", every 10,000 ms, running
// from construction) logs "Date is now: " and today's date ("dd-mmmm-yyyy", English month name)
// at every tick from 00:00 to 00:09 local time.
//
// The engine owns one and stops timer() at shut-down.
class DayChangeNote final : public QObject
{
    Q_OBJECT
public:
    explicit DayChangeNote(const Clock &clock = Clock::system(), QObject *parent = nullptr);

    QTimer *timer() const { return CheckDate; }

    // The note for that moment, or an empty text outside 00:00 to 00:09.
    static QString noteFor(const QDateTime &now);

public slots:
    void CheckDate_Timer();

private:
    const Clock &m_clock;
    QTimer *CheckDate;
};
