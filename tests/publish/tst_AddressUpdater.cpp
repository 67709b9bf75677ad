#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "publish/AddressUpdater.h"
#include "publish/OutsideAddresses.h"
#include "publish/UpdateCheck.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/ManualClock.h"
#include "tests/publish/FakeProvider.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString PublicAddress = QStringLiteral("203.0.113.7");
} // namespace

class tst_AddressUpdater : public QObject, public IAddressUpdaterView
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstTick_data();
    void firstTick();
    void sameAddressMeansNoLogin();
    void successfulUpdate();
    void refusedLoginPausesUntilSettingsChange();
    void finalAnswerPauses();
    void waitAnswersBackOff_data();
    void waitAnswersBackOff();
    void failedUpdateCheckKeepsTheTick();
    void busyTickDoesNothing();
    void offlineTickDoesNothing();
    void noAccountContactsNoProvider_data();
    void noAccountContactsNoProvider();
    void unreachableProviderBacksOff_data();
    void unreachableProviderBacksOff();
    void plainHttpUpdateHostWarnsOnce();

private:
    // IAddressUpdaterView: records what the updater showed.
    QString addressLabel() const override { return m_label; }
    void setAddressLabel(const QString &text) override { m_label = text; }
    void setTray(bool busy, const QString &toolTip) override
    {
        m_trayBusy << busy;
        m_trayTips << toolTip;
    }
    void setBusyCursor(bool busy) override { m_cursorBusy = busy; }
    void listen() override { ++m_listens; }

    // One tick with its web exchanges; false when it did not end in time.
    bool tick();
    int accountRequests() const;

    std::unique_ptr<FakeProvider> m_fake;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::shared_ptr<FakeConnectionState> m_state;
    std::unique_ptr<UpdateCheck> m_check;
    std::unique_ptr<AddressUpdater> m_updater;
    ManualClock m_clock;
    QStringList m_log;
    QString m_label;
    QList<bool> m_trayBusy;
    QStringList m_trayTips;
    int m_listens = 0;
    bool m_cursorBusy = false;
};

void tst_AddressUpdater::initTestCase()
{
    connect(&Logger::instance(), &Logger::messageAdded, this, [this](const QString &line) { m_log << line; });
    m_fake = std::make_unique<FakeProvider>();
    QVERIFY2(m_fake->isReady(), "the fake provider did not start");
}

void tst_AddressUpdater::init()
{
    m_fake->reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("s.conf")));
    m_settings->SaveSetting(OutsideAddresses::AccountSiteURLKey, m_fake->accountSite());
    m_settings->SaveSetting(OutsideAddresses::UpdateHostURLKey, m_fake->accountSite().chopped(1));
    m_settings->SaveSetting(OutsideAddresses::EchoPageURLKey, m_fake->plainSite() + QStringLiteral("/echo/plain"));
    m_settings->SaveSetting(OutsideAddresses::CAFileKey, m_fake->caFile());
    m_settings->SaveSetting(OutsideAddresses::ProviderNameKey, QStringLiteral("FakeDNS"));
    m_settings->SaveSetting(
        OutsideAddresses::UpdateStatusURLKey, m_fake->plainSite() + QStringLiteral("/text?body=1.0.0"));
    m_settings->SaveSetting(
        OutsideAddresses::UpdateVersionURLKey, m_fake->plainSite() + QStringLiteral("/text?body=x"));
    m_settings->SaveSetting(QStringLiteral("dyuser"), QStringLiteral("updater"));
    m_settings->SaveSetting(QStringLiteral("dypass"), QStringLiteral("pw"));
    m_settings->SaveSetting(QStringLiteral("dyname"), QStringLiteral("good.test"));
    m_state = std::make_shared<FakeConnectionState>();
    m_check = std::make_unique<UpdateCheck>(m_settings.get());
    m_check->setTimeoutMs(3000);
    m_log.clear();
    m_label = QStringLiteral(" Current IP:10.0.0.1");
    m_trayBusy.clear();
    m_trayTips.clear();
    m_listens = 0;

    m_updater = std::make_unique<AddressUpdater>(*m_settings, m_state, m_check.get(), *this, m_clock);
    m_updater->setTimeoutMs(3000);
}

void tst_AddressUpdater::cleanup()
{
    m_updater.reset();
    m_check.reset();
}

bool tst_AddressUpdater::tick()
{
    QSignalSpy finished(m_updater.get(), &AddressUpdater::tickFinished);
    m_updater->Timer2_Timer();
    // Time moves on while the exchanges run, so a successful update gets past its 2 s wait.
    for (int i = 0; i < 300 && finished.isEmpty(); ++i) {
        finished.wait(50);
        m_clock.advance(100);
        m_updater->checkUpdateWait();
    }
    return !finished.isEmpty();
}

int tst_AddressUpdater::accountRequests() const
{
    int n = 0;
    for (const FakeProvider::Request &r : m_fake->requests())
        n += r.site == u"account";
    return n;
}

void tst_AddressUpdater::firstTick_data()
{
    QTest::addColumn<QString>("usedyndns"); // "-": no key at all
    QTest::addColumn<int>("listens");
    QTest::newRow("on") << "1" << 1;
    QTest::newRow("off") << "0" << 0;
    QTest::newRow("off with blanks") << " 0 " << 0;
    QTest::newRow("missing counts as on") << "-" << 1;
    QTest::newRow("any other text counts as on") << "no" << 1;
}

void tst_AddressUpdater::firstTick()
{
    QFETCH(QString, usedyndns);
    QFETCH(int, listens);
    // "-" keeps the store without the key (the value is never written in this row).
    if (usedyndns != u"-")
        m_settings->SaveSetting(QStringLiteral("usedyndns"), usedyndns);
    QVERIFY(tick());
    QCOMPARE(m_updater->UpdateTicks(), 1);
    QCOMPARE(m_listens, listens);
    // The first tick never logs in.
    QCOMPARE(accountRequests(), 0);
    if (listens) {
        QCOMPARE(m_trayTips, QStringList { u"Vistelle"_qs });
        QCOMPARE(m_trayBusy, QList<bool> { false });
    }
    QVERIFY(!m_cursorBusy);
    // The update check ran once and is done.
    QTRY_VERIFY_WITH_TIMEOUT(!m_check->UpdateCheckPending(), 10000);
}

void tst_AddressUpdater::sameAddressMeansNoLogin()
{
    QVERIFY(tick());
    m_label = QStringLiteral(" Current IP:") + PublicAddress;
    m_fake->clearRequests();
    QVERIFY(tick());
    QCOMPARE(accountRequests(), 0);
    QVERIFY(!m_log.contains(QStringLiteral("Checking IP...")));
    QCOMPARE(m_label, QStringLiteral(" Current IP:") + PublicAddress);
}

void tst_AddressUpdater::successfulUpdate()
{
    QVERIFY(tick());
    QSignalSpy finished(m_updater.get(), &AddressUpdater::tickFinished);
    m_updater->Timer2_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(m_label, QStringLiteral(" Current IP:") + PublicAddress, 15000);
    // The success line waits until 2 s have passed since the attempt started.
    QCOMPARE(finished.count(), 0);
    QVERIFY(m_updater->isBusy());
    m_clock.advance(1000);
    m_updater->checkUpdateWait();
    QCOMPARE(finished.count(), 0);
    m_clock.advance(1001);
    m_updater->checkUpdateWait();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_log.size(), 2);
    QCOMPARE(m_log[0], QStringLiteral("Checking IP..."));
    QVERIFY2(m_log[1].startsWith(QStringLiteral("Updated IP:")), qPrintable(m_log[1]));
    QCOMPARE(m_listens, 2);
    QCOMPARE(m_trayTips.mid(1), (QStringList { u"Updating FakeDNS IP"_qs, u"Vistelle"_qs }));
    QCOMPARE(m_trayBusy.mid(1), (QList<bool> { true, false }));
    bool updated = false;
    for (const FakeProvider::Request &r : m_fake->requests())
        updated |= r.path.startsWith(QStringLiteral("/nic/update?"));
    QVERIFY(updated);
    // Now the shown address is current: the next tick stays quiet.
    m_fake->clearRequests();
    QVERIFY(tick());
    QCOMPARE(accountRequests(), 0);
}

void tst_AddressUpdater::refusedLoginPausesUntilSettingsChange()
{
    m_settings->SaveSetting(QStringLiteral("dyuser"), QStringLiteral("refused"));
    QVERIFY(tick());
    QVERIFY(tick());
    QCOMPARE(m_label, QStringLiteral("IP Update Failed"));
    QCOMPARE(m_log.mid(0, 2),
        (QStringList { u"Checking IP..."_qs,
            u"Your FakeDNS username or password is incorrect. Please edit your settings and try again."_qs }));
    QVERIFY(m_log.last().startsWith(QStringLiteral("Automatic IP updates paused: the provider refused the login")));
    QVERIFY(m_updater->isPaused());
    m_fake->clearRequests();
    QVERIFY(tick());
    QCOMPARE(accountRequests(), 0);
    m_settings->SaveSetting(QStringLiteral("dyuser"), QStringLiteral("updater"));
    QVERIFY(tick());
    QVERIFY(accountRequests() > 0);
    QVERIFY(!m_updater->isPaused());
}

void tst_AddressUpdater::finalAnswerPauses()
{
    m_settings->SaveSetting(QStringLiteral("dyname"), QStringLiteral("abuse.test"));
    QVERIFY(tick());
    QVERIFY(tick());
    QCOMPARE(m_label, QStringLiteral("Automatic Update Failed"));
    QVERIFY(m_log.contains(QStringLiteral("IP Update Failed. Please check username and password")));
    QVERIFY(m_log.last().contains(QStringLiteral("\"abuse\"")));
    QVERIFY(m_updater->isPaused());
    m_fake->clearRequests();
    m_clock.advance(24 * 3600 * 1000LL);
    QVERIFY(tick());
    QCOMPARE(m_fake->requests().size(), 0);
}

void tst_AddressUpdater::waitAnswersBackOff_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("reason");
    QTest::newRow("911") << "busy.test"
                         << "\"911\"";
    QTest::newRow("HTTP 503") << "down.test"
                              << "HTTP 503";
}

void tst_AddressUpdater::waitAnswersBackOff()
{
    QFETCH(QString, host);
    QFETCH(QString, reason);
    m_settings->SaveSetting(QStringLiteral("dyname"), host);
    QVERIFY(tick());
    QVERIFY(tick());
    QCOMPARE(m_label, QStringLiteral("Automatic Update Failed"));
    QVERIFY2(m_log.last().startsWith(QStringLiteral("Next automatic IP update attempt in 30 minutes")),
        qPrintable(m_log.last()));
    QVERIFY(m_log.last().contains(reason));
    m_fake->clearRequests();
    m_clock.advance(29 * 60'000);
    QVERIFY(tick());
    QCOMPARE(accountRequests(), 0);
    m_clock.advance(60'000);
    QVERIFY(tick());
    QVERIFY(accountRequests() > 0);
    QVERIFY(m_log.last().startsWith(QStringLiteral("Next automatic IP update attempt in 60 minutes")));
}

void tst_AddressUpdater::failedUpdateCheckKeepsTheTick()
{
    m_settings->SaveSetting(
        OutsideAddresses::UpdateStatusURLKey, m_fake->plainSite() + QStringLiteral("/text?status=500"));
    QVERIFY(tick());
    QCOMPARE(m_listens, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_check->isRunning(), 10000);
    QVERIFY(m_check->UpdateCheckPending());
    QVERIFY(tick());
    // The second tick tried the check again and still went on to the address comparison.
    QVERIFY(m_log.contains(QStringLiteral("Checking IP...")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_check->isRunning(), 10000);
    QVERIFY(m_check->UpdateCheckPending());
}

void tst_AddressUpdater::busyTickDoesNothing()
{
    QVERIFY(tick());
    QSignalSpy finished(m_updater.get(), &AddressUpdater::tickFinished);
    m_updater->Timer2_Timer();
    QVERIFY(m_updater->isBusy());
    m_updater->Timer2_Timer();
    QCOMPARE(m_updater->UpdateTicks(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_label, QStringLiteral(" Current IP:") + PublicAddress, 15000);
    m_clock.advance(3000);
    m_updater->checkUpdateWait();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_log.count(QStringLiteral("Checking IP...")), 1);
}

void tst_AddressUpdater::offlineTickDoesNothing()
{
    m_state->online = false;
    m_updater->Timer2_Timer();
    QCOMPARE(m_updater->UpdateTicks(), 0);
    QCOMPARE(m_listens, 0);
    QVERIFY(m_check->UpdateCheckPending());
    QVERIFY(!m_check->isRunning());
}

void tst_AddressUpdater::noAccountContactsNoProvider_data()
{
    QTest::addColumn<QString>("user"); // null: no key at all
    QTest::addColumn<QString>("host");
    QTest::newRow("nothing set") << QString() << QString();
    QTest::newRow("blank user name") << "  "
                                     << "good.test";
    QTest::newRow("empty host name") << "updater"
                                     << "";
    QTest::newRow("blank host name") << "updater"
                                     << " \t";
}

void tst_AddressUpdater::noAccountContactsNoProvider()
{
    QFETCH(QString, user);
    QFETCH(QString, host);
    m_dir = std::make_unique<QTemporaryDir>();
    m_updater.reset();
    m_check.reset();
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("fresh.conf")));
    m_settings->SaveSetting(OutsideAddresses::EchoPageURLKey, m_fake->plainSite() + QStringLiteral("/echo/plain"));
    m_settings->SaveSetting(OutsideAddresses::AccountSiteURLKey, m_fake->accountSite());
    m_settings->SaveSetting(OutsideAddresses::CAFileKey, m_fake->caFile());
    if (!user.isNull()) {
        m_settings->SaveSetting(QStringLiteral("dyuser"), user);
        m_settings->SaveSetting(QStringLiteral("dypass"), QStringLiteral("pw"));
        m_settings->SaveSetting(QStringLiteral("dyname"), host);
    }
    m_updater = std::make_unique<AddressUpdater>(*m_settings, m_state, nullptr, *this, m_clock);
    m_label = QStringLiteral(" Current IP:");

    for (int i = 0; i < 3; ++i)
        QVERIFY(tick());
    // No login anywhere: only the echo page was asked.
    QCOMPARE(accountRequests(), 0);
    for (const FakeProvider::Request &r : m_fake->requests())
        QCOMPARE(r.path, QStringLiteral("/echo/plain"));
    QCOMPARE(m_log, QStringList { u"Dynamic DNS is on but no account is set: open Settings... to set one"_qs });
    QCOMPARE(m_label, QStringLiteral(" Current IP:") + PublicAddress);
    QCOMPARE(m_listens, 1);
    QVERIFY(!m_updater->isPaused());
}

void tst_AddressUpdater::unreachableProviderBacksOff_data()
{
    QTest::addColumn<QString>("accountSite"); // %1: the fake's https site, %2: its http site, %3: a silent port
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("reason"); // in the log line, any letter case

    QTest::newRow("name lookup") << "https://account.vistelle-test.invalid/"
                                 << "updater"
                                 << "resol";
    QTest::newRow("connection") << "https://127.0.0.1:1/"
                                << "updater"
                                << "connect";
    QTest::newRow("certificate") << "%1"
                                 << "updater"
                                 << "certificate";
    QTest::newRow("time-out") << "https://127.0.0.1:%3/"
                              << "updater"
                              << "timed out";
    QTest::newRow("over-size page") << "%2/big?bytes=2000000&to="
                                    << "updater"
                                    << "too large";
    QTest::newRow("HTTP error") << "%2/text?status=503&body=down&to="
                                << "updater"
                                << "HTTP 503";
    QTest::newRow("no session cookie") << "%1"
                                       << "nocookie"
                                       << "session cookie";
}

void tst_AddressUpdater::unreachableProviderBacksOff()
{
    QFETCH(QString, accountSite);
    QFETCH(QString, user);
    QFETCH(QString, reason);
    QTcpServer silent; // accepts and never answers
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    accountSite.replace(QStringLiteral("%1"), m_fake->accountSite())
        .replace(QStringLiteral("%2"), m_fake->plainSite())
        .replace(QStringLiteral("%3"), QString::number(silent.serverPort()));
    m_settings->SaveSetting(OutsideAddresses::AccountSiteURLKey, accountSite);
    if (QTest::currentDataTag() == QLatin1String("certificate"))
        m_settings->SaveSetting(OutsideAddresses::CAFileKey, m_fake->otherCaFile());
    m_settings->SaveSetting(QStringLiteral("dyuser"), user);
    m_updater->setTimeoutMs(1000);

    QVERIFY(tick());
    QVERIFY(tick());
    QCOMPARE(m_label, QStringLiteral("IP Update Failed"));
    QCOMPARE(m_log.size(), 3);
    QCOMPARE(m_log[0], QStringLiteral("Checking IP..."));
    QVERIFY2(m_log[1].startsWith(QStringLiteral("Could not reach FakeDNS: "))
            && m_log[1].contains(reason, Qt::CaseInsensitive),
        qPrintable(m_log[1]));
    QVERIFY(!m_log.join(u'\n').contains(QStringLiteral("username or password is incorrect")));
    QVERIFY2(
        m_log[2].startsWith(QStringLiteral("Next automatic IP update attempt in 30 minutes")), qPrintable(m_log[2]));
    QVERIFY(!m_updater->isPaused());

    // Retried after the wait, not at every tick, not never.
    m_log.clear();
    m_clock.advance(29 * 60'000);
    QVERIFY(tick());
    QVERIFY(m_log.isEmpty());
    m_clock.advance(60'000);
    QVERIFY(tick());
    QVERIFY(m_log.contains(QStringLiteral("Checking IP...")));
    QVERIFY(m_log.last().startsWith(QStringLiteral("Next automatic IP update attempt in 60 minutes")));
}

void tst_AddressUpdater::plainHttpUpdateHostWarnsOnce()
{
    m_settings->SaveSetting(OutsideAddresses::UpdateHostURLKey, m_fake->plainSite());
    QVERIFY(tick());
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_label = QStringLiteral(" Current IP:10.0.0.1");
        QVERIFY(tick());
        QCOMPARE(m_label, QStringLiteral(" Current IP:") + PublicAddress);
    }
    QStringList warnings;
    for (const QString &line : std::as_const(m_log)) {
        if (line.startsWith(QStringLiteral("Warning: the update host ")))
            warnings << line;
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings[0].contains(m_fake->plainSite()) && warnings[0].contains(QStringLiteral("plain http")));
    // The https host of the other tests gave no warning: successfulUpdate logs two lines only.
}

QTEST_GUILESS_MAIN(tst_AddressUpdater)
#include "tst_AddressUpdater.moc"
