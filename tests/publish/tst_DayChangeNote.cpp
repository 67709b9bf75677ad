#include "core/LogSink.h"
#include "tests/common/TestUtil.h"

#include "core/Clock.h"
#include "publish/DayChangeNote.h"
#include "tests/mock/ManualClock.h"

#include <QTimer>
#include <QtTest>

class tst_DayChangeNote : public QObject
{
    Q_OBJECT

private slots:
    void noteFor_data();
    void noteFor();
    void timerIsCheckDate();
    void logsAtEveryTickOfTheFirstTenMinutes();
};

void tst_DayChangeNote::noteFor_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("noted");
    QTest::newRow("midnight") << QTime(0, 0, 0) << true;
    QTest::newRow("00:05") << QTime(0, 5, 30) << true;
    QTest::newRow("00:09:59") << QTime(0, 9, 59) << true;
    QTest::newRow("00:10") << QTime(0, 10, 0) << false;
    QTest::newRow("10:00") << QTime(10, 0, 0) << false;
    QTest::newRow("10:05") << QTime(10, 5, 0) << false;
    QTest::newRow("12:00") << QTime(12, 0, 0) << false;
    QTest::newRow("23:59") << QTime(23, 59, 59) << false;
}

void tst_DayChangeNote::noteFor()
{
    QFETCH(QTime, time);
    QFETCH(bool, noted);
    const QString note = DayChangeNote::noteFor(QDateTime(QDate(2026, 3, 7), time));
    QCOMPARE(note, noted ? QStringLiteral("Date is now: 07-March-2026") : QString());
}

void tst_DayChangeNote::timerIsCheckDate()
{
    DayChangeNote note;
    QCOMPARE(note.timer()->objectName(), QStringLiteral("CheckDate"));
    QCOMPARE(note.timer()->interval(), 10000);
    QVERIFY(note.timer()->isActive());
}

void tst_DayChangeNote::logsAtEveryTickOfTheFirstTenMinutes()
{
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 0)));
    DayChangeNote note(clock);
    QStringList log;
    QObject::connect(
        &Logger::instance(), &Logger::messageAdded, &note, [&log](const QString &line) { log.append(line); });
    int ticks = 0;
    // From 23:59 to 00:11 in steps of the timer's 10 seconds.
    for (; ticks < 72; ++ticks) {
        note.CheckDate_Timer();
        clock.advance(10000);
    }
    QCOMPARE(log.size(), 60);
    QCOMPARE(log.first(), QStringLiteral("Date is now: 08-December-2026"));
    QCOMPARE(log.last(), QStringLiteral("Date is now: 08-December-2026"));
}

QTEST_GUILESS_MAIN(tst_DayChangeNote)
#include "tst_DayChangeNote.moc"
