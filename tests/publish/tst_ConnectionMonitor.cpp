#include "core/SettingsStore.h"
#include "publish/ConnectionMonitor.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/LogRecorder.h"
#include "tests/mock/ManualClock.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
// Plays the start-up routine's counter rule: online steps only while the counter is at most 1.
struct Harness final : IConnectionMonitorView
{
    Harness()
        : state(std::make_shared<FakeConnectionState>(true, QStringLiteral("Wired connection 1")))
    {
        settings.SaveSetting(QStringLiteral("ListenPort"), QStringLiteral("8080"));
        ConnectionMonitorProbes probes;
        probes.isListening = [this] { return listening; };
        probes.localAddress = [] { return QStringLiteral("192.168.1.5"); };
        monitor = std::make_unique<ConnectionMonitor>(state, startup, *this, probes, settings, clock);
    }
    void clearLog() override { log.clear(); }
    void showConnection(bool online) override { shownOnline = online; }
    void setAddressLabel(const QString &text) override { label = text; }
    void setListenToolTip(const QString &text) override { listenTip = text; }
    void enableAddressUpdater(bool on) override { updater = on; }
    void runStartup() override
    {
        ++startup.runCounter;
        if (state->online && startup.runCounter <= 1)
            ++onlineStepRuns;
    }
    // Program start and window load as the start-up routine does them.
    void start(bool online)
    {
        state->online = online;
        runStartup();
        monitor->onWindowLoad();
        monitor->setFirstConnectedTick();
    }
    std::shared_ptr<FakeConnectionState> state;
    QTemporaryDir dir;
    SettingsStore settings { dir.filePath(QStringLiteral("s.conf")) };
    ManualClock clock { QDateTime(QDate(2026, 12, 7), QTime(10, 0)) };
    LogRecorder recorder;
    QStringList &log = recorder.lines;
    StartupState startup;
    std::unique_ptr<ConnectionMonitor> monitor;
    bool shownOnline = false;
    bool updater = false;
    bool listening = true;
    QString label, listenTip;
    int onlineStepRuns = 0;
};
} // namespace

class tst_ConnectionMonitor : public QObject
{
    Q_OBJECT
private slots:
    void ticks_data();
    void ticks();
    void offlineLine();
    void listenToolTip();
    void labelWithDynamicDnsOff();
};

void tst_ConnectionMonitor::ticks_data()
{
    QTest::addColumn<bool>("startOnline");
    QTest::addColumn<QString>("ticks"); // one letter per monitor tick: o online, x offline
    QTest::addColumn<int>("onlineStepRuns");
    QTest::addColumn<int>("runCounter");
    QTest::newRow("online start, steady") << true << "oooo" << 1 << 0;
    QTest::newRow("online start, first tick does nothing") << true << "o" << 1 << 2;
    QTest::newRow("online, outage, back") << true << "ooxxoo" << 2 << 0;
    QTest::newRow("two outages") << true << "oxoxo" << 3 << 1;
    QTest::newRow("offline start stays offline") << false << "xxx" << 0 << 1;
    QTest::newRow("offline start then online: the monitor alone does not") << false << "xo" << 0 << 2;
}

void tst_ConnectionMonitor::ticks()
{
    QFETCH(bool, startOnline);
    QFETCH(QString, ticks);
    Harness h;
    h.start(startOnline);
    for (QChar t : ticks) {
        h.state->online = t == u'o';
        h.monitor->Timer1_Timer();
        QCOMPARE(h.updater, h.state->online);
        QCOMPARE(h.shownOnline, h.state->online);
    }
    QTEST(h.onlineStepRuns, "onlineStepRuns");
    QTEST(h.startup.runCounter, "runCounter");
}

void tst_ConnectionMonitor::offlineLine()
{
    Harness h;
    h.start(true);
    QCOMPARE(h.log, QStringList { u"Internet connection detected via  Wired connection 1"_qs });
    QCOMPARE(h.startup.ConnectionName, QStringLiteral("Wired connection 1"));
    h.state->online = false;
    h.monitor->Timer1_Timer();
    h.monitor->Timer1_Timer();
    // The log holds just the renewed offline line.
    QCOMPARE(h.log, QStringList { u"No Connection Detected. [96] 07-December-2026"_qs });
    QCOMPARE(h.monitor->ConnectedTicks(), 0);
}

void tst_ConnectionMonitor::listenToolTip()
{
    Harness h;
    h.start(true);
    h.monitor->Timer1_Timer();
    QCOMPARE(h.listenTip, QStringLiteral("Listening on port8080"));
    h.listening = false;
    h.monitor->Timer1_Timer();
    QCOMPARE(h.listenTip, QStringLiteral("Not Listening"));
}

void tst_ConnectionMonitor::labelWithDynamicDnsOff()
{
    Harness h;
    h.start(false);
    QCOMPARE(h.log, QStringList { u"No connection detected"_qs });
    h.label = QStringLiteral("unchanged");
    h.monitor->Timer1_Timer();
    QCOMPARE(h.label, QStringLiteral("unchanged"));
    h.settings.SaveSetting(QStringLiteral("usedyndns"), QStringLiteral("0"));
    h.monitor->Timer1_Timer();
    QCOMPARE(h.label, QStringLiteral(" Current IP:192.168.1.5"));
}

QTEST_GUILESS_MAIN(tst_ConnectionMonitor)
#include "tst_ConnectionMonitor.moc"
