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
    void unusableDomainReportedOnce();
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

void tst_CertificateKeeper::unusableDomainReportedOnce()
{
    m_settings->SaveSetting(u"AcmeDomain"_qs, u"bad name/../x"_qs);
    QVERIFY(!tickAndWait());
    m_clock.advance(CertificateKeeper::TickIntervalMs);
    QVERIFY(!tickAndWait());
    QCOMPARE(
        m_log, QStringList { u"AcmeDomain \"bad name/../x\" is no host name: no TLS certificate is requested"_qs });
    QVERIFY(m_requests.isEmpty());
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
