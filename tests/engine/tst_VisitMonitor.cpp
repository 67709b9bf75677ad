// The engine without any window: a visit over a real socket is logged with its country, listed,
// counted, announced (popup, sound) and kept in the history; lines of every part reach the one
// event log; the listening rules of the configured port.
#include "capture/EventLogLines.h"
#include "core/LogSink.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"
#include "engine/VisitMonitor.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include "publish/CertificateKeeper.h"
#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/ManualClock.h"
#include "tests/mock/RecordingSoundOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class tst_VisitMonitor final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void visitEndToEnd();
    void tlsVisitMarkedInHistory();
    void burstGivesOneSummary();
    void ownVisitsAndCrawlersStaySilent();
    void oneEventLog();
    void takenPortLogsBindError();
    void relayStateAndRestart();
    void configuredPort_data();
    void configuredPort();

private:
    struct Engine
    {
        QTemporaryDir dir;
        SettingsStore settings { dir.filePath(QStringLiteral("s.conf")) };
        ManualClock clock;
        RecordingSoundOutput sound;
        std::unique_ptr<VisitMonitor> engine;
        QStringList lines;

        Engine()
        {
            VisitMonitorServices services;
            services.clock = &clock;
            services.settings = &settings;
            services.connection = std::make_shared<FakeConnectionState>(true);
            services.sound = &sound;
            services.historyFile = dir.filePath(QStringLiteral("history.sqlite3"));
            engine = std::make_unique<VisitMonitor>(services);
            QObject::connect(&engine->log(), &EventLogLines::lineAdded, &engine->log(),
                [this](const QString &line) { lines << line; });
        }

        // Shuts the engine down (the waiting visits are written) and reads the history.
        QList<HistoryRow> storedAfterShutDown()
        {
            const QString file = engine->history()->fileName();
            engine->shutDown();
            HistoryQuery query(file);
            QVector<qint64> keys;
            query.scan({}, clock.currentDateTime().addSecs(60), {}, [&](QVector<qint64> &&chunk) { keys += chunk; });
            return query.rows(keys);
        }
    };
};

void tst_VisitMonitor::initTestCase()
{
    // The user's own country file names loopback visitors.
    QVERIFY(QDir().mkpath(Paths::userDataDir()));
    QFile file(Paths::userDataDir() + QStringLiteral("/GeoIPCountryWhois.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("127.0.0.0,127.255.255.255,2130706432,2147483647,TL,Testland\n");
}

void tst_VisitMonitor::visitEndToEnd()
{
    // No widget exists in this process: the engine is all there is.
    QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
    Engine e;
    QSignalSpy popups(e.engine.get(), &VisitMonitor::popupRequested);
    QSignalSpy listed(e.engine.get(), &VisitMonitor::visitListed);
    e.engine->ListenOnPort(qint16(0));
    QVERIFY(e.engine->listener().isListening());

    QTcpSocket visitor;
    visitor.connectToHost(QHostAddress::LocalHost, e.engine->listener().serverPort());
    QVERIFY(visitor.waitForConnected(5000));
    visitor.write("GET /t.gif HTTP/1.1\r\nHost: pc.example\r\nReferer: https://site.example/pricing\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(listed.size(), 1, 10000);

    QVERIFY(e.lines.last().endsWith(QStringLiteral("Visit: 127.0.0.1 -> https://site.example/pricing")));
    const VisitorListModel &model = e.engine->visitorModel();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.cellText(0, VisitorListModel::IpColumn), QStringLiteral("127.0.0.1 Testland"));
    QCOMPARE(model.requestCount(), 1);
    QCOMPARE(listed.at(0), (QVariantList { true, true }));
    QCOMPARE(popups.size(), 1);
    QCOMPARE(popups.at(0).at(0).toString(), QStringLiteral("Testland"));
    QCOMPARE(e.sound.visits.size(), 1);

    // Alerts paused for an hour: the next visit is listed and stored without popup or sound;
    // after the hour they come back.
    const auto visit = [&](const char *page) {
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, e.engine->listener().serverPort());
        QVERIFY(next.waitForConnected(5000));
        next.write("GET /t.gif HTTP/1.1\r\nHost: pc.example\r\nReferer: https://site.example/");
        next.write(page);
        next.write("\r\n\r\n");
        const qsizetype before = listed.size();
        QTRY_COMPARE_WITH_TIMEOUT(listed.size(), before + 1, 10000);
    };
    e.engine->pauseAlerts(VisitMonitor::PauseHourMs);
    visit("paused");
    QCOMPARE(popups.size(), 1);
    QCOMPARE(e.sound.visits.size(), 1);
    e.clock.advance(VisitMonitor::PauseHourMs);
    visit("again");
    QCOMPARE(popups.size(), 2);
    QCOMPARE(e.sound.visits.size(), 2);
    QVERIFY(!e.engine->alertsPaused());

    // Shutting down writes what still waits for the history.
    QList<HistoryRow> rows = e.storedAfterShutDown();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1].page, QStringLiteral("https://site.example/paused"));
    rows.removeFirst(); // newest first: the first visit is the last row
    rows.removeFirst();
    QCOMPARE(rows[0].address, QStringLiteral("127.0.0.1"));
    QCOMPARE(rows[0].country, QStringLiteral("Testland"));
    QCOMPARE(rows[0].page, QStringLiteral("https://site.example/pricing"));
}

// Twelve visits at once: each logged, listed and stored; three single popups, then one summary,
// and one doorbell.
void tst_VisitMonitor::burstGivesOneSummary()
{
    Engine e;
    QSignalSpy popups(e.engine.get(), &VisitMonitor::popupRequested);
    QSignalSpy listed(e.engine.get(), &VisitMonitor::visitListed);
    e.engine->ListenOnPort(qint16(0));
    std::vector<std::unique_ptr<QTcpSocket>> visitors;
    for (int i = 0; i < 12; ++i) {
        auto visitor = std::make_unique<QTcpSocket>();
        visitor->connectToHost(QHostAddress::LocalHost, e.engine->listener().serverPort());
        QVERIFY(visitor->waitForConnected(5000));
        visitor->write(QByteArray("GET /t.gif HTTP/1.1\r\nReferer: https://site.example/pricing?")
            + QByteArray::number(i) + "\r\n\r\n");
        visitors.push_back(std::move(visitor));
    }
    QTRY_COMPARE_WITH_TIMEOUT(listed.size(), 12, 10000);
    QCOMPARE(popups.size(), 4);
    QVERIFY2(popups.last().at(1).toString().startsWith(QStringLiteral("4 visits in the last 10 s")),
        qPrintable(popups.last().at(1).toString()));
    QCOMPARE(e.sound.visits.size(), 1);
    QCOMPARE(e.lines.filter(QStringLiteral("] Visit: 127.0.0.1 -> ")).size(), 12);
    QCOMPARE(e.storedAfterShutDown().size(), 12);
}

// The owner's own visits and a crawler's are logged, listed and stored with their kind, without
// popup or sound; own visits count apart, and can be left out of the list.
void tst_VisitMonitor::ownVisitsAndCrawlersStaySilent()
{
    Engine e;
    QSignalSpy popups(e.engine.get(), &VisitMonitor::popupRequested);
    QSignalSpy listed(e.engine.get(), &VisitMonitor::visitListed);
    e.engine->ListenOnPort(qint16(0));
    const auto visit = [&](const QByteArray &agent) {
        QTcpSocket visitor;
        visitor.connectToHost(QHostAddress::LocalHost, e.engine->listener().serverPort());
        QVERIFY(visitor.waitForConnected(5000));
        visitor.write("GET /t.gif HTTP/1.1\r\nReferer: https://site.example/" + QByteArray::number(listed.size())
            + "\r\nUser-Agent: " + agent + "\r\n\r\n");
        const qsizetype before = listed.size();
        QTRY_COMPARE_WITH_TIMEOUT(listed.size(), before + 1, 10000);
    };
    const VisitorListModel &model = e.engine->visitorModel();

    e.engine->setAddressCaption(QStringLiteral(" Current IP:127.0.0.1")); // the PC's public address
    visit("Mozilla/5.0 (X11; Linux x86_64) Chrome/131.0.0.0 Safari/537.36");
    QVERIFY(e.lines.last().endsWith(QStringLiteral("] Own visit: 127.0.0.1 -> https://site.example/0")));
    QCOMPARE(model.cellText(0, VisitorListModel::IpColumn), QStringLiteral("127.0.0.1 Testland (own visit)"));
    QCOMPARE(model.requestCount(), 0);
    QCOMPARE(model.ownVisitCount(), 1);
    e.settings.SaveSetting(QStringLiteral("HideOwnVisits"), QStringLiteral("1"));
    visit("Mozilla/5.0");
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.ownVisitCount(), 2);

    e.engine->setAddressCaption(QStringLiteral(" Current IP:192.0.2.1"));
    visit("Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)");
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.cellText(1, VisitorListModel::IpColumn), QStringLiteral("127.0.0.1 Testland (crawler)"));
    QCOMPARE(model.requestCount(), 1);
    QCOMPARE(popups.size(), 0);
    QCOMPARE(e.sound.visits.size(), 0);

    const QList<HistoryRow> rows = e.storedAfterShutDown();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].kind, VisitKind::Crawler);
    QCOMPARE(rows[0].agent, QStringLiteral("Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)"));
    QCOMPARE(rows[1].kind, VisitKind::Own);
    QCOMPARE(rows[2].kind, VisitKind::Own);
}

void tst_VisitMonitor::tlsVisitMarkedInHistory()
{
    Engine e;
    const QString certificate = e.dir.filePath(QStringLiteral("cert.pem"));
    const QString key = e.dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=pc.example"),
            QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate });
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner);
    e.settings.SaveSetting(QStringLiteral("TlsCertFile"), certificate);
    e.settings.SaveSetting(QStringLiteral("TlsKeyFile"), key);
    e.clock.advance(1000); // the certificate files are looked at again at most once a second
    QSignalSpy listed(e.engine.get(), &VisitMonitor::visitListed);
    e.engine->ListenOnPort(qint16(0));

    QSslSocket visitor;
    visitor.setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(&visitor, &QSslSocket::encrypted, &visitor,
        [&visitor] { visitor.write("GET /t.gif HTTP/1.1\r\nReferer: https://site.example/secure\r\n\r\n"); });
    visitor.connectToHostEncrypted(QStringLiteral("127.0.0.1"), e.engine->listener().serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(listed.size(), 1, 10000);

    // Certificate trouble reaches the user until resolved: this certificate expires within the
    // week; a failed order is told too, and an obtained certificate ends that.
    QSignalSpy trouble(e.engine.get(), &VisitMonitor::certificateTroubleChanged);
    e.engine->checkCertificateExpiry();
    QCOMPARE(trouble.size(), 1);
    QVERIFY2(e.engine->certificateTrouble().startsWith(QStringLiteral("The TLS certificate expires on ")),
        qPrintable(e.engine->certificateTrouble()));
    QCOMPARE(e.engine->stateLine(), e.engine->certificateTrouble());
    e.engine->checkCertificateExpiry();
    QCOMPARE(trouble.size(), 1); // told once
    emit e.engine->certificateKeeper().finished(true);
    QCOMPARE(e.engine->certificateTrouble(), QString());
    emit e.engine->certificateKeeper().failed(QStringLiteral("pc.example"), QStringLiteral("rate limited"));
    QCOMPARE(e.engine->certificateTrouble(),
        QStringLiteral("Could not obtain a TLS certificate for pc.example: rate limited"));

    const QList<HistoryRow> rows = e.storedAfterShutDown();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].page, QStringLiteral("https://site.example/secure"));
    QVERIFY(rows[0].tls);
}

void tst_VisitMonitor::oneEventLog()
{
    // What any part logs, on any thread, reaches the engine's log in order; lines logged before
    // the engine existed (the settings file read at start) reach it when it starts.
    Logger::instance().takeWaiting();
    LogMsg(QStringLiteral("before"));
    Engine e;
    QCOMPARE(e.engine->log().lineCount(), 1);
    LogMsg(QStringLiteral("on the ui thread"));
    QCOMPARE(e.lines.size(), 1);
    QVERIFY(e.lines.at(0).endsWith(QStringLiteral("] on the ui thread")));
    std::thread worker([] { LogMsg(QStringLiteral("from a worker")); });
    worker.join();
    QTRY_COMPARE(e.lines.size(), 2);
    QVERIFY(e.lines.at(1).endsWith(QStringLiteral("] from a worker")));
}

void tst_VisitMonitor::relayStateAndRestart()
{
    // A broker nobody answers for: the state says so, in the log once and in the state line; the
    // settings changed and the relay started again, it is off.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    Engine e;
    e.settings.SaveSetting(
        QStringLiteral("RelaySubscribeURL"), QStringLiteral("mqtt://desk@127.0.0.1:%1/vistelle/+").arg(port));
    QSignalSpy states(e.engine.get(), &VisitMonitor::relayStateChanged);
    e.engine->load();
    e.engine->ListenOnPort(qint16(0));
    QTRY_COMPARE_WITH_TIMEOUT(e.engine->relayState(), QStringLiteral("Relay: retrying (Connection refused)"), 10000);
    QVERIFY(e.engine->stateLine().endsWith(QStringLiteral(" \u00b7 Relay: retrying (Connection refused)")));
    QCOMPARE(e.lines.filter(QStringLiteral("Relay (receiving): retrying")).size(), 1);
    e.settings.SaveSetting(QStringLiteral("RelaySubscribeURL"), QString());
    e.engine->restartRelay();
    QCOMPARE(e.engine->relayState(), QString());
    QCOMPARE(states.last().at(0).toString(), QString());
}

void tst_VisitMonitor::takenPortLogsBindError()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, TestUtil::freePort16()));
    Engine e;
    e.engine->ListenOnPort(qint16(other.serverPort()));
    QCOMPARE(e.lines.size(), 3);
    QVERIFY(e.lines[2].endsWith(QStringLiteral("Port %1 is used by another program: choose another port in Settings, "
                                               "or end that program")
                                    .arg(other.serverPort())));
    QVERIFY(e.lines[0].endsWith(
        QStringLiteral("] Listening for connections on port: ") + QString::number(other.serverPort())));
    QVERIFY2(e.lines[1].contains(QStringLiteral("] Bind error: ")), qPrintable(e.lines[1]));
    QVERIFY(e.lines[1].size() > QStringLiteral("[00:00:00] Bind error: ").size());
    QVERIFY(!e.engine->listener().isListening());
}

void tst_VisitMonitor::configuredPort_data()
{
    QTest::addColumn<QString>("stored"); // "%1" stands for a free port
    QTest::addColumn<bool>("listens");
    QTest::addColumn<QString>("loggedPort");
    QTest::newRow("blank, number, letter") << " %1x" << true << "%1";
    QTest::newRow("non-numeric gives port 0") << "abc" << true << "0";
    QTest::newRow("above 16 bits listens nowhere") << "40000" << false << "";
}

void tst_VisitMonitor::configuredPort()
{
    QFETCH(QString, stored);
    QFETCH(bool, listens);
    QFETCH(QString, loggedPort);
    const QString freePort = QString::number(TestUtil::freePort16());

    Engine e;
    e.settings.SaveSetting(QStringLiteral("ListenPort"), QString(stored).replace(u"%1"_qs, freePort));
    e.engine->listenOnConfiguredPort();
    QCOMPARE(e.engine->listener().isListening(), listens);
    if (!listens) {
        QVERIFY(e.lines.isEmpty());
        return;
    }
    QVERIFY(e.lines.last().endsWith(
        QStringLiteral("Listening for connections on port: ") + QString(loggedPort).replace(u"%1"_qs, freePort)));
    if (loggedPort != u"0")
        QCOMPARE(QString::number(e.engine->listener().serverPort()), freePort);

    // The "Listen on port" icon listens again while online.
    e.engine->listenIfOnline();
    QCOMPARE(e.lines.size(), 2);
    QVERIFY(e.engine->listener().isListening());
}

QTEST_GUILESS_MAIN(tst_VisitMonitor)
#include "tst_VisitMonitor.moc"
