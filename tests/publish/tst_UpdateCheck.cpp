#include "core/LogSink.h"
#include "tests/common/TestUtil.h"
#include "tests/publish/FakeProvider.h"

#include "core/SettingsStore.h"
#include "publish/OutsideAddresses.h"
#include "publish/UpdateCheck.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

class tst_UpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void comparesVersions_data();
    void comparesVersions();
    void buildVersionText();
    void fetchesBothFilesOffTheWindowThread();
    void failingFetchStaysPending_data();
    void failingFetchStaysPending();
    void secondRunWhileRunningFetchesNothing();
    void panelClickOpensOnlyWebAddresses_data();
    void panelClickOpensOnlyWebAddresses();
    void panelClickWhileDisabledDoesNothing();

private:
    QString textUrl(const QString &body, const QString &extra = QString()) const;
    void setFiles(const QString &statusUrl, const QString &versionUrl);

    std::unique_ptr<FakeProvider> m_fake;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
};

void tst_UpdateCheck::initTestCase()
{
    m_fake = std::make_unique<FakeProvider>();
    QVERIFY2(m_fake->isReady(), "the fake provider did not start");
}

void tst_UpdateCheck::init()
{
    m_fake->clearRequests();
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("settings.conf")));
}

void tst_UpdateCheck::cleanup()
{
    m_settings.reset();
    m_dir.reset();
}

QString tst_UpdateCheck::textUrl(const QString &body, const QString &extra) const
{
    return m_fake->plainSite() + QStringLiteral("/text?body=") + QString::fromLatin1(QUrl::toPercentEncoding(body))
        + extra;
}

void tst_UpdateCheck::setFiles(const QString &statusUrl, const QString &versionUrl)
{
    m_settings->SaveSetting(OutsideAddresses::UpdateStatusURLKey, statusUrl);
    m_settings->SaveSetting(OutsideAddresses::UpdateVersionURLKey, versionUrl);
}

void tst_UpdateCheck::comparesVersions_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("panelText");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");
    const QString none = QStringLiteral("No Updates Available");
    const QString click = QStringLiteral("Click to Download");
    const auto available
        = [](const char *version) -> QString { return QStringLiteral("Update Available ") + QLatin1String(version); };
    QTest::newRow("same") << QStringLiteral("1.2.3") << none << none << false;
    QTest::newRow("same and a line break") << QStringLiteral("1.2.3\r\n") << none << none << false;
    QTest::newRow("same with blanks") << QStringLiteral(" \t1.2.3 \n") << none << none << false;
    QTest::newRow("same with leading zeros") << QStringLiteral("01.2.003") << none << none << false;
    QTest::newRow("newer revision") << QStringLiteral("1.2.4") << available("1.2.4") << click << true;
    QTest::newRow("newer with a line break") << QStringLiteral("1.3.0\n") << available("1.3.0") << click << true;
    QTest::newRow("older") << QStringLiteral("1.2.2") << none << none << false;
    QTest::newRow("numbers, not text") << QStringLiteral("1.2.10") << available("1.2.10") << click << true;
    QTest::newRow("two-digit minor") << QStringLiteral("1.10") << available("1.10") << click << true;
    QTest::newRow("older two-digit text") << QStringLiteral("1.12.3") << available("1.12.3") << click << true;
    QTest::newRow("fourth part") << QStringLiteral("1.2.3.1") << available("1.2.3.1") << click << true;
    QTest::newRow("missing part is 0") << QStringLiteral("1.2") << none << none << false;
    QTest::newRow("major only") << QStringLiteral("2") << available("2") << click << true;
    QTest::newRow("huge number") << QStringLiteral("1.99999999999999999999999")
                                 << available("1.99999999999999999999999") << click << true;
    QTest::newRow("empty") << QString() << none << none << false;
    QTest::newRow("not a version") << QStringLiteral("1.2.3a") << none << none << false;
    QTest::newRow("error page") << QStringLiteral("<html>9.9.9</html>") << none << none << false;
    QTest::newRow("empty part") << QStringLiteral("2..0") << none << none << false;
    QTest::newRow("long text") << QStringLiteral("9") + QString(300, u'0') << none << none << false;
}

void tst_UpdateCheck::comparesVersions()
{
    QFETCH(QString, remote);
    QFETCH(QString, panelText);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);

    setFiles(textUrl(remote), textUrl(QStringLiteral("https://example.org/vistelle.tar.gz")));
    UpdateCheck check(m_settings.get());
    check.setRunningVersion(QStringLiteral("1.2.3"));
    QSignalSpy texts(&check, &UpdateCheck::panelTextChanged);
    QSignalSpy tips(&check, &UpdateCheck::panelToolTipChanged);
    QSignalSpy enables(&check, &UpdateCheck::panelEnabledChanged);
    QSignalSpy finished(&check, &UpdateCheck::finished);
    QVERIFY(check.UpdateCheckPending());

    check.run();
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0).at(0).toString(), QStringLiteral("Checking for updates"));
    QCOMPARE(texts.at(1).at(0).toString(), panelText);
    QCOMPARE(tips.size(), 1);
    QCOMPARE(tips.at(0).at(0).toString(), toolTip);
    QCOMPARE(enables.size(), 1);
    QCOMPARE(enables.at(0).at(0).toBool(), enabled);
    QCOMPARE(check.panelEnabled(), enabled);
    QCOMPARE(check.RemoteVersion(), remote.trimmed());
    QCOMPARE(check.DownloadAddress(), QStringLiteral("https://example.org/vistelle.tar.gz"));
    QVERIFY(!check.UpdateCheckPending());
}

void tst_UpdateCheck::buildVersionText()
{
    // Three plain decimal numbers.
    const QString text = UpdateCheck::buildVersionText();
    static const QRegularExpression form(QStringLiteral("^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$"));
    QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(UpdateCheck().runningVersion(), text);
}

void tst_UpdateCheck::fetchesBothFilesOffTheWindowThread()
{
    setFiles(textUrl(QStringLiteral("9.9.9"), QStringLiteral("&delay=1")), textUrl(QStringLiteral("http://x.test/d")));
    UpdateCheck check(m_settings.get());
    QSignalSpy finished(&check, &UpdateCheck::finished);
    QThread *appliedOn = nullptr;
    connect(&check, &UpdateCheck::panelEnabledChanged, this, [&appliedOn] { appliedOn = QThread::currentThread(); });

    check.run();
    // run() came back at once: the answer takes a second.
    QVERIFY(check.isRunning());
    QVERIFY(finished.isEmpty());
    QVERIFY(finished.wait(15000));
    QCOMPARE(appliedOn, thread());
    QVERIFY(!check.isRunning());

    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(requests[0].path.contains(QLatin1String("9.9.9")));
    QVERIFY(requests[1].path.contains(QLatin1String("x.test")));
    for (const auto &r : requests)
        QVERIFY(r.header(QStringLiteral("User-Agent")).startsWith(QLatin1String("Vistelle/")));
}

void tst_UpdateCheck::failingFetchStaysPending_data()
{
    QTest::addColumn<QString>("statusUrl");
    QTest::addColumn<QString>("versionUrl");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("status file missing") << QStringLiteral("/text?status=404&body=9.9.9")
                                         << QStringLiteral("/text?body=x") << 10000;
    QTest::newRow("version file broken") << QStringLiteral("/text?body=9.9.9")
                                         << QStringLiteral("/text?status=500&body=x") << 10000;
    QTest::newRow("too slow") << QStringLiteral("/text?body=9.9.9&delay=3") << QStringLiteral("/text?body=x") << 500;
    QTest::newRow("too large") << QStringLiteral("/big?bytes=2000000") << QStringLiteral("/text?body=x") << 10000;
    QTest::newRow("nothing listening") << QString() << QStringLiteral("/text?body=x") << 10000;
}

void tst_UpdateCheck::failingFetchStaysPending()
{
    QFETCH(QString, statusUrl);
    QFETCH(QString, versionUrl);
    QFETCH(int, timeoutMs);

    QString status = m_fake->plainSite() + statusUrl;
    if (statusUrl.isEmpty()) {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        status = QStringLiteral("http://127.0.0.1:%1/status.txt").arg(closed.serverPort());
    }
    setFiles(status, m_fake->plainSite() + versionUrl);
    UpdateCheck check(m_settings.get());
    check.setTimeoutMs(timeoutMs);
    QSignalSpy texts(&check, &UpdateCheck::panelTextChanged);
    QSignalSpy tips(&check, &UpdateCheck::panelToolTipChanged);
    QSignalSpy enables(&check, &UpdateCheck::panelEnabledChanged);
    QSignalSpy finished(&check, &UpdateCheck::finished);

    check.run();
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(check.UpdateCheckPending());
    // "Checking for updates", then the panel is empty again, disabled, with the reason.
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(1).at(0).toString(), QString());
    QCOMPARE(tips.size(), 1);
    QVERIFY2(tips.at(0).at(0).toString().startsWith(QStringLiteral("Update check failed: ")),
        qPrintable(tips.at(0).at(0).toString()));
    QVERIFY(tips.at(0).at(0).toString().size() > QStringLiteral("Update check failed: ").size());
    QCOMPARE(enables.size(), 1);
    QCOMPARE(enables.at(0).at(0).toBool(), false);
    QVERIFY(!check.panelEnabled());

    // The next run reads the addresses again and completes.
    setFiles(textUrl(QStringLiteral("9.9.9")), textUrl(QStringLiteral("http://x.test/d")));
    check.run();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000);
    QCOMPARE(finished.at(1).at(0).toBool(), true);
    QVERIFY(!check.UpdateCheckPending());
    QVERIFY(check.panelEnabled());
}

void tst_UpdateCheck::secondRunWhileRunningFetchesNothing()
{
    setFiles(textUrl(QStringLiteral("0.1"), QStringLiteral("&delay=1")), textUrl(QStringLiteral("x")));
    UpdateCheck check(m_settings.get());
    QSignalSpy texts(&check, &UpdateCheck::panelTextChanged);
    QSignalSpy finished(&check, &UpdateCheck::finished);
    check.run();
    check.run();
    QVERIFY(finished.wait(15000));
    QTest::qWait(200);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(texts.size(), 2);
    QCOMPARE(m_fake->requests().size(), 2);
}

void tst_UpdateCheck::panelClickOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("opened"); // empty: nothing opened
    QTest::newRow("https") << QStringLiteral("https://example.org/vistelle-2.0.tar.gz")
                           << QStringLiteral("https://example.org/vistelle-2.0.tar.gz");
    QTest::newRow("http with line break")
        << QStringLiteral("http://example.org/get\r\n") << QStringLiteral("http://example.org/get");
    QTest::newRow("upper-case scheme") << QStringLiteral("HTTP://example.org/")
                                       << QStringLiteral("http://example.org/");
    QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << QString();
    QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << QString();
    QTest::newRow("program") << QStringLiteral("/usr/bin/xterm") << QString();
    QTest::newRow("ftp") << QStringLiteral("ftp://example.org/x") << QString();
    QTest::newRow("no host") << QStringLiteral("http:///x") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void tst_UpdateCheck::panelClickOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(QString, opened);

    setFiles(textUrl(QStringLiteral("9.9.9")), textUrl(address));
    UpdateCheck check(m_settings.get());
    QStringList log;
    QList<QUrl> opens;
    QObject::connect(
        &Logger::instance(), &Logger::messageAdded, &check, [&log](const QString &line) { log.append(line); });
    check.setOpenDocument([&opens](const QUrl &url) { opens.append(url); });
    QSignalSpy finished(&check, &UpdateCheck::finished);
    check.run();
    QVERIFY(finished.wait(15000));
    QVERIFY(check.panelEnabled());
    QCOMPARE(check.DownloadAddress(), address);

    check.Panel_Click();
    if (opened.isEmpty()) {
        QVERIFY(opens.isEmpty());
        QCOMPARE(log.size(), 1);
        QVERIFY(
            log[0].startsWith(QLatin1String("Error: the update download address is not an http or https address: ")));
        QVERIFY(!log[0].contains(u'\n'));
    } else {
        QCOMPARE(opens.size(), 1);
        QCOMPARE(opens[0], QUrl(opened));
        QVERIFY(log.isEmpty());
    }
}

void tst_UpdateCheck::panelClickWhileDisabledDoesNothing()
{
    setFiles(textUrl(QStringLiteral("0.0.1")), textUrl(QStringLiteral("https://example.org/")));
    UpdateCheck check(m_settings.get());
    QList<QUrl> opens;
    check.setOpenDocument([&opens](const QUrl &url) { opens.append(url); });
    check.Panel_Click(); // before any check
    QSignalSpy finished(&check, &UpdateCheck::finished);
    check.run();
    QVERIFY(finished.wait(15000));
    QVERIFY(!check.panelEnabled());
    check.Panel_Click();
    QVERIFY(opens.isEmpty());
}

QTEST_GUILESS_MAIN(tst_UpdateCheck)
#include "tst_UpdateCheck.moc"
