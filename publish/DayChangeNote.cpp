#include "publish/DayChangeNote.h"

#include "core/LogSink.h"
#include <QLocale>
#include <QTimer>

DayChangeNote::DayChangeNote(const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , CheckDate(new QTimer(this))
{
    CheckDate->setObjectName(QStringLiteral("CheckDate"));
    CheckDate->setInterval(10000);
    connect(CheckDate, &QTimer::timeout, this, &DayChangeNote::CheckDate_Timer);
    CheckDate->start();
}

QString DayChangeNote::noteFor(const QDateTime &now)
{
    if (!now.time().toString(QStringLiteral("hhmm")).startsWith(QLatin1String("000")))
        return {};
    return QStringLiteral("Date is now: ") + QLocale::c().toString(now.date(), QStringLiteral("dd-MMMM-yyyy"));
}

void DayChangeNote::CheckDate_Timer()
{
    const QString note = noteFor(m_clock.currentDateTime());
    if (!note.isEmpty())
        LogMsg(note);
}
