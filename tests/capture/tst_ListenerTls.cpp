#include "capture/Listener.h"
#include "capture/TlsCredentials.h"
#include "core/AcmeChallenges.h"
#include "tests/mock/LogRecorder.h"
#include "tests/mock/ManualClock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QByteArray Request
    = "GET /t.gif HTTP/1.1\r\nHost: visits.example\r\nReferer: https://site.example/a.html\r\n\r\n";

struct Finished
{
    QByteArray request;
    QString address;
    bool tls = false;
};

class Recorder : public QObject
{
public:
    explicit Recorder(Listener &listener)
    {
        connect(&listener, &Listener::requestFinished, this, [this](const QByteArray &r, const QString &a, bool tls) {
            finished.push_back({ r, a, tls });
        });
        connect(&listener, &Listener::tlsHandshakeFailed, this, [this](const QString &r) { failures.append(r); });
        connect(&listener, &Listener::tlsRefused, this, [this] { ++refused; });
    }
    std::vector<Finished> finished;
    QStringList failures;
    int refused = 0;
};

// A self-signed P-256 certificate for name, made with openssl; returns whether it worked.
bool makeCertificate(const QString &name, const QString &certificate, const QString &key)
{
    QProcess openssl;
    openssl.start(u"openssl"_qs,
        { u"req"_qs, u"-x509"_qs, u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs, u"ec_paramgen_curve:P-256"_qs, u"-nodes"_qs,
            u"-days"_qs, u"2"_qs, u"-subj"_qs, u"/CN="_qs + name, u"-addext"_qs, u"subjectAltName=DNS:"_qs + name,
            u"-keyout"_qs, key, u"-out"_qs, certificate });
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

// Runs a blocking client on a thread of its own while this thread's event loop serves the
// listener.
template <typename Work> void inThread(Work work)
{
    std::atomic<bool> done { false };
    std::thread client([&] {
        work();
        done = true;
    });
    [[maybe_unused]] const bool finished = QTest::qWaitFor([&] { return done.load(); }, 30000);
    client.join();
}

// A TLS client: connects, completes the handshake, sends data, then waits for the listener to
// close. Returns the peer's certificate; *received gets every byte the listener sent after the
// handshake.
QSslCertificate tlsClient(
    quint16 port, const QHostAddress &host, const QByteArray &data, QByteArray *received, QSsl::SslProtocol protocol)
{
    QSslSocket socket;
    QSslConfiguration configuration = socket.sslConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(protocol);
    socket.setSslConfiguration(configuration);
    socket.connectToHostEncrypted(host.toString(), port, u"visits.example"_qs);
    if (!socket.waitForEncrypted(10000))
        return QSslCertificate();
    const QSslCertificate peer = socket.peerCertificate();
    socket.write(data);
    socket.waitForDisconnected(10000);
    if (received)
        *received = socket.readAll();
    return peer;
}

QSslCertificate tlsVisit(quint16 port, const QHostAddress &host, const QByteArray &data, QByteArray *received = nullptr,
    QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater)
{
    QSslCertificate peer;
    inThread([&] { peer = tlsClient(port, host, data, received, protocol); });
    return peer;
}

// A plain client: sends data and returns what came back before the listener closed.
QByteArray plainVisit(quint16 port, const QByteArray &data, const QHostAddress &host = QHostAddress::LocalHost)
{
    QByteArray received = "no connection";
    inThread([&] {
        QTcpSocket socket;
        socket.connectToHost(host, port);
        if (!socket.waitForConnected(5000))
            return;
        socket.write(data);
        socket.waitForBytesWritten(5000);
        socket.waitForDisconnected(10000);
        received = socket.readAll();
    });
    return received;
}

} // namespace

class tst_ListenerTls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tlsVisitLikePlain_data();
    void tlsVisitLikePlain();
    void plainVisitBesideTls();
    void withoutCertificateRefused();
    void oldProtocolsRefused();
    void garbageAfterHandshakeByte();
    void handshakeThatStopsHalfWay();
    void handshakeNeedsNotTheListenersThread();
    void handshakeWaitsForTheCertificateBeingRead();
    void thousandIdleTlsConnections();
    void headerCutAtLimitOverTls();
    void challengeAnswered();
    void renewedCertificateUsedNextConnection();
    void unusableFilesReported();

private:
    std::optional<QSslConfiguration> configuration();
    QTemporaryDir m_dir;
    QString m_certificate;
    QString m_key;
};

void tst_ListenerTls::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    QVERIFY(m_dir.isValid());
    m_certificate = m_dir.filePath(u"cert.pem"_qs);
    m_key = m_dir.filePath(u"key.pem"_qs);
    QVERIFY(makeCertificate(u"visits.example"_qs, m_certificate, m_key));
    QFile::setPermissions(m_key, QFile::ReadOwner | QFile::WriteOwner);
}

std::optional<QSslConfiguration> tst_ListenerTls::configuration()
{
    static TlsCredentials credentials([this] { return TlsCredentials::Files { m_certificate, m_key }; });
    return credentials.configuration();
}

void tst_ListenerTls::tlsVisitLikePlain_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("protocol");
    QTest::newRow("IPv4, TLS 1.3") << u"127.0.0.1"_qs << u"127.0.0.1"_qs << int(QSsl::TlsV1_3OrLater);
    QTest::newRow("IPv4, TLS 1.2") << u"127.0.0.1"_qs << u"127.0.0.1"_qs << int(QSsl::TlsV1_2);
    QTest::newRow("IPv6") << u"::1"_qs << u"::1"_qs << int(QSsl::TlsV1_2OrLater);
    QTest::newRow("IPv4 mapped into IPv6") << u"::ffff:127.0.0.1"_qs << u"127.0.0.1"_qs << int(QSsl::TlsV1_2OrLater);
}

void tst_ListenerTls::tlsVisitLikePlain()
{
    QFETCH(QString, host);
    QFETCH(QString, shown);
    QFETCH(int, protocol);
    Listener listener;
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QString error;
    QVERIFY2(listener.listen(0, &error), qPrintable(error));
    QByteArray received = "unset";
    const QSslCertificate peer
        = tlsVisit(listener.serverPort(), QHostAddress(host), Request, &received, QSsl::SslProtocol(protocol));
    QVERIFY(!peer.isNull());
    QCOMPARE(peer.subjectInfo(QSslCertificate::CommonName), QStringList { u"visits.example"_qs });
    QTRY_COMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].request, Request);
    QCOMPARE(rec.finished[0].address, shown);
    QVERIFY(rec.finished[0].tls); // the visit is marked as https in the history
    // Nothing after the handshake: no status line, no header, no body.
    QCOMPARE(received, QByteArray());
    QVERIFY(rec.failures.isEmpty());
    QCOMPARE(rec.refused, 0);
    QTRY_COMPARE(listener.openConnections(), 0);
}

void tst_ListenerTls::plainVisitBesideTls()
{
    Listener listener;
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    QCOMPARE(plainVisit(listener.serverPort(), "GET /t.gif HTTP/1.1\r\nReferer: http://site.example/p.html\r\n\r\n"),
        QByteArray());
    QTRY_COMPARE(rec.finished.size(), size_t(1));
    QVERIFY(rec.finished[0].request.contains("http://site.example/p.html"));
    QVERIFY(!rec.finished[0].tls);
}

void tst_ListenerTls::withoutCertificateRefused()
{
    Listener listener;
    listener.setTlsConfiguration([] { return std::optional<QSslConfiguration>(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    QVERIFY(tlsVisit(listener.serverPort(), QHostAddress::LocalHost, Request).isNull());
    QTRY_COMPARE(rec.refused, 1);
    QVERIFY(rec.finished.empty());
}

void tst_ListenerTls::oldProtocolsRefused()
{
    Listener listener;
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    // A client that offers only TLS 1.1 (or 1.0) gets no handshake.
    for (const QString &version : { u"-tls1_1"_qs, u"-tls1"_qs }) {
        QProcess client;
        client.start(u"openssl"_qs,
            { u"s_client"_qs, version, u"-cipher"_qs, u"DEFAULT@SECLEVEL=0"_qs, u"-connect"_qs,
                u"127.0.0.1:"_qs + QString::number(listener.serverPort()) });
        QVERIFY(client.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 20000));
        QVERIFY(client.exitCode() != 0);
    }
    QVERIFY(rec.finished.empty());
    QTRY_COMPARE(listener.openConnections(), 0);
    QTRY_COMPARE(rec.failures.size(), 1); // the second within the minute is not noted
}

void tst_ListenerTls::garbageAfterHandshakeByte()
{
    ManualClock clock;
    Listener listener(clock);
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    const auto garbage = [&] {
        // Only a TLS alert may come back, never HTTP.
        QVERIFY(!plainVisit(listener.serverPort(), QByteArray("\x16") + QByteArray(300, '\x99') + "\r\n\r\n")
                     .contains("HTTP"));
    };
    garbage();
    QTRY_COMPARE(rec.failures.size(), 1);
    QVERIFY2(!rec.failures[0].isEmpty(), "the reason");
    // Within the minute: no second line. After it: the next failure is noted again.
    garbage();
    QTRY_COMPARE(listener.openConnections(), 0);
    QCOMPARE(rec.failures.size(), 1);
    clock.advance(listener.limits().tlsNoticeIntervalMs);
    garbage();
    QTRY_COMPARE(rec.failures.size(), 2);
    QVERIFY(rec.finished.empty());
    // A real visitor still gets through.
    QVERIFY(!tlsVisit(listener.serverPort(), QHostAddress::LocalHost, Request).isNull());
    QTRY_COMPARE(rec.finished.size(), size_t(1));
}

void tst_ListenerTls::handshakeThatStopsHalfWay()
{
    ManualClock clock;
    Listener listener(clock);
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    // A record header announcing a 512-byte handshake message, then only part of it.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + QByteArray(40, '\x01'));
    QVERIFY(socket.waitForBytesWritten(5000));
    QTRY_COMPARE(listener.openConnections(), 1);
    QTest::qWait(50);
    QCOMPARE(listener.openConnections(), 1);
    // The handshake counts towards the idle limit.
    clock.advance(listener.limits().idleTimeoutMs);
    listener.sweepIdle(); // the workers close theirs and say so
    QTRY_COMPARE(listener.openConnections(), 0);
    QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(socket.readAll(), QByteArray()); // not even a TLS alert reached it after the cut
    QVERIFY(rec.finished.empty());
    QCOMPARE(rec.failures.size(), 1);
}

// Once a connection is handed over, its handshake completes while the listener's thread does
// something else entirely (here: spins without looking at its events).
void tst_ListenerTls::handshakeNeedsNotTheListenersThread()
{
    ManualClock clock;
    Listener listener(clock);
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    std::atomic<bool> encrypted { false };
    std::atomic<bool> mayFinish { false };
    std::thread client([&] {
        QSslSocket socket;
        QSslConfiguration tls = socket.sslConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(u"127.0.0.1"_qs, listener.serverPort(), u"visits.example"_qs);
        encrypted = socket.waitForEncrypted(10000);
        while (!mayFinish)
            std::this_thread::yield();
        socket.write(Request);
        socket.waitForDisconnected(10000);
    });
    // The listener's thread sees the handshake come and hands the connection over ...
    QTRY_COMPARE(listener.tlsConnections(), 1);
    // ... and then does not turn its event loop for as long as the handshake may take.
    QElapsedTimer spinning;
    spinning.start();
    while (!encrypted && spinning.elapsed() < 8000)
        std::this_thread::yield();
    const bool handshakeWhileBusy = encrypted;
    mayFinish = true;
    QTRY_COMPARE(rec.finished.size(), size_t(1));
    client.join();
    QVERIFY(handshakeWhileBusy);
    QCOMPARE(rec.finished[0].request, Request);
    QVERIFY(rec.finished[0].tls);
}

// The certificate is read on another thread: a handshake that comes before the first reading is
// done waits for it instead of being refused.
void tst_ListenerTls::handshakeWaitsForTheCertificateBeingRead()
{
    ManualClock clock;
    Listener listener(clock);
    std::optional<QSslConfiguration> loaded;
    bool pending = true;
    listener.setTlsConfiguration([&] { return loaded; });
    listener.setTlsPending([&] { return pending; });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    std::atomic<bool> done { false };
    QSslCertificate peer;
    std::thread client([&] {
        peer = tlsClient(listener.serverPort(), QHostAddress::LocalHost, Request, nullptr, QSsl::TlsV1_2OrLater);
        done = true;
    });
    QTRY_COMPARE(listener.openConnections(), 1);
    QTest::qWait(100);
    QCOMPARE(listener.tlsConnections(), 0);
    QCOMPARE(rec.refused, 0);
    loaded = configuration();
    pending = false;
    listener.tlsConfigurationReady();
    QTRY_VERIFY(done.load());
    client.join();
    QVERIFY(!peer.isNull());
    QCOMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].request, Request);
}

void tst_ListenerTls::thousandIdleTlsConnections()
{
    ManualClock clock;
    Listener listener(clock);
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 1000; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(socket->waitForConnected(5000));
        socket->write(QByteArray("\x16\x03\x01\x02\x00\x01", 6));
        idle.push_back(std::move(socket));
        if (i % 100 == 99)
            QTest::qWait(10);
    }
    QTRY_VERIFY(listener.openConnections() > 0);
    // A real visitor over TLS and one in plain text still get through, from another address.
    QByteArray received = "unset";
    QVERIFY(!tlsVisit(listener.serverPort(), QHostAddress(u"::1"_qs), Request, &received).isNull());
    QTRY_COMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].address, u"::1"_qs);
    QCOMPARE(received, QByteArray());
    QCOMPARE(plainVisit(listener.serverPort(), Request, QHostAddress::LocalHostIPv6), QByteArray());
    QTRY_COMPARE(rec.finished.size(), size_t(2));
    // None of the idle ones became a visit, also when they are cut off.
    clock.advance(listener.limits().idleTimeoutMs);
    listener.sweepIdle(); // the workers close theirs and say so
    QTRY_COMPARE(listener.openConnections(), 0);
    QTest::qWait(50);
    QCOMPARE(rec.finished.size(), size_t(2));
}

void tst_ListenerTls::headerCutAtLimitOverTls()
{
    ListenerLimits limits;
    limits.maxHeaderBytes = 1000;
    Listener listener(Clock::system(), limits);
    listener.setTlsConfiguration([this] { return configuration(); });
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    tlsVisit(listener.serverPort(), QHostAddress::LocalHost, "GET / HTTP/1.1\r\nReferer: " + QByteArray(5000, 'r'));
    QTRY_COMPARE(rec.finished.size(), size_t(1));
    QCOMPARE(rec.finished[0].request.size(), 1000);
}

void tst_ListenerTls::challengeAnswered()
{
    Listener listener;
    auto challenges = std::make_shared<AcmeChallenges>();
    listener.setAcmeChallenges(challenges);
    Recorder rec(listener);
    QVERIFY(listener.listen(0, nullptr));
    const auto ask = [&](const QByteArray &request) { return plainVisit(listener.serverPort(), request); };
    const QByteArray token = "Tok3n-of_the-order-in-progress";
    // No order in progress: an ordinary request (a visit without a page), and no byte back.
    QCOMPARE(ask("GET /.well-known/acme-challenge/" + token + " HTTP/1.1\r\nHost: a\r\n\r\n"), QByteArray());
    QTRY_COMPARE(rec.finished.size(), size_t(1));

    challenges->publish(token, token + ".thumb");
    QCOMPARE(ask("GET /.well-known/acme-challenge/" + token + " HTTP/1.1\r\nHost: visits.example\r\n\r\n"),
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
            + QByteArray::number(token.size() + 6) + "\r\nConnection: close\r\n\r\n" + token + ".thumb");
    // Another token, another method, a longer path: no answer.
    QCOMPARE(ask("GET /.well-known/acme-challenge/other HTTP/1.1\r\n\r\n"), QByteArray());
    QCOMPARE(ask("POST /.well-known/acme-challenge/" + token + " HTTP/1.1\r\n\r\n"), QByteArray());
    QCOMPARE(ask("GET /.well-known/acme-challenge/" + token + "/x HTTP/1.1\r\n\r\n"), QByteArray());
    QTRY_COMPARE(rec.finished.size(), size_t(4)); // the answered one is no visit
    challenges->withdraw(token);
    QCOMPARE(ask("GET /.well-known/acme-challenge/" + token + " HTTP/1.1\r\n\r\n"), QByteArray());
}

void tst_ListenerTls::renewedCertificateUsedNextConnection()
{
    const QString certificate = m_dir.filePath(u"renewed-cert.pem"_qs);
    const QString key = m_dir.filePath(u"renewed-key.pem"_qs);
    QVERIFY(makeCertificate(u"first.example"_qs, certificate, key));
    QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner);
    ManualClock clock;
    TlsCredentials credentials([&] { return TlsCredentials::Files { certificate, key }; }, clock);
    LogRecorder recorder;
    const QStringList &log = recorder.lines;
    Listener listener(clock);
    listener.setTlsConfiguration([&] { return credentials.configuration(); });
    QVERIFY(listener.listen(0, nullptr));
    QCOMPARE(tlsVisit(listener.serverPort(), QHostAddress::LocalHost, Request).subjectInfo(QSslCertificate::CommonName),
        QStringList { u"first.example"_qs });
    QCOMPARE(log.size(), 1);
    QVERIFY2(
        log[0].startsWith(u"TLS certificate loaded from "_qs + certificate + u" for first.example, valid until "_qs),
        qPrintable(log[0]));

    // Renewed on disk (a new key too): the next connection after the recheck gets it, with a
    // warning about the key that others may read now.
    QVERIFY(makeCertificate(u"second.example"_qs, certificate, key));
    QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    clock.advance(1000);
    QCOMPARE(tlsVisit(listener.serverPort(), QHostAddress::LocalHost, Request).subjectInfo(QSslCertificate::CommonName),
        QStringList { u"second.example"_qs });
    QCOMPARE(credentials.loadCount(), 2);
    QVERIFY(log.contains(u"Warning: TLS key file "_qs + key
        + u" can be read by other users: make it readable by its owner only (chmod 600)"_qs));
}

void tst_ListenerTls::unusableFilesReported()
{
    const QString certificate = m_dir.filePath(u"pair-cert.pem"_qs);
    const QString key = m_dir.filePath(u"pair-key.pem"_qs);
    const QString otherKey = m_dir.filePath(u"other-key.pem"_qs);
    QVERIFY(makeCertificate(u"pair.example"_qs, certificate, key));
    QVERIFY(makeCertificate(u"other.example"_qs, m_dir.filePath(u"other-cert.pem"_qs), otherKey));
    ManualClock clock;
    TlsCredentials::Files files { certificate, otherKey };
    TlsCredentials credentials([&] { return files; }, clock);
    LogRecorder recorder;
    const QStringList &log = recorder.lines;
    QVERIFY(!credentials.configuration());
    QCOMPARE(log,
        QStringList { u"TLS certificate "_qs + certificate + u" not used: the key in "_qs + otherKey
            + u" does not belong to the certificate"_qs });
    // Reported once, not at every connection.
    clock.advance(5000);
    QVERIFY(!credentials.configuration());
    QCOMPARE(log.size(), 1);
    // The right key: used; then a file of garbage in its place keeps the pair in use.
    files.key = key;
    clock.advance(1000);
    QVERIFY(credentials.configuration());
    QFile broken(key);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a key");
    broken.close();
    clock.advance(1000);
    QVERIFY(credentials.configuration());
    QVERIFY(log.last().endsWith(u" holds no usable private key"_qs));
    // A FIFO named as the certificate (no writer: opening it for reading would wait forever) is
    // refused at once, as is a folder.
    const QString fifo = m_dir.filePath(u"cert.fifo"_qs);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &notAFile : { fifo, m_dir.path() }) {
        files = { notAFile, key };
        clock.advance(1000);
        QVERIFY(!credentials.configuration());
        QCOMPARE(log.last(), u"TLS certificate "_qs + notAFile + u" not used: not a regular file"_qs);
    }
    // No files at all: no TLS, nothing logged.
    files = {};
    const qsizetype lines = log.size();
    clock.advance(1000);
    QVERIFY(!credentials.configuration());
    QCOMPARE(log.size(), lines);
}

QTEST_MAIN(tst_ListenerTls)
#include "tst_ListenerTls.moc"
