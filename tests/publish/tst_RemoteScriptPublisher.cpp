#include "core/LogSink.h"
#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/publish/FakeProvider.h"

#include "core/ConnectionState.h"
#include "core/SettingsStore.h"
#include "publish/RemoteScriptPublisher.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

class tst_RemoteScriptPublisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void scriptAddress_data();
    void scriptAddress();
    void isValidAnswer_data();
    void isValidAnswer();
    void timerIsTmrUpdateIP();
    void waitsWhileSwitchedOffOrOffline_data();
    void waitsWhileSwitchedOffOrOffline();
    void sendsOncePerEnabling();
    void reportsAnAnswerWithoutTheMarker();
    void reportsATransferError();
    void defaultsReachTheLocalServer();

private:
    std::unique_ptr<RemoteScriptPublisher> makePublisher();

    std::unique_ptr<FakeProvider> m_fake;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::shared_ptr<FakeConnectionState> m_connection;
    QStringList m_log;
};

void tst_RemoteScriptPublisher::initTestCase()
{
    m_fake = std::make_unique<FakeProvider>();
    QVERIFY2(m_fake->isReady(), "the fake provider did not start");
}

void tst_RemoteScriptPublisher::init()
{
    m_fake->clearRequests();
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("settings.conf")));
    m_connection = std::make_shared<FakeConnectionState>();
    m_log.clear();
    m_settings->SaveSetting(QStringLiteral("useasp"), QStringLiteral("1"));
    m_settings->SaveSetting(QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1:%1").arg(m_fake->httpPort()));
    m_settings->SaveSetting(QStringLiteral("RemotePath"), QStringLiteral("/sendip.asp"));
}

void tst_RemoteScriptPublisher::cleanup()
{
    m_settings.reset();
    m_dir.reset();
}

std::unique_ptr<RemoteScriptPublisher> tst_RemoteScriptPublisher::makePublisher()
{
    auto publisher = std::make_unique<RemoteScriptPublisher>(m_settings.get(), m_connection);
    QObject::connect(&Logger::instance(), &Logger::messageAdded, publisher.get(),
        [this](const QString &line) { m_log.append(line); });
    return publisher;
}

void tst_RemoteScriptPublisher::scriptAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("address");
    QTest::newRow("defaults") << QStringLiteral("localhost") << QStringLiteral("/sendip.asp")
                              << QStringLiteral("http://localhost/sendip.asp");
    QTest::newRow("path without slash") << QStringLiteral("example.org") << QStringLiteral("ip.php")
                                        << QStringLiteral("http://example.org/ip.php");
    // Three slashes become two: the replacement makes one left-to-right pass.
    QTest::newRow("host ending in slash") << QStringLiteral("example.org/") << QStringLiteral("/sendip.asp")
                                          << QStringLiteral("http://example.org//sendip.asp");
    QTest::newRow("four slashes") << QStringLiteral("h//") << QStringLiteral("/p") << QStringLiteral("http://h//p");
    QTest::newRow("inner doubles") << QStringLiteral("h") << QStringLiteral("/a//b") << QStringLiteral("http://h/a/b");
    QTest::newRow("empty") << QString() << QString() << QStringLiteral("http:///");
}

void tst_RemoteScriptPublisher::scriptAddress()
{
    QFETCH(QString, host);
    QFETCH(QString, path);
    QFETCH(QString, address);
    QCOMPARE(RemoteScriptPublisher::scriptAddress(host, path), address);
}

void tst_RemoteScriptPublisher::isValidAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("valid");
    QTest::newRow("exact") << QStringLiteral("IP Updated to: 1.2.3.4") << true;
    QTest::newRow("lower case") << QStringLiteral("<p>ip updated to: 1.2.3.4</p>") << true;
    QTest::newRow("upper case") << QStringLiteral("IP UPDATED TO:") << true;
    QTest::newRow("no colon") << QStringLiteral("IP Updated to 1.2.3.4") << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_RemoteScriptPublisher::isValidAnswer()
{
    QFETCH(QString, answer);
    QFETCH(bool, valid);
    QCOMPARE(RemoteScriptPublisher::isValidAnswer(answer), valid);
}

void tst_RemoteScriptPublisher::timerIsTmrUpdateIP()
{
    auto publisher = makePublisher();
    QCOMPARE(publisher->timer()->objectName(), QStringLiteral("tmrUpdateIP"));
    QCOMPARE(publisher->timer()->interval(), 1000);
    QVERIFY(!publisher->isEnabled());
    publisher->enable();
    QVERIFY(publisher->isEnabled());
    publisher->disable();
    QVERIFY(!publisher->isEnabled());
}

void tst_RemoteScriptPublisher::waitsWhileSwitchedOffOrOffline_data()
{
    QTest::addColumn<QString>("useasp"); // "-": key missing
    QTest::addColumn<bool>("online");
    QTest::newRow("switched off") << QStringLiteral("0") << true;
    QTest::newRow("key missing") << QStringLiteral("-") << true;
    QTest::newRow("not a number") << QStringLiteral("yes") << true;
    QTest::newRow("offline") << QStringLiteral("1") << false;
}

void tst_RemoteScriptPublisher::waitsWhileSwitchedOffOrOffline()
{
    QFETCH(QString, useasp);
    QFETCH(bool, online);
    if (useasp == QLatin1String("-")) {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("fresh.conf")));
        m_settings->SaveSetting(QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1:%1").arg(m_fake->httpPort()));
    } else {
        m_settings->SaveSetting(QStringLiteral("useasp"), useasp);
    }
    m_connection->online = online;
    auto publisher = makePublisher();
    publisher->enable();
    for (int i = 0; i < 5; ++i)
        publisher->tmrUpdateIP_Timer();
    QVERIFY(publisher->isEnabled());
    QVERIFY(!publisher->isSending());
    QVERIFY(m_log.isEmpty());
    QVERIFY(m_fake->requests().isEmpty());

    // Once switched on and online, the next tick sends.
    m_settings->SaveSetting(QStringLiteral("useasp"), QStringLiteral("1"));
    m_connection->online = true;
    QSignalSpy finished(publisher.get(), &RemoteScriptPublisher::sendingFinished);
    publisher->tmrUpdateIP_Timer();
    QVERIFY(!publisher->isEnabled());
    QVERIFY(finished.wait(15000));
    QCOMPARE(m_fake->paths(), QStringList { QStringLiteral("/sendip.asp") });
}

void tst_RemoteScriptPublisher::sendsOncePerEnabling()
{
    auto publisher = makePublisher();
    QSignalSpy finished(publisher.get(), &RemoteScriptPublisher::sendingFinished);
    QSignalSpy restore(publisher.get(), &RemoteScriptPublisher::restoreWindowRequested);
    publisher->enable();
    // The real timer ticks after a second.
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(!publisher->isEnabled());
    const QString address = QStringLiteral("http://127.0.0.1:%1/sendip.asp").arg(m_fake->httpPort());
    QCOMPARE(m_log, (QStringList { QStringLiteral("Sending IP to: ") + address, QStringLiteral("... done.") }));
    QVERIFY(restore.isEmpty());

    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].path, QStringLiteral("/sendip.asp"));
    QVERIFY(requests[0].header(QStringLiteral("User-Agent")).startsWith(QLatin1String("Vistelle/")));

    // Ticks after the sending send nothing; a new enabling sends once more.
    publisher->tmrUpdateIP_Timer();
    QVERIFY(publisher->isSending());
    QVERIFY(finished.wait(15000));
    publisher->enable();
    QVERIFY(finished.wait(15000));
    QCOMPARE(m_fake->requests().size(), 3);
}

void tst_RemoteScriptPublisher::reportsAnAnswerWithoutTheMarker()
{
    m_settings->SaveSetting(QStringLiteral("RemotePath"), QStringLiteral("sendip-bad.asp"));
    auto publisher = makePublisher();
    QSignalSpy finished(publisher.get(), &RemoteScriptPublisher::sendingFinished);
    QSignalSpy restore(publisher.get(), &RemoteScriptPublisher::restoreWindowRequested);
    publisher->enable();
    publisher->tmrUpdateIP_Timer();
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(m_log.size(), 2);
    QCOMPARE(m_log[1], QStringLiteral("... Invalid response from script!"));
    QVERIFY(restore.isEmpty());
}

void tst_RemoteScriptPublisher::reportsATransferError()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    m_settings->SaveSetting(QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1:%1").arg(port));
    auto publisher = makePublisher();
    QSignalSpy finished(publisher.get(), &RemoteScriptPublisher::sendingFinished);
    QSignalSpy restore(publisher.get(), &RemoteScriptPublisher::restoreWindowRequested);
    publisher->enable();
    publisher->tmrUpdateIP_Timer();
    QVERIFY(finished.wait(15000));
    QCOMPARE(m_log.size(), 2);
    QVERIFY2(m_log[1].startsWith(QLatin1String("Error updating IP: ")), qPrintable(m_log[1]));
    QVERIFY(m_log[1].size() > QStringLiteral("Error updating IP: ").size());
    QCOMPARE(restore.size(), 1);
    QVERIFY(!publisher->isEnabled()); // no retry until enabled again
}

void tst_RemoteScriptPublisher::defaultsReachTheLocalServer()
{
    // With no RemoteHost or RemotePath stored the address is the local web server's script.
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("fresh.conf")));
    m_settings->SaveSetting(QStringLiteral("useasp"), QStringLiteral(" 1"));
    auto publisher = makePublisher();
    publisher->setTimeoutMs(2000);
    QSignalSpy finished(publisher.get(), &RemoteScriptPublisher::sendingFinished);
    publisher->tmrUpdateIP_Timer();
    QVERIFY(m_log.size() >= 1);
    QCOMPARE(m_log[0], QStringLiteral("Sending IP to: http://localhost/sendip.asp"));
    QVERIFY(finished.wait(15000));
}

QTEST_GUILESS_MAIN(tst_RemoteScriptPublisher)
#include "tst_RemoteScriptPublisher.moc"
