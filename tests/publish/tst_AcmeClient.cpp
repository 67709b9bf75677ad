#include "core/AcmeChallenges.h"
#include "publish/AcmeClient.h"
#include "publish/AcmeCrypto.h"
#include "tests/common/TestUtil.h"

#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <thread>

// A real order against Debian's pebble on loopback: the client's challenge answers are served by
// a small responder (as the listener serves them), pebble validates them and issues.
class tst_AcmeClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void obtainsACertificate();
    void unansweredChallengeFails();
    void directoryAddressThatIsNone();

private:
    AcmeOutcome runOrder(AcmeChallenges &clientBoard, const QString &domain);

    QTcpServer m_responder;
    AcmeChallenges m_served; // what the responder answers with
    QProcess m_pebble;
    QString m_directory;
    QString m_caFile;
};

void tst_AcmeClient::initTestCase()
{
    if (QStandardPaths::findExecutable(u"pebble"_qs).isEmpty())
        QSKIP("pebble is not installed (Debian package pebble)");
    const quint16 port = TestUtil::freePort16();
    QVERIFY(m_responder.listen(QHostAddress::Any, port));
    connect(&m_responder, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_responder.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray request = socket->peek(64 * 1024);
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->readAll();
                socket->write(m_served.responseFor(request).value_or(
                    QByteArrayLiteral("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")));
                socket->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_pebble.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_pebble.start(u"python3"_qs, { TestUtil::sourceRoot() + u"/tests/common/pebble_ca.py"_qs, QString::number(port) });
    QVERIFY(m_pebble.waitForStarted());
    QByteArray line;
    for (int i = 0; i < 600 && !line.contains('\n'); ++i) {
        m_pebble.waitForReadyRead(100);
        line += m_pebble.readAllStandardOutput();
        QVERIFY(m_pebble.state() == QProcess::Running);
    }
    const QList<QByteArray> words = line.trimmed().split(' ');
    QCOMPARE(words.size(), 3);
    QCOMPARE(words[0], QByteArray("READY"));
    m_directory = QString::fromLatin1(words[1]);
    m_caFile = QString::fromLatin1(words[2]);
}

void tst_AcmeClient::cleanupTestCase()
{
    if (m_pebble.state() == QProcess::Running) {
        m_pebble.closeWriteChannel();
        if (!m_pebble.waitForFinished(10000))
            m_pebble.kill();
    }
}

AcmeOutcome tst_AcmeClient::runOrder(AcmeChallenges &clientBoard, const QString &domain)
{
    AcmeRequest request;
    request.directoryUrl = m_directory;
    request.domain = domain;
    request.email = u"owner@example.org"_qs;
    request.caFile = m_caFile;
    request.pollLimitMs = 60000;
    const AcmeCrypto::Key account = AcmeCrypto::Key::generate();
    AcmeOutcome outcome;
    std::atomic<bool> done { false };
    // The order blocks; the responder needs this thread's event loop meanwhile.
    std::thread worker([&] {
        AcmeClient client(request, account, clientBoard);
        outcome = client.obtain();
        done = true;
    });
    [[maybe_unused]] const bool finished = QTest::qWaitFor([&] { return done.load(); }, 90000);
    worker.join();
    return outcome;
}

void tst_AcmeClient::obtainsACertificate()
{
    const AcmeOutcome outcome = runOrder(m_served, u"vistelle.test"_qs);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(outcome.certificatePem, QSsl::Pem);
    QVERIFY(chain.size() >= 2); // the leaf and pebble's intermediate
    QCOMPARE(chain.first().subjectAlternativeNames().values(QSsl::DnsEntry), QStringList { u"vistelle.test"_qs });
    QVERIFY(chain.first().expiryDate() > QDateTime::currentDateTimeUtc().addDays(30));
    const QSslKey key(outcome.keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    QVERIFY(!key.isNull());
    QVERIFY(m_served.isEmpty()); // every answer withdrawn
}

void tst_AcmeClient::unansweredChallengeFails()
{
    // The client publishes its answer where the responder does not look.
    AcmeChallenges elsewhere;
    const AcmeOutcome outcome = runOrder(elsewhere, u"unanswered.test"_qs);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.startsWith(u"the server could not validate unanswered.test (HTTP 200): "_qs),
        qPrintable(outcome.error));
    QCOMPARE(outcome.problemType, u"urn:ietf:params:acme:error:unauthorized"_qs);
    QVERIFY(elsewhere.isEmpty());
}

void tst_AcmeClient::directoryAddressThatIsNone()
{
    AcmeRequest request;
    request.directoryUrl = m_directory.chopped(3) + u"nothing-here"_qs;
    request.domain = u"vistelle.test"_qs;
    request.caFile = m_caFile;
    const AcmeCrypto::Key account = AcmeCrypto::Key::generate();
    AcmeClient client(request, account, m_served);
    const AcmeOutcome outcome = client.obtain();
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.startsWith(u"the address is no ACME directory (HTTP 404)"_qs), qPrintable(outcome.error));
    // Without the test CA the server's certificate is not trusted.
    request.directoryUrl = m_directory;
    request.caFile.clear();
    AcmeClient untrusting(request, account, m_served);
    const AcmeOutcome refused = untrusting.obtain();
    QVERIFY(refused.error.startsWith(u"could not reach the ACME server: "_qs));
}

QTEST_GUILESS_MAIN(tst_AcmeClient)
#include "tst_AcmeClient.moc"
