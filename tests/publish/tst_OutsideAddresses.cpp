#include "tests/common/TestUtil.h"

#include "core/SettingsStore.h"
#include "publish/OutsideAddresses.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_OutsideAddresses : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void storedValuesWin();
};

void tst_OutsideAddresses::defaults()
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("s.conf")));
    const OutsideAddresses a = OutsideAddresses::read(settings);
    QCOMPARE(a.echoPageUrl, QStringLiteral("https://api.ipify.org/"));
    QCOMPARE(a.accountSiteUrl, QStringLiteral("https://account.dyn.com/"));
    QCOMPARE(a.updateHostUrl, QStringLiteral("https://members.dyndns.org"));
    QCOMPARE(a.providerName, QStringLiteral("DynDNS"));
    QCOMPARE(a.caFile, QString());
    // The account site is https and ends in "/"; the update host is https too (it receives the
    // password), without a path.
    QVERIFY(a.accountSiteUrl.startsWith(QLatin1String("https://")) && a.accountSiteUrl.endsWith(u'/'));
    QVERIFY(a.updateHostUrl.startsWith(QLatin1String("https://")) && !a.updateHostUrl.endsWith(u'/'));
    for (const QString &url : { a.providerSiteUrl, a.updateStatusUrl, a.updateVersionUrl, a.soundsPageUrl })
        QVERIFY2(url.startsWith(QLatin1String("https://")), qPrintable(url));
    QCOMPARE(a.httpOptions().caFile, QString());
    QCOMPARE(a.httpOptions().timeoutMs, 10000);
}

void tst_OutsideAddresses::storedValuesWin()
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("s.conf")));
    // Keys compare without regard to letter case.
    settings.SaveSetting(QStringLiteral("echopageurl"), QStringLiteral("http://127.0.0.1:1/echo"));
    settings.SaveSetting(QStringLiteral("AccountSiteURL"), QStringLiteral("https://127.0.0.1:2/"));
    settings.SaveSetting(QStringLiteral("UPDATEHOSTURL"), QStringLiteral("http://127.0.0.1:3"));
    settings.SaveSetting(QStringLiteral("ProviderName"), QStringLiteral("Test DNS"));
    settings.SaveSetting(QStringLiteral("ProviderSiteURL"), QStringLiteral("https://p.test/"));
    settings.SaveSetting(QStringLiteral("UpdateStatusURL"), QStringLiteral("http://u.test/s"));
    settings.SaveSetting(QStringLiteral("UpdateVersionURL"), QStringLiteral("http://u.test/v"));
    settings.SaveSetting(QStringLiteral("SoundsPageURL"), QStringLiteral("https://s.test/"));
    settings.SaveSetting(QStringLiteral("CAFile"), QStringLiteral("/tmp/ca.pem"));
    const OutsideAddresses a = OutsideAddresses::read(settings);
    QCOMPARE(a.echoPageUrl, QStringLiteral("http://127.0.0.1:1/echo"));
    QCOMPARE(a.accountSiteUrl, QStringLiteral("https://127.0.0.1:2/"));
    QCOMPARE(a.updateHostUrl, QStringLiteral("http://127.0.0.1:3"));
    QCOMPARE(a.providerName, QStringLiteral("Test DNS"));
    QCOMPARE(a.providerSiteUrl, QStringLiteral("https://p.test/"));
    QCOMPARE(a.updateStatusUrl, QStringLiteral("http://u.test/s"));
    QCOMPARE(a.updateVersionUrl, QStringLiteral("http://u.test/v"));
    QCOMPARE(a.soundsPageUrl, QStringLiteral("https://s.test/"));
    QCOMPARE(a.httpOptions().caFile, QStringLiteral("/tmp/ca.pem"));
}

QTEST_GUILESS_MAIN(tst_OutsideAddresses)
#include "tst_OutsideAddresses.moc"
