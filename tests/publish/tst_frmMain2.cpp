// The host manager window against the fake provider (HTTPS with its test authority, on
// loopback): the login with the stored account, a refused login, the host list in page order,
// the current address of a listed and an unlisted name, an update refused before any traffic and
// a successful one (message, main window's label, log line, list refilled). Every message comes
// through the skinned message box; the web exchanges run on the thread pool.
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"
#include "core/SettingsStore.h"
#include "dialogs/frmMsgBox.h"
#include "publish/HostManager.h"
#include "publish/frmMain2.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/RecordingPublishHosts.h"
#include "tests/publish/FakeProvider.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

const QStringList PageOrder = { QStringLiteral("good.test"), QStringLiteral("nochg.test"),
    QStringLiteral("capgood.test"), QStringLiteral("badauth.test"), QStringLiteral("empty.test"),
    QStringLiteral("slow.test"), QStringLiteral("huge.test"), QStringLiteral("nomx.test"), QStringLiteral("4you.test"),
    QStringLiteral("Upper.Test"), QStringLiteral("static.test") };

// Web exchanges on loopback end within the client's time limit.
constexpr int ExchangeMs = 15000;

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class tst_frmMain2 final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_fake = std::make_unique<FakeProvider>();
        QVERIFY2(m_fake->isReady(), "the fake provider did not start");
        frmMsgBox::setBeepFn([this] { ++m_beeps; });
    }

    void init()
    {
        m_fake->reset();
        m_beeps = 0;
        m_settings = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.conf")));
        const QList<std::pair<QString, QString>> values = {
            { QStringLiteral("AccountSiteURL"), m_fake->accountSite() },
            { QStringLiteral("UpdateHostURL"), m_fake->accountSite().chopped(1) }, // https: no warning
            { QStringLiteral("EchoPageURL"), m_fake->plainSite() + QStringLiteral("/echo/html") },
            { QStringLiteral("CAFile"), m_fake->caFile() },
            { QStringLiteral("ProviderName"), QStringLiteral("FakeDNS") },
            { QStringLiteral("dyuser"), QStringLiteral("alice") },
            { QStringLiteral("dypass"), QStringLiteral("secret") },
        };
        for (const auto &[key, value] : values)
            m_settings->SaveSetting(key, value);
        m_host = RecordingHostManagerHost();
        m_box = std::make_unique<frmMsgBox>();
        m_window = new frmMain2(m_host, { m_settings.get(), std::make_shared<FakeConnectionState>(true), m_box.get() });
        m_window->load();
        m_window->show();
    }

    void cleanup()
    {
        delete m_window;
        m_box.reset();
    }

    void loadFillsTheStoredAccount()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("FakeDNS Update System"));
        QCOMPARE(m_window->tdTitleBar->Caption(), QStringLiteral("FakeDNS Update System"));
        QCOMPARE(m_window->lblLoginPrompt->text(), QStringLiteral("Please login to FakeDNS."));
        QCOMPARE(m_window->txtUsername->text(), QStringLiteral("alice"));
        QCOMPARE(m_window->txtPassword->text(), QStringLiteral("secret"));
        QVERIFY(m_window->fraLogin->isVisible());
        QVERIFY(!m_window->fraUpdate->isVisible());
        QCOMPARE(m_window->windowModality(), Qt::ApplicationModal);
        QCOMPARE(m_window->cmdExit->Caption(), QString());
        QCOMPARE(m_window->cmdExit->accessibleName(), QStringLiteral("Close"));
        QCOMPARE(m_window->cmdMinimize->accessibleName(), QStringLiteral("Minimize"));
    }

    void refusedLogin()
    {
        m_window->txtUsername->setText(QStringLiteral("refused"));
        QTest::mouseClick(m_window->cmdLogin, Qt::LeftButton);
        // Busy: the pointer, and no second press meanwhile.
        QVERIFY(m_window->isBusy());
        QCOMPARE(m_window->cursor().shape(), Qt::WaitCursor);
        QVERIFY(!m_window->cmdLogin->isEnabled());
        m_window->cmdLogin->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_box->isVisible(), ExchangeMs);
        QCOMPARE(m_box->lblPrompt->text(), HostManager::LoginFailed);
        QCOMPARE(m_beeps, 1);
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(m_fake->paths().filter(QStringLiteral("/account/login.html")).size(), 1);
        QCOMPARE(m_window->txtPassword->text(), QStringLiteral("secret")); // emptied once the box is closed
        QTest::mouseClick(m_box->cmd[0]->picBut(), Qt::LeftButton);
        QCOMPARE(m_window->txtPassword->text(), QString());
        QVERIFY(m_window->fraLogin->isVisible());
        QVERIFY(!m_window->fraUpdate->isVisible());
        QVERIFY(m_window->cmdLogin->isEnabled());
    }

    void loginShowsTheHosts()
    {
        login(LoginBy::EnterInThePassword);
        QVERIFY(!m_window->fraLogin->isVisible());
        QVERIFY(m_window->fraUpdate->isVisible());
        QCOMPARE(m_window->height(), frmMain2::UpdateHeight);
        QCOMPARE(items(m_window->lstHostNames), PageOrder);
        QCOMPARE(m_window->myHostList().keys(), PageOrder);
        QCOMPARE(m_window->txtIP->text(), QStringLiteral("203.0.113.7"));
        QCOMPARE(m_window->lblCurrentIP->text(), QStringLiteral("(select host to view current IP)"));
        QVERIFY(m_window->cmdUpdate->isDefault());
        QCOMPARE(m_beeps, 0);
        QVERIFY(!m_box->isVisible());
        // The stored blanks and texts are sent as they stand.
        QVERIFY(m_fake->paths().first().contains(QStringLiteral("username=%61%6C%69%63%65")));
    }

    void currentAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("listed") << QStringLiteral("capgood.test") << QStringLiteral("Current IP: 10.0.0.3");
        QTest::newRow("static") << QStringLiteral("static.test") << QStringLiteral("Current IP: 192.0.2.10");
        QTest::newRow("unlisted") << QStringLiteral("other.test") << QStringLiteral("Current IP: ");
        QTest::newRow("letter case counts") << QStringLiteral("GOOD.test") << QStringLiteral("Current IP: ");
        QTest::newRow("empty") << QString() << QStringLiteral("(select host to view current IP)");
    }
    void currentAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        login();
        m_window->lstHostNames->setEditText(QStringLiteral("x"));
        m_window->lstHostNames->setEditText(text);
        QCOMPARE(m_window->lblCurrentIP->text(), shown);
        QCOMPARE(m_window->myHostList().count(), PageOrder.size()); // a lookup adds nothing
    }

    void updateWithoutHostName()
    {
        login();
        m_fake->clearRequests();
        m_window->lstHostNames->setEditText(QString());
        QTest::mouseClick(m_window->cmdUpdate, Qt::LeftButton);
        QVERIFY(m_box->isVisible());
        QCOMPARE(m_box->lblPrompt->text(), HostManager::SelectHost);
        QCOMPARE(m_beeps, 1);
        QTest::mouseClick(m_box->cmd[0]->picBut(), Qt::LeftButton);
        QVERIFY(m_fake->paths().isEmpty());
    }

    void updateWithLetterInAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("letter") << QStringLiteral("10.0.0.x");
        QTest::newRow("blank") << QStringLiteral("10.0.0. 1");
    }
    void updateWithLetterInAddress()
    {
        QFETCH(QString, address);
        login();
        m_fake->clearRequests();
        m_window->lstHostNames->setCurrentText(QStringLiteral("good.test"));
        m_window->txtIP->setText(address);
        QSignalSpy finished(m_window, &frmMain2::exchangeFinished);
        QTest::mouseClick(m_window->cmdUpdate, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_box->isVisible(), ExchangeMs);
        QCOMPARE(m_box->lblPrompt->text(), HostManager::UpdateFailed);
        QCOMPARE(m_beeps, 1);
        QTest::mouseClick(m_box->cmd[0]->picBut(), Qt::LeftButton);
        QCOMPARE(finished.size(), 1);
        QVERIFY2(m_fake->paths().isEmpty(), qPrintable(m_fake->paths().join(u' ')));
        QVERIFY(m_host.labels.isEmpty());
        QVERIFY(m_host.log().isEmpty());
    }

    void successfulUpdate()
    {
        login();
        m_fake->clearRequests();
        m_window->lstHostNames->setCurrentText(QStringLiteral("good.test"));
        QCOMPARE(m_window->lblCurrentIP->text(), QStringLiteral("Current IP: 10.0.0.1"));
        m_window->txtIP->setText(QStringLiteral("198.51.100.23"));
        QSignalSpy finished(m_window, &frmMain2::exchangeFinished);
        QTest::keyClick(m_window->txtIP, Qt::Key_Return); // the default button
        QVERIFY(m_window->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(m_box->isVisible(), ExchangeMs);
        QCOMPARE(m_box->lblPrompt->text(),
            QStringLiteral("The IP address of good.test was successfully updated to: 198.51.100.23"));
        QCOMPARE(m_box->tdTitleBar->Caption(), QStringLiteral("Vistelle"));
        QCOMPARE(m_beeps, 0);
        QVERIFY(m_host.labels.isEmpty()); // after the message
        QTest::mouseClick(m_box->cmd[1]->picBut(), Qt::LeftButton); // either button closes it
        QCOMPARE(finished.size(), 1);
        QCOMPARE(m_host.labels, QStringList { QStringLiteral(" Current IP:198.51.100.23") });
        QCOMPARE(m_host.log(), QStringList { QStringLiteral("Updated IP Manually") });
        QVERIFY(m_fake->paths().filter(QStringLiteral("/nic/update?system=dyndns&hostname=")).size() == 1);
        // Refilled from the provider's pages.
        QCOMPARE(items(m_window->lstHostNames), PageOrder);
        QCOMPARE(m_window->myHostList().value(QStringLiteral("good.test")), QStringLiteral("198.51.100.23"));
        QCOMPARE(m_window->lblCurrentIP->text(), QStringLiteral("Current IP: 198.51.100.23"));
        QVERIFY(!m_window->isBusy());
    }

    // An empty address box: the client sends the public address, and the message, the label and
    // the log say which.
    void updateWithEmptyAddressNamesTheAddressSent()
    {
        login();
        m_window->lstHostNames->setCurrentText(QStringLiteral("static.test"));
        m_window->txtIP->clear();
        QTest::mouseClick(m_window->cmdUpdate, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_box->isVisible(), ExchangeMs);
        QCOMPARE(m_box->lblPrompt->text(),
            QStringLiteral("The IP address of static.test was successfully updated to: 203.0.113.7"));
        QTest::mouseClick(m_box->cmd[0]->picBut(), Qt::LeftButton);
        QCOMPARE(m_host.labels, QStringList { QStringLiteral(" Current IP:203.0.113.7") });
    }

    // The configured host is kept at this PC by the updater: the window says so first.
    void updatingTheConfiguredHostWarnsFirst()
    {
        m_settings->SaveSetting(QStringLiteral("dyname"), QStringLiteral("Good.test"));
        login();
        m_fake->clearRequests();
        m_window->lstHostNames->setCurrentText(QStringLiteral("good.test"));
        m_window->txtIP->setText(QStringLiteral("198.51.100.23"));
        const QString warning = QStringLiteral("Vistelle keeps good.test pointing at this PC and will set it back "
                                               "within a minute. Turn off Use DynDNS in Settings to keep the "
                                               "address you enter.");
        for (int button : { 1, 0 }) { // Cancel sends nothing, OK sends
            QTest::mouseClick(m_window->cmdUpdate, Qt::LeftButton);
            QVERIFY(m_box->isVisible());
            QCOMPARE(m_box->lblPrompt->text(), warning);
            QCOMPARE(m_box->cmd[1]->Caption(), QStringLiteral("Cancel"));
            QTest::mouseClick(m_box->cmd[button]->picBut(), Qt::LeftButton);
            QCOMPARE(m_window->isBusy(), button == 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_box->isVisible(), ExchangeMs);
        QVERIFY(m_box->lblPrompt->text().startsWith(QStringLiteral("The IP address of good.test was successfully")));
        QCOMPARE(m_fake->paths().filter(QStringLiteral("/nic/update?")).size(), 1);
        QTest::mouseClick(m_box->cmd[0]->picBut(), Qt::LeftButton);
        // With dynamic DNS off nothing keeps it, and nothing is asked.
        m_settings->SaveSetting(QStringLiteral("usedyndns"), QStringLiteral("0"));
        QTest::mouseClick(m_window->cmdUpdate, Qt::LeftButton);
        QVERIFY(m_window->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isBusy(), ExchangeMs);
        QCOMPARE(m_fake->paths().filter(QStringLiteral("/nic/update?")).size(), 2);
    }

    void closingWhileBusyIsSafe()
    {
        m_window->txtUsername->setText(QStringLiteral("alice"));
        QTest::mouseClick(m_window->cmdLogin, Qt::LeftButton);
        QVERIFY(m_window->isBusy());
        QTest::mouseClick(m_window->cmdExit->picBut(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(!m_window);
        // The worker ends on its own; nothing is shown for the closed window.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(ExchangeMs));
        QCoreApplication::processEvents();
        QVERIFY(!m_box->isVisible());
    }

private:
    enum class LoginBy { Button, EnterInThePassword };
    void login(LoginBy how = LoginBy::Button)
    {
        QSignalSpy finished(m_window, &frmMain2::exchangeFinished);
        if (how == LoginBy::Button)
            QTest::mouseClick(m_window->cmdLogin, Qt::LeftButton);
        else
            QTest::keyClick(m_window->txtPassword, Qt::Key_Return);
        QVERIFY(finished.wait(ExchangeMs));
        QVERIFY(m_window->fraUpdate->isVisible());
    }

    std::unique_ptr<FakeProvider> m_fake;
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    RecordingHostManagerHost m_host;
    std::unique_ptr<frmMsgBox> m_box;
    QPointer<frmMain2> m_window;
    int m_beeps = 0;
};

QTEST_MAIN(tst_frmMain2)
#include "tst_frmMain2.moc"
