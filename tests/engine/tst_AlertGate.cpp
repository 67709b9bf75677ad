// What a visit may announce: singles on a quiet site, one summary and one doorbell per window in a
// burst, and silence in quiet hours (across midnight too).
#include "core/SettingsStore.h"
#include "engine/AlertGate.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
QDateTime at(int hour, int minute)
{
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute));
}
} // namespace

class tst_AlertGate final : public QObject
{
    Q_OBJECT
private slots:
    void visits_data();
    void visits();
    void settingsAndQuietHours();
};

void tst_AlertGate::visits_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("everyMs");
    QTest::addColumn<int>("singles");
    QTest::addColumn<int>("summaries");
    QTest::addColumn<int>("sounds");
    QTest::newRow("a few an hour") << 5 << qint64(15 * 60'000) << 5 << 0 << 5;
    QTest::newRow("three within the window") << 3 << qint64(1000) << 3 << 0 << 1;
    QTest::newRow("fifty in ten seconds") << 50 << qint64(200) << 3 << 1 << 1;
    QTest::newRow("fifty in twenty seconds") << 50 << qint64(400) << 3 << 2 << 2;
}

void tst_AlertGate::visits()
{
    QFETCH(int, count);
    QFETCH(qint64, everyMs);
    AlertGate gate;
    const AlertGate::Settings settings;
    int singles = 0, summaries = 0, sounds = 0;
    QString lastSummary;
    for (int i = 0; i < count; ++i) {
        const QString page = i % 3 == 0 ? QStringLiteral("https://site.example/other")
                                        : QStringLiteral("https://site.example/pricing");
        const AlertGate::Decision d = gate.onVisit(1000 + i * everyMs, at(12, 0), page, settings);
        if (d.popup && d.summary.isEmpty())
            ++singles;
        if (d.popup && !d.summary.isEmpty()) {
            ++summaries;
            lastSummary = d.summary;
        }
        sounds += d.sound ? 1 : 0;
    }
    QTEST(singles, "singles");
    QTEST(summaries, "summaries");
    QTEST(sounds, "sounds");
    if (summaries > 0)
        QVERIFY2(lastSummary.contains(QStringLiteral(" visits in the last 10 s \u2014 most: /pricing")),
            qPrintable(lastSummary));
    // The rate drops: single announcements, with their sound, come back.
    const AlertGate::Decision later
        = gate.onVisit(1000 + count * everyMs + 60'000, at(12, 5), QStringLiteral("https://site.example/"), settings);
    QVERIFY(later.popup && later.summary.isEmpty() && later.sound);
}

void tst_AlertGate::settingsAndQuietHours()
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("s.conf")));
    store.SaveSetting(QStringLiteral("QuietFrom"), QStringLiteral("23:00"));
    store.SaveSetting(QStringLiteral("QuietTo"), QStringLiteral("7:30"));
    store.SaveSetting(QStringLiteral("AlertBurst"), QStringLiteral("5"));
    store.SaveSetting(QStringLiteral("AlertWindowSeconds"), QStringLiteral("30"));
    AlertGate::Settings settings = AlertGate::Settings::read(store);
    QCOMPARE(settings.burst, 5);
    QCOMPARE(settings.windowMs, qint64(30'000));
    for (const QTime &quiet : { QTime(23, 0), QTime(2, 0), QTime(7, 29) })
        QVERIFY(AlertGate::inQuietHours(quiet, settings));
    for (const QTime &awake : { QTime(7, 30), QTime(12, 0), QTime(22, 59) })
        QVERIFY(!AlertGate::inQuietHours(awake, settings));

    AlertGate gate;
    AlertGate::Decision night = gate.onVisit(0, at(1, 0), QStringLiteral("/"), settings);
    QVERIFY(night.popup && !night.sound);
    store.SaveSetting(QStringLiteral("QuietPopups"), QStringLiteral("1"));
    settings = AlertGate::Settings::read(store);
    night = gate.onVisit(60'000, at(1, 1), QStringLiteral("/"), settings);
    QVERIFY(!night.popup && !night.sound);
    // Empty: no quiet hours.
    store.SaveSetting(QStringLiteral("QuietTo"), QString());
    QVERIFY(!AlertGate::inQuietHours(QTime(1, 0), AlertGate::Settings::read(store)));
}

QTEST_GUILESS_MAIN(tst_AlertGate)
#include "tst_AlertGate.moc"
