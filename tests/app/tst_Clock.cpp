#include "core/Clock.h"

#include <QTest>
#include <QThread>

#include <ctime>

class tst_Clock : public QObject
{
    Q_OBJECT
private slots:
    void timeOfDay_data();
    void timeOfDay();
};

void tst_Clock::timeOfDay_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("UTC") << QByteArray("UTC0");
    QTest::newRow("half an hour east") << QByteArray("IST-5:30");
    QTest::newRow("half an hour west") << QByteArray("NST+3:30");
}

// The local time of day, converted from UTC once a second, is the local time of that instant.
void tst_Clock::timeOfDay()
{
    QFETCH(QByteArray, zone);
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    QTime before, read, after;
    // A thread of its own: the conversion of the second is kept per thread.
    QThread *thread = QThread::create([&] {
        const SystemClock clock;
        for (int i = 0; i < 3; ++i) { // the second of a conversion, and one kept
            before = QDateTime::currentDateTime().time();
            read = clock.currentTime();
            after = QDateTime::currentDateTime().time();
            if (before > after)
                i = -1; // midnight came between: again
        }
    });
    thread->start();
    QVERIFY(thread->wait(10'000));
    delete thread;
    qputenv("TZ", saved);
    tzset();
    QVERIFY2(before <= read && read <= after,
        qPrintable(before.toString(u"HH:mm:ss.zzz") + u' ' + read.toString(u"HH:mm:ss.zzz") + u' '
            + after.toString(u"HH:mm:ss.zzz")));
}

QTEST_GUILESS_MAIN(tst_Clock)
#include "tst_Clock.moc"
