#include "core/AcmeChallenges.h"
#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "publish/CertificateKeeper.h"
#include "tests/mock/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class tst_CertificateKeeper : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void offWithoutDomain();
    void unusableDomainReportedOnce_data();
    void unusableDomainReportedOnce();
    void hugeRetryAfterIsCapped();
    void replacementChecked_data();
    void replacementChecked();
    void backoffDoublesToADay();
    void retryAfterIsObeyed();
    void newDomainStartsAfresh();
    void renewsWhenAThirdIsLeft();
    void storageIsPrivate();

private:
    // Runs one tick and waits for the order it starts (if any); returns whether one ran.
    bool tickAndWait();
    // A self-signed certificate for domain, valid for days from now, as certificate.pem and
    // certificate-key.pem of the keeper.
    void storeCertificate(const QString &domain, int days);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::shared_ptr<AcmeChallenges> m_challenges;
    ManualClock m_clock;
    std::unique_ptr<CertificateKeeper> m_keeper;
    QStringList m_log;
    QList<AcmeRequest> m_requests;
    AcmeOutcome m_next; // what the stand-in exchange answers
};

void tst_CertificateKeeper::init()
{
    QVERIFY(m_dir.isValid());
    QDir(CertificateKeeper::storageDir()).removeRecursively();
    m_settings = std::make_unique<SettingsStore>(m_dir.filePath(u"settings.conf"_qs));
    m_challenges = std::make_shared<AcmeChallenges>();
    m_keeper = std::make_unique<CertificateKeeper>(*m_settings, m_challenges, m_clock);
    m_log.clear();
    m_requests.clear();
    m_next = AcmeOutcome();
    m_next.error = u"the server said no"_qs;
    QObject::connect(&Logger::instance(), &Logger::messageAdded, m_keeper.get(),
        [this](const QString &line) { m_log.append(line); });
    m_keeper->setExchange([this](const AcmeRequest &request, const std::atomic<bool> &) {
        m_requests.append(request); // the test thread waits meanwhile
        return m_next;
    });
}

void tst_CertificateKeeper::cleanup()
{
    m_keeper.reset();
}

bool tst_CertificateKeeper::tickAndWait()
{
    QSignalSpy finished(m_keeper.get(), &CertificateKeeper::finished);
    m_keeper->tick();
    if (!m_keeper->isRunning())
        return false;
    return finished.wait(10000);
}

void tst_CertificateKeeper::storeCertificate(const QString &domain, int days)
{
    QVERIFY(QDir().mkpath(CertificateKeeper::storageDir()));
    QProcess openssl;
    openssl.start(u"openssl"_qs,
        { u"req"_qs, u"-x509"_qs, u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs, u"ec_paramgen_curve:P-256"_qs, u"-nodes"_qs,
            u"-days"_qs, QString::number(days), u"-subj"_qs, u"/CN="_qs + domain, u"-addext"_qs,
            u"subjectAltName=DNS:"_qs + domain, u"-keyout"_qs, CertificateKeeper::keyFile(), u"-out"_qs,
            CertificateKeeper::certificateFile() });
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);
}

void tst_CertificateKeeper::offWithoutDomain()
{
    QVERIFY(!tickAndWait());
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"   "_qs);
    QVERIFY(!tickAndWait());
    QVERIFY(m_requests.isEmpty());
    QVERIFY(m_log.isEmpty());
}

void tst_CertificateKeeper::unusableDomainReportedOnce_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("line");
    QTest::newRow("not a name") << "bad name/../x"
                                << ""
                                << "AcmeDomain \"bad name/../x\" is no host name: no TLS certificate is requested";
    QTest::newRow("a bare address") << "127.0.0.1"
                                    << ""
                                    << "AcmeDomain \"127.0.0.1\" is no host name: no TLS certificate is requested";
    QTest::newRow("plain http elsewhere")
        << "visits.example.org"
        << "http://ca.example/dir"
        << "AcmeDirectoryURL \"http://ca.example/dir\" refused: an ACME directory needs https (plain http only on "
           "this machine): no TLS certificate is requested";
}

void tst_CertificateKeeper::unusableDomainReportedOnce()
{
    QFETCH(QString, domain);
    QFETCH(QString, directory);
    QFETCH(QString, line);
    m_settings->SaveSetting(u"AcmeDomain"_qs, domain);
    if (!directory.isEmpty())
        m_settings->SaveSetting(u"AcmeDirectoryURL"_qs, directory);
    QVERIFY(!tickAndWait());
    m_clock.advance(CertificateKeeper::TickIntervalMs);
    QVERIFY(!tickAndWait());
    QCOMPARE(m_log, QStringList { line });
    QVERIFY(m_requests.isEmpty());
    // A test authority on this machine may speak plain http.
    if (!directory.isEmpty()) {
        m_settings->SaveSetting(u"AcmeDirectoryURL"_qs, u"http://127.0.0.1:14000/dir"_qs);
        QVERIFY(tickAndWait());
        QCOMPARE(m_requests.size(), 1);
        m_settings->SaveSetting(u"AcmeDirectoryURL"_qs, CertificateKeeper::DefaultDirectoryUrl);
    }
}

void tst_CertificateKeeper::hugeRetryAfterIsCapped()
{
    QCOMPARE(AcmeClient::retryAfterSeconds(u"9223372036854775"_qs, QDateTime::currentDateTimeUtc()),
        AcmeClient::MaxRetryAfterSeconds);
    QCOMPARE(AcmeClient::retryAfterSeconds(u"Fri, 31 Dec 9999 23:59:59 GMT"_qs, QDateTime::currentDateTimeUtc()),
        AcmeClient::MaxRetryAfterSeconds);
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"visits.example.org"_qs);
    m_next.retryAfterSeconds = 9'223'372'036'854'775LL;
    QVERIFY(tickAndWait());
    QVERIFY2(m_log.last().endsWith(u"next try in 720 h"_qs), qPrintable(m_log.last()));
    QCOMPARE(m_keeper->nextAttemptMs() - m_clock.monotonicMs(), AcmeClient::MaxRetryAfterSeconds * 1000);
}

void tst_CertificateKeeper::replacementChecked_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("otherKey");
    QTest::addColumn<int>("daysOn"); // the moment checked, in days after the certificate's start
    QTest::addColumn<int>("oldDaysLeft"); // the old certificate's end, in days after now; 0: none
    QTest::addColumn<QString>("problem");
    QTest::newRow("good") << "visits.example.org" << false << 1 << 0 << "";
    QTest::newRow("longer than the old one") << "visits.example.org" << false << 1 << 30 << "";
    QTest::newRow("another name") << "evil.example" << false << 1 << 0 << "it is not for evil.example";
    QTest::newRow("expired") << "visits.example.org" << false << 91 << 0 << "it is not valid now";
    QTest::newRow("not longer") << "visits.example.org" << false << 1 << 95
                                << "it expires no later than the one in use";
    QTest::newRow("another key") << "visits.example.org" << true << 1 << 0
                                 << "its public key is not the key of the request";
}

void tst_CertificateKeeper::replacementChecked()
{
    QFETCH(QString, domain);
    QFETCH(bool, otherKey);
    QFETCH(int, daysOn);
    QFETCH(int, oldDaysLeft);
    QFETCH(QString, problem);
    // A 90-day certificate for visits.example.org, and a key of its own beside it.
    storeCertificate(u"visits.example.org"_qs, 90);
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray certificate = read(CertificateKeeper::certificateFile());
    QByteArray key = read(CertificateKeeper::keyFile());
    if (otherKey) {
        storeCertificate(u"other.example.org"_qs, 90);
        key = read(CertificateKeeper::keyFile());
    }
    const QDateTime start = QSslCertificate::fromData(certificate).first().effectiveDate();
    const QDateTime now = start.addDays(daysOn);
    const QDateTime oldExpiry = oldDaysLeft ? now.addDays(oldDaysLeft) : QDateTime();
    QCOMPARE(CertificateKeeper::replacementProblem(domain, certificate, key, now, oldExpiry), problem);
    QVERIFY(!CertificateKeeper::replacementProblem(domain, "junk", key, now, {}).isEmpty());
}

void tst_CertificateKeeper::backoffDoublesToADay()
{
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"Visits.Example.org"_qs);
    m_settings->SaveSetting(u"AcmeEmail"_qs, u"owner@example.org"_qs);
    m_settings->SaveSetting(u"CAFile"_qs, u"/tmp/ca.pem"_qs);
    QVERIFY(tickAndWait());
    QCOMPARE(m_requests.size(), 1);
    QCOMPARE(m_requests[0].domain, u"visits.example.org"_qs);
    QCOMPARE(m_requests[0].directoryUrl, CertificateKeeper::DefaultDirectoryUrl);
    QCOMPARE(m_requests[0].email, u"owner@example.org"_qs);
    QCOMPARE(m_requests[0].caFile, u"/tmp/ca.pem"_qs);
    QCOMPARE(m_log.size(), 2);
    QCOMPARE(m_log[0],
        u"Requesting a TLS certificate for visits.example.org from "_qs + CertificateKeeper::DefaultDirectoryUrl);
    QCOMPARE(
        m_log[1], u"Could not obtain a TLS certificate for visits.example.org: the server said no; next try in 1 h"_qs);

    const qint64 hour = 3'600'000;
    const QList<qint64> waits { 2 * hour, 4 * hour, 8 * hour, 16 * hour, 24 * hour, 24 * hour };
    qint64 previous = hour;
    for (qint64 wait : waits) {
        // A minute before the wait ends nothing starts; at its end the next try does.
        m_clock.advance(previous - 60'000);
        QVERIFY(!tickAndWait());
        m_clock.advance(60'000);
        QVERIFY(tickAndWait());
        QCOMPARE(m_keeper->backoffMs(), wait);
        previous = wait;
    }
    QCOMPARE(m_requests.size(), 7);
    QVERIFY(m_log.last().endsWith(u"next try in 24 h"_qs));
}

void tst_CertificateKeeper::retryAfterIsObeyed()
{
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"visits.example.org"_qs);
    m_next.error = u"too many certificates (rateLimited)"_qs;
    m_next.retryAfterSeconds = 3 * 24 * 3600;
    QVERIFY(tickAndWait());
    QVERIFY(m_log.last().endsWith(u"next try in 72 h"_qs));
    m_clock.advance(3 * 24 * 3'600'000LL - 1);
    QVERIFY(!tickAndWait());
    m_clock.advance(1);
    // A shorter Retry-After does not shorten the doubling wait.
    m_next.retryAfterSeconds = 60;
    QVERIFY(tickAndWait());
    QCOMPARE(m_keeper->nextAttemptMs() - m_clock.monotonicMs(), 2 * 3'600'000LL);
}

void tst_CertificateKeeper::newDomainStartsAfresh()
{
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"old.example.org"_qs);
    QVERIFY(tickAndWait());
    m_clock.advance(60'000);
    QVERIFY(!tickAndWait());
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"new.example.org"_qs);
    QVERIFY(tickAndWait());
    QCOMPARE(m_requests.last().domain, u"new.example.org"_qs);
    QCOMPARE(m_keeper->backoffMs(), 3'600'000LL);
    m_settings->SaveSetting(u"AcmeDirectoryURL"_qs, u"https://localhost:14000/dir"_qs);
    QVERIFY(tickAndWait());
    QCOMPARE(m_requests.last().directoryUrl, u"https://localhost:14000/dir"_qs);
}

void tst_CertificateKeeper::renewsWhenAThirdIsLeft()
{
    storeCertificate(u"visits.example.org"_qs, 90);
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(CertificateKeeper::certificateFile());
    QCOMPARE(chain.size(), 1);
    const QDateTime issued = chain.first().effectiveDate();
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"visits.example.org"_qs);

    // 59 days in, 31 of 90 days are left: more than a third.
    m_clock.setDateTime(issued.addDays(59).toLocalTime());
    QVERIFY(!tickAndWait());
    QVERIFY(m_requests.isEmpty());
    QVERIFY(CertificateKeeper::certificateIsFresh(u"visits.example.org"_qs, issued.addDays(59)));
    QVERIFY(!CertificateKeeper::certificateIsFresh(u"other.example.org"_qs, issued.addDays(59)));
    // 61 days in: renewed.
    m_clock.setDateTime(issued.addDays(61).toLocalTime());
    m_next = AcmeOutcome();
    m_next.ok = true;
    QVERIFY(tickAndWait());
    QCOMPARE(m_requests.size(), 1);
    QCOMPARE(m_keeper->backoffMs(), 0);
    QVERIFY(m_log.last().startsWith(u"TLS certificate for visits.example.org obtained, valid until "_qs));
    // A certificate for another name is no certificate for this one.
    m_clock.setDateTime(issued.addDays(1).toLocalTime());
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"other.example.org"_qs);
    QVERIFY(tickAndWait());
    QCOMPARE(m_requests.size(), 2);
}

void tst_CertificateKeeper::storageIsPrivate()
{
    // The real exchange up to the first web request: it makes the folder and the account key.
    AcmeRequest request;
    request.directoryUrl = u"http://127.0.0.1:1/dir"_qs;
    request.domain = u"visits.example.org"_qs;
    request.timeoutMs = 2000;
    const std::atomic<bool> stop { false };
    const AcmeOutcome outcome = CertificateKeeper::obtainAndSave(request, *m_challenges, stop);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.startsWith(u"could not reach the ACME server: "_qs), qPrintable(outcome.error));
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(CertificateKeeper::storageDir()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0700));
    QCOMPARE(::stat(QFile::encodeName(CertificateKeeper::accountKeyFile()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
    // The same account key next time.
    QFile key(CertificateKeeper::accountKeyFile());
    QVERIFY(key.open(QIODevice::ReadOnly));
    const QByteArray first = key.readAll();
    key.close();
    CertificateKeeper::obtainAndSave(request, *m_challenges, stop);
    QVERIFY(key.open(QIODevice::ReadOnly));
    QCOMPARE(key.readAll(), first);
}

QTEST_GUILESS_MAIN(tst_CertificateKeeper)
#include "tst_CertificateKeeper.moc"
