#include "capture/EventLog.h"
#include "capture/Listener.h"
#include "capture/frmMain.h"
#include "core/SettingsStore.h"
#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/ManualClock.h"
#include "tests/mock/RecordingMainWindowHost.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {
const QByteArray Request = "GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/a.html\r\n\r\n";

struct Finished
{
    QByteArray request;
    QString address;
};

class Recorder : public QObject
{
public:
    explicit Recorder(Listener &listener)
    {
        connect(&listener, &Listener::requestFinished, this, [this](const QByteArray &r, const QString &a) {
            finished.push_back({ r, a });
        });
    }
    std::vector<Finished> finished;
};

std::unique_ptr<QTcpSocket> connectTo(quint16 port, const QHostAddress &host = QHostAddress::LocalHost)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(host, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

} // namespace

class tst_Listener : public QObject
{
    Q_OBJECT
private slots:
    void completeRequest();
    void headerSplitAcrossWrites_data();
    void headerSplitAcrossWrites();
    void partialThenClose();
    void emptyConnectionIsDropped();
    void manyClientsAtOnce();
    void headerCutAtLimit();
    void idleConnectionClosed();
    void oldestIdleMakesRoom();
    void tlsHandshakeRefused();
    void ipv6Visitor();
    void takenPortLogsBindError();
    void configuredPort_data();
    void configuredPort();
};

void tst_Listener::completeRequest()
{
    Listener listener;
    Recorder rec(listener);
    QString error;
    QVERIFY2(listener.listen(0, &error), qPrintable(error));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    client->write(Request);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].request, Request);
    QCOMPARE(rec.finished[0].address, QStringLiteral("127.0.0.1"));
    // The visitor sees the connection end without a single byte of reply.
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(client->readAll(), QByteArray());
    QVERIFY(listener.isListening());
    QCOMPARE(listener.openConnections(), 0);
    QTest::qWait(50);
    QCOMPARE(rec.finished.size(), size_t(1));
}

void tst_Listener::headerSplitAcrossWrites_data()
{
    QTest::addColumn<int>("splitAt");
    QTest::newRow("between CR LF pairs") << int(Request.size() - 2);
    QTest::newRow("inside first pair") << int(Request.size() - 3);
    QTest::newRow("before last byte") << int(Request.size() - 1);
    QTest::newRow("early") << 5;
}

void tst_Listener::headerSplitAcrossWrites()
{
    QFETCH(int, splitAt);
    Listener listener;
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    client->write(Request.left(splitAt));
    QVERIFY(client->waitForBytesWritten(2000));
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 1, 5000);
    // The first part has been read on its own and has not finished the request.
    QTRY_COMPARE_WITH_TIMEOUT(listener.receivedBytes(), qint64(splitAt), 5000);
    QCOMPARE(rec.finished.size(), size_t(0));
    client->write(Request.mid(splitAt));
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].request, Request);
    QTest::qWait(50);
    QCOMPARE(rec.finished.size(), size_t(1));
}

void tst_Listener::partialThenClose()
{
    Listener listener;
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    client->write("GET /t.gif HTTP/1.1\r\nReferer: http://x/");
    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].request, QByteArray("GET /t.gif HTTP/1.1\r\nReferer: http://x/"));
    QTest::qWait(50);
    QCOMPARE(rec.finished.size(), size_t(1));
}

void tst_Listener::emptyConnectionIsDropped()
{
    Listener listener;
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 1, 5000);
    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 0, 5000);
    QCOMPARE(rec.finished.size(), size_t(0));
}

void tst_Listener::manyClientsAtOnce()
{
    Listener listener;
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    constexpr int Clients = 200;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < Clients; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket *raw = socket.get();
        const QByteArray request
            = "GET / HTTP/1.1\r\nReferer: http://site.example/" + QByteArray::number(i) + "\r\n\r\n";
        connect(raw, &QTcpSocket::connected, raw, [raw, request] { raw->write(request); });
        raw->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        clients.push_back(std::move(socket));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(Clients), 20000);
    QSet<QByteArray> seen;
    for (const Finished &f : rec.finished)
        seen.insert(f.request);
    QCOMPARE(seen.size(), Clients);
    for (const auto &client : clients)
        QCOMPARE(client->error(), QAbstractSocket::RemoteHostClosedError);
}

void tst_Listener::headerCutAtLimit()
{
    ListenerLimits limits;
    limits.maxHeaderBytes = 64 * 1024;
    Listener listener(Clock::system(), limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    const QByteArray big = "GET / HTTP/1.1\r\nX: " + QByteArray(100 * 1024, 'a');
    client->write(big);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].request, big.left(64 * 1024));
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
}

void tst_Listener::idleConnectionClosed()
{
    ManualClock clock;
    ListenerLimits limits;
    limits.idleTimeoutMs = 15'000;
    Listener listener(clock, limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto quiet = connectTo(listener.serverPort());
    auto talking = connectTo(listener.serverPort());
    QVERIFY(quiet && talking);
    const QByteArray quietText("GET / HTTP/1.1\r\nReferer: quiet");
    const QByteArray talkingText("GET / HTTP/1.1\r\n");
    quiet->write(quietText);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 2, 5000);
    // Time moves on only once the listener has read each text, so each has its own activity time.
    QTRY_COMPARE_WITH_TIMEOUT(listener.receivedBytes(), qint64(quietText.size()), 5000);
    clock.advance(10'000);
    talking->write(talkingText);
    QTRY_COMPARE_WITH_TIMEOUT(listener.receivedBytes(), qint64(quietText.size() + talkingText.size()), 5000);
    clock.advance(5'000);
    listener.sweepIdle();
    // Only the quiet one has been silent for 15 s.
    QCOMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].request, QByteArray("GET / HTTP/1.1\r\nReferer: quiet"));
    QCOMPARE(listener.openConnections(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(quiet->state(), QAbstractSocket::UnconnectedState, 5000);
    clock.advance(10'000);
    listener.sweepIdle();
    QCOMPARE(rec.finished.size(), size_t(2));
    QCOMPARE(listener.openConnections(), 0);
}

void tst_Listener::oldestIdleMakesRoom()
{
    ManualClock clock;
    ListenerLimits limits;
    limits.maxConnections = 3;
    Listener listener(clock, limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectTo(listener.serverPort()));
        QVERIFY(clients.back());
        QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), i + 1, 5000);
        clock.advance(1000);
    }
    // The first connection becomes the most recently active one.
    clients[0]->write("first");
    QTRY_COMPARE_WITH_TIMEOUT(listener.receivedBytes(), qint64(5), 5000);
    clients.push_back(connectTo(listener.serverPort()));
    QVERIFY(clients.back());
    // The second one, idle the longest, was closed to make room; it had sent nothing.
    QTRY_COMPARE_WITH_TIMEOUT(clients[1]->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(listener.openConnections(), 3);
    QCOMPARE(clients[0]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(rec.finished.size(), size_t(0));
    clients[0]->write("\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].request, QByteArray("first\r\n\r\n"));
}

void tst_Listener::tlsHandshakeRefused()
{
    ManualClock clock;
    Listener listener(clock);
    Recorder rec(listener);
    QSignalSpy refused(&listener, &Listener::tlsRefused);
    QVERIFY(listener.listen(0, nullptr));
    auto send = [&](const QByteArray &bytes) {
        auto client = connectTo(listener.serverPort());
        QVERIFY(client);
        client->write(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
    };
    send(QByteArray("\x16\x03\x01\x02\x00", 5));
    QCOMPARE(refused.count(), 1);
    clock.advance(30'000);
    send(QByteArray("\x16\x03\x01", 3));
    QCOMPARE(refused.count(), 1);
    clock.advance(30'000);
    send(QByteArray("\x16\x03\x01", 3));
    QCOMPARE(refused.count(), 2);
    QCOMPARE(rec.finished.size(), size_t(0));
}

void tst_Listener::ipv6Visitor()
{
    Listener listener;
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort(), QHostAddress::LocalHostIPv6);
    if (!client)
        QSKIP("no IPv6 loopback on this machine");
    client->write(Request);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].address, QStringLiteral("::1"));
}

void tst_Listener::takenPortLogsBindError()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, TestUtil::freePort16()));
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("s.conf")));
    frmMainServices services;
    services.settings = &settings;
    services.connection = std::make_shared<FakeConnectionState>();
    RecordingMainWindowHost host;
    frmMain window(host, services);
    window.ListenOnPort(qint16(other.serverPort()));
    window.eventLog().flush();
    const QStringList lines = window.findChild<QPlainTextEdit *>(QStringLiteral("txtLog"))->toPlainText().split(u'\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(
        QStringLiteral("] Listening for connections on port: ") + QString::number(other.serverPort())));
    QVERIFY2(lines[1].contains(QStringLiteral("] Bind error: ")), qPrintable(lines[1]));
    QVERIFY(lines[1].size() > QStringLiteral("[00:00:00] Bind error: ").size());
    QVERIFY(!window.listener().isListening());
}

void tst_Listener::configuredPort_data()
{
    QTest::addColumn<QString>("stored"); // "%1" stands for a free port
    QTest::addColumn<bool>("listens");
    QTest::addColumn<QString>("loggedPort");
    QTest::newRow("blank, number, letter") << " %1x" << true << "%1";
    QTest::newRow("non-numeric gives port 0") << "abc" << true << "0";
    QTest::newRow("above 16 bits listens nowhere") << "40000" << false << "";
}

void tst_Listener::configuredPort()
{
    QFETCH(QString, stored);
    QFETCH(bool, listens);
    QFETCH(QString, loggedPort);
    const QString freePort = QString::number(TestUtil::freePort16());

    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("s.conf")));
    settings.SaveSetting(QStringLiteral("ListenPort"), QString(stored).replace(u"%1"_qs, freePort));
    frmMainServices services;
    services.settings = &settings;
    services.connection = std::make_shared<FakeConnectionState>();
    RecordingMainWindowHost host;
    frmMain window(host, services);
    auto *txtLog = window.findChild<QPlainTextEdit *>(QStringLiteral("txtLog"));
    window.listenOnConfiguredPort();
    window.eventLog().flush();
    QCOMPARE(window.listener().isListening(), listens);
    if (!listens) {
        QCOMPARE(txtLog->toPlainText(), QString());
        return;
    }
    QVERIFY(txtLog->toPlainText().endsWith(
        QStringLiteral("Listening for connections on port: ") + QString(loggedPort).replace(u"%1"_qs, freePort)));
    if (loggedPort != u"0")
        QCOMPARE(QString::number(window.listener().serverPort()), freePort);

    // The "Listen on port" icon listens again while online.
    QTest::mouseClick(window.findChild<QWidget *>(QStringLiteral("Image5")), Qt::LeftButton);
    window.eventLog().flush();
    QCOMPARE(txtLog->document()->blockCount(), 2);
    QVERIFY(window.listener().isListening());
}

QTEST_MAIN(tst_Listener)
#include "tst_Listener.moc"
