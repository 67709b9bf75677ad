#include "capture/Listener.h"
#include "core/FileLimits.h"
#include "tests/common/NoFreeDescriptors.h"
#include "tests/common/TestUtil.h"
#include "tests/mock/ManualClock.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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

std::unique_ptr<QTcpSocket> connectTo(
    quint16 port, const QHostAddress &host = QHostAddress::LocalHost, const QHostAddress &from = QHostAddress())
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull() && !socket->bind(from))
        return nullptr;
    socket->connectToHost(host, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

// A plain socket made now, connected later (when no new descriptor may be left).
struct RawClient
{
    RawClient()
        : fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    { }
    ~RawClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void connectTo(quint16 port) const
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address); // EINPROGRESS
    }
    int fd;
};

} // namespace

class tst_Listener : public QObject
{
    Q_OBJECT
private slots:
    void completeRequest();
    void headerSplitAcrossWrites_data();
    void headerSplitAcrossWrites();
    void partialThenClose();
    void emptyConnectionIsDropped_data();
    void emptyConnectionIsDropped();
    void manyClientsAtOnce();
    void headerCutAtLimit();
    void idleConnectionClosed();
    void oldestIdleMakesRoom();
    void floodFromOneSourceKeepsOthers();
    void slowHeadersGoFirstYoungConnectionsStay();
    void sourceKey_data();
    void sourceKey();
    void connectionCap_data();
    void connectionCap();
    void softFileLimitRaised();
    void descriptorShortage();
    void tlsHandshakeRefused();
    void ipv6Visitor();
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

void tst_Listener::emptyConnectionIsDropped_data()
{
    QTest::addColumn<int>("deferSeconds");
    QTest::newRow("taken at once") << 0;
    QTest::newRow("left to the kernel until it speaks") << ListenerLimits().deferAcceptSeconds;
}

void tst_Listener::emptyConnectionIsDropped()
{
    QFETCH(int, deferSeconds);
    ListenerLimits limits;
    limits.deferAcceptSeconds = deferSeconds;
    Listener listener(Clock::system(), limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    auto client = connectTo(listener.serverPort());
    QVERIFY(client);
    if (deferSeconds == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 1, 5000);
    } else {
        QTest::qWait(300);
        QCOMPARE(listener.openConnections(), 0);
    }
    client->disconnectFromHost();
    // A visitor after it: once its request is reported, the silent connection's end was seen.
    auto visitor = connectTo(listener.serverPort());
    QVERIFY(visitor);
    visitor->write(Request);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 0, 5000);
    QTest::qWait(50);
    QCOMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].request, Request);
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
        // From eight addresses: one address alone keeps at most 64 connections open.
        QVERIFY(raw->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(1 + i % 8))));
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
    limits.deferAcceptSeconds = 0; // silent connections are taken at once
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
    limits.deferAcceptSeconds = 0; // silent connections are taken at once
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

void tst_Listener::floodFromOneSourceKeepsOthers()
{
    ManualClock clock;
    ListenerLimits limits;
    limits.maxConnections = 6;
    limits.deferAcceptSeconds = 0; // silent connections are taken at once
    limits.maxPerSource = 3;
    Listener listener(clock, limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    // Connections are accepted in the order they were made.
    auto open = [&](const char *from, int count) {
        for (int i = 0; i < count; ++i) {
            clients.push_back(
                connectTo(listener.serverPort(), QHostAddress::LocalHost, QHostAddress(QString::fromLatin1(from))));
            QVERIFY(clients.back());
        }
    };
    const auto from
        = [&](const char *address) { return listener.openConnectionsFrom(QHostAddress(QString::fromLatin1(address))); };
    // The visitor connects first, so its connection is the one idle the longest.
    open("127.0.0.2", 1);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 1, 5000);
    open("127.0.0.1", 10);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 4, 5000);
    clock.advance(Listener::MinAgeForRoomMs);
    // Full: a new source's connection closes one of the busiest source's, not the visitor's.
    open("127.0.0.3", 2);
    open("127.0.0.4", 1);
    QTRY_COMPARE_WITH_TIMEOUT(from("127.0.0.4"), 1, 5000);
    QCOMPARE(listener.openConnections(), 6);
    QCOMPARE(from("127.0.0.1"), 2);
    QCOMPARE(from("127.0.0.3"), 2);
    QTcpSocket *visitor = clients.front().get();
    QCOMPARE(visitor->state(), QAbstractSocket::ConnectedState);
    visitor->write(Request);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
    QCOMPARE(rec.finished[0].address, QStringLiteral("127.0.0.2"));
    QCOMPARE(rec.finished[0].request, Request);
}

// Room is made from a header that trickles in for longer than a browser takes before the
// connection idle the longest; a connection younger than a second is never closed for room.
void tst_Listener::slowHeadersGoFirstYoungConnectionsStay()
{
    ManualClock clock;
    ListenerLimits limits;
    limits.maxConnections = 3;
    limits.deferAcceptSeconds = 0; // silent connections are taken at once
    Listener listener(clock, limits);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    const quint16 port = listener.serverPort();
    auto trickler = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.2"_qs));
    auto idle = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.3"_qs));
    QVERIFY(trickler && idle);
    trickler->write("GET /t.gif HTTP/1.1\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(listener.receivedBytes() > 0, 5000);
    clock.advance(Listener::SlowHeaderMs);
    trickler->write("H"); // a byte now and then: the most recently active
    QTRY_VERIFY_WITH_TIMEOUT(listener.receivedBytes() > 21, 5000);
    auto young = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.4"_qs));
    QVERIFY(young);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 3, 5000);

    // Full: the trickler goes, not the connection idle the longest.
    auto visitor = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.5"_qs));
    QVERIFY(visitor);
    QTRY_COMPARE_WITH_TIMEOUT(trickler->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(idle->state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 3, 5000);

    // Full again, with the young connections a second old at most: the idle one (older) goes for
    // the next, and then none may go: a further connection is closed at once.
    auto next = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.6"_qs));
    QVERIFY(next);
    QTRY_COMPARE_WITH_TIMEOUT(idle->state(), QAbstractSocket::UnconnectedState, 5000);
    auto refused = connectTo(port, QHostAddress::LocalHost, QHostAddress(u"127.0.0.7"_qs));
    QVERIFY(refused);
    QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QAbstractSocket::UnconnectedState, 5000);
    for (QTcpSocket *stays : { young.get(), visitor.get(), next.get() })
        QCOMPARE(stays->state(), QAbstractSocket::ConnectedState);
    visitor->write(Request);
    QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(2), 5000);
    QCOMPARE(rec.finished.back().request, Request);
}

void tst_Listener::sourceKey_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("one IPv4 address") << "192.0.2.1"
                                      << "192.0.2.1" << true;
    QTest::newRow("neighbouring IPv4 addresses") << "192.0.2.1"
                                                 << "192.0.2.2" << false;
    QTest::newRow("IPv4 mapped into IPv6") << "192.0.2.1"
                                           << "::ffff:192.0.2.1" << true;
    QTest::newRow("one IPv6 /64") << "2001:db8:1:2::1"
                                  << "2001:db8:1:2:ffff:ffff:ffff:ffff" << true;
    QTest::newRow("neighbouring IPv6 /64s") << "2001:db8:1:2::1"
                                            << "2001:db8:1:3::1" << false;
}

void tst_Listener::sourceKey()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QTEST(Listener::sourceKey(QHostAddress(a)) == Listener::sourceKey(QHostAddress(b)), "same");
}

void tst_Listener::connectionCap_data()
{
    QTest::addColumn<qint64>("descriptorLimit");
    QTest::addColumn<int>("cap");
    QTest::newRow("ample") << qint64(1 << 20) << 1000;
    QTest::newRow("1024") << qint64(1024) << 1024 - 128;
    QTest::newRow("512") << qint64(512) << 512 - 128;
    QTest::newRow("tiny: half") << qint64(200) << 100;
}

void tst_Listener::connectionCap()
{
    QFETCH(qint64, descriptorLimit);
    const ListenerLimits limits;
    QTEST(Listener::connectionCapFor(limits.maxConnections, descriptorLimit, limits.reservedDescriptors), "cap");
}

void tst_Listener::softFileLimitRaised()
{
    rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = qMin<rlim_t>(saved.rlim_max, 256);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    QCOMPARE(FileLimits::raiseToHardLimit(), qint64(saved.rlim_max));
    rlimit now {};
    ::getrlimit(RLIMIT_NOFILE, &now);
    QCOMPARE(now.rlim_cur, saved.rlim_max);
    Listener listener;
    QVERIFY(listener.listen(0, nullptr));
    QCOMPARE(listener.connectionCap(),
        Listener::connectionCapFor(1000, qint64(saved.rlim_max), ListenerLimits().reservedDescriptors));
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

void tst_Listener::descriptorShortage()
{
    ManualClock clock;
    ListenerLimits limits;
    limits.acceptRetryMs = 100;
    limits.deferAcceptSeconds = 0; // silent connections are taken at once
    Listener listener(clock, limits);
    Recorder rec(listener);
    QSignalSpy exhausted(&listener, &Listener::descriptorsExhausted);
    QSignalSpy acceptErrors(&listener, &Listener::acceptError);
    QVERIFY(listener.listen(0, nullptr));
    const quint16 port = listener.serverPort();

    const QByteArray idleText("GET / HTTP/1.1\r\nReferer: http://idle.example/");
    auto idle = connectTo(port);
    QVERIFY(idle);
    idle->write(idleText);
    QTRY_COMPARE_WITH_TIMEOUT(listener.receivedBytes(), qint64(idleText.size()), 5000);
    clock.advance(1000);
    auto recent = connectTo(port);
    QVERIFY(recent);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 2, 5000);
    const RawClient late;
    const RawClient later;
    {
        const NoFreeDescriptors squeeze;
        late.connectTo(port);
        // The connection idle the longest gives its descriptor to the new visitor at once, and is
        // reported like a visitor's own close.
        QTRY_COMPARE_WITH_TIMEOUT(rec.finished.size(), size_t(1), 5000);
        QCOMPARE(rec.finished[0].request, idleText);
        QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 2, 5000);
        QCOMPARE(recent->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(exhausted.count(), 1);
    }
    recent->disconnectFromHost();
    ::shutdown(late.fd, SHUT_WR);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 0, 5000);
    {
        // Nothing left to close: accepting rests between attempts instead of spinning.
        const NoFreeDescriptors squeeze;
        const qint64 failedBefore = listener.failedAccepts();
        clock.advance(58'000);
        later.connectTo(port);
        QTest::qWait(350);
        const qint64 failed = listener.failedAccepts() - failedBefore;
        QVERIFY2(failed >= 1 && failed <= 6, qPrintable(QString::number(failed)));
        QCOMPARE(exhausted.count(), 1); // at most one notice a minute
        clock.advance(2'000);
        QTRY_COMPARE_WITH_TIMEOUT(exhausted.count(), 2, 5000);
    }
    // Descriptors free again: the waiting visitor is served.
    QTRY_COMPARE_WITH_TIMEOUT(listener.openConnections(), 1, 5000);
    QCOMPARE(acceptErrors.count(), 0);
    QVERIFY(listener.isListening());
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

QTEST_GUILESS_MAIN(tst_Listener)
#include "tst_Listener.moc"
