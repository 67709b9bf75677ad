// The server settings window: the first opening, the check boxes and their effects while the
// window fills itself, OK (stored in order, then the main window, the listener and the
// address-script timer), the port refusal, closing without OK, "Login" and the two links.
#include "core/SettingsStore.h"
#include "publish/ServerSettings.h"
#include "publish/frmSettings.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/RecordingPublishHosts.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// The message boxes on the screen now.
QStringList shownMessages()
{
    QStringList texts;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            texts << box->text();
    }
    return texts;
}

struct Fixture
{
    Fixture()
        : settings(dir.filePath(QStringLiteral("settings.conf")))
        , connection(std::make_shared<FakeConnectionState>(true))
    { }

    frmSettings *open()
    {
        window = new frmSettings(host, { &settings, connection });
        window->load();
        window->show();
        return window;
    }

    ~Fixture() { delete window; }

    QTemporaryDir dir;
    SettingsStore settings;
    std::shared_ptr<FakeConnectionState> connection;
    RecordingSettingsWindowHost host;
    QPointer<frmSettings> window;
};

} // namespace

class tst_frmSettings final : public QObject
{
    Q_OBJECT
private slots:
    void firstOpeningWithNoSettings()
    {
        Fixture f;
        frmSettings *w = f.open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Vistelle"));
        QCOMPARE(w->pos(), QPoint(0, 0));
        QCOMPARE(w->txtPort->text(), QStringLiteral("80"));
        QCOMPARE(w->txtHostName->text(), QStringLiteral("localhost"));
        QCOMPARE(w->txtRemotePath->text(), QStringLiteral("/sendip.asp"));
        for (QLineEdit *box : { w->dyusername, w->dypassword, w->dyname }) {
            QCOMPARE(box->text(), QString());
            QVERIFY(box->isEnabled());
        }
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(w->Check2->isChecked()); // dynamic DNS is on until turned off
        QVERIFY(!w->txtHostName->isEnabled());
        QVERIFY(!w->txtRemotePath->isEnabled());
        QCOMPARE(w->dypassword->echoMode(), QLineEdit::Password);
        QCOMPARE(w->Check2->text(), QStringLiteral("Use DynDNS"));
        QCOMPARE(shownMessages(), QStringList());
        QVERIFY(f.host.calls.isEmpty());
    }

    // A stored useasp of 1 counts as a click while the window fills itself: the warning is asked
    // for then, and shows above the window once the window is on the screen; the website boxes
    // are enabled.
    void openingWithAspOn()
    {
        Fixture f;
        f.settings.SaveSetting(QStringLiteral("useasp"), QStringLiteral("1"));
        f.settings.SaveSetting(QStringLiteral("RemoteHost"), QStringLiteral("www.example.com"));
        f.window = new frmSettings(f.host, { &f.settings, f.connection });
        f.window->load();
        QVERIFY(!f.window->isVisible());
        QCOMPARE(shownMessages(), QStringList());
        f.window->show();
        QTRY_COMPARE(shownMessages().size(), 1);
        const QStringList messages = shownMessages();
        QVERIFY(messages[0].startsWith(QStringLiteral("Use ONLY to track ASP pages when you do not have a Static "
                                                      "IP! If you have an updatable IP at account.dyn.com")));
        QVERIFY(f.window->Check1->isChecked());
        QVERIFY(f.window->txtHostName->isEnabled());
        QVERIFY(f.window->txtRemotePath->isEnabled());
        QCOMPARE(f.window->txtHostName->text(), QStringLiteral("www.example.com"));
    }

    // The boxes show what the program does with the stored text, and OK with no change keeps it.
    void boxesShowTheValueInForce_data()
    {
        QTest::addColumn<QString>("usedyndns"); // "<absent>": no key
        QTest::addColumn<QString>("useasp");
        QTest::addColumn<bool>("dynDnsOn");
        QTest::addColumn<bool>("aspOn");
        QTest::newRow("absent") << "<absent>"
                                << "<absent>" << true << false;
        QTest::newRow("0 and 0") << "0"
                                 << " 0 " << false << false;
        QTest::newRow("0 with blanks, 1") << " 0 "
                                          << "1" << false << true;
        QTest::newRow("other numbers") << "2"
                                       << "2" << true << true;
        QTest::newRow("words") << "yes"
                               << "yes" << true << false;
    }
    void boxesShowTheValueInForce()
    {
        QFETCH(QString, usedyndns);
        QFETCH(QString, useasp);
        Fixture f;
        if (usedyndns != u"<absent>")
            f.settings.SaveSetting(QStringLiteral("usedyndns"), usedyndns);
        if (useasp != u"<absent>")
            f.settings.SaveSetting(QStringLiteral("useasp"), useasp);
        frmSettings *w = f.open();
        QFETCH(bool, dynDnsOn);
        QCOMPARE(w->Check2->isChecked(), dynDnsOn);
        QFETCH(bool, aspOn);
        QCOMPARE(w->Check1->isChecked(), aspOn);
        QTest::mouseClick(w->cmdNext, Qt::LeftButton);
        QCOMPARE(f.settings.GetSetting(QStringLiteral("usedyndns")), QLatin1String(dynDnsOn ? "1" : "0"));
        QCOMPARE(f.settings.GetSetting(QStringLiteral("useasp")), QLatin1String(aspOn ? "1" : "0"));
    }

    void checkBoxEffects()
    {
        Fixture f;
        f.settings.SaveSetting(QStringLiteral("usedyndns"), QStringLiteral("1"));
        frmSettings *w = f.open();
        QVERIFY(w->Check2->isChecked());
        w->Check2->click();
        for (QLineEdit *box : { w->dyusername, w->dypassword, w->dyname })
            QVERIFY(!box->isEnabled());
        w->Check2->click();
        QVERIFY(w->dyname->isEnabled());
        w->Check1->click(); // checked by the user: the warning too
        QCOMPARE(shownMessages().size(), 1);
        QVERIFY(w->txtRemotePath->isEnabled());
        w->Check1->click();
        QVERIFY(!w->txtRemotePath->isEnabled());
    }

    void okStoresAndApplies()
    {
        Fixture f;
        frmSettings *w = f.open();
        w->txtPort->setText(QStringLiteral("8081"));
        // User and host name are kept without the blanks around them; the password as typed.
        w->dyusername->setText(QStringLiteral(" alice "));
        w->dypassword->setText(QStringLiteral(" s3cret"));
        w->dyname->setText(QStringLiteral("home.example.org "));
        w->Check1->click();
        w->txtHostName->setText(QStringLiteral("www.example.com"));
        w->txtRemotePath->setText(QStringLiteral("/ip/sendip.asp"));
        // The relay's user goes into the address; a wrong address is refused first.
        w->txtRelayUrl->setText(QStringLiteral("mqtt://broker.example/vistelle/+"));
        w->txtRelayUser->setText(QStringLiteral(" desk "));
        w->txtRelayPassword->setText(QStringLiteral("pw"));
        QTest::mouseClick(w->cmdNext, Qt::LeftButton);
        QCOMPARE(shownMessages().size(), 2); // the ASP warning and the refusal
        QVERIFY(shownMessages().join(u'|').contains(QStringLiteral("only for a broker on this machine")));
        QVERIFY(f.host.calls.isEmpty());
        w->txtRelayUrl->setText(QStringLiteral("mqtts://broker.example/vistelle/+"));
        QTest::mouseClick(w->cmdNext, Qt::LeftButton);

        const QList<std::pair<QString, QString>> stored = {
            { QStringLiteral("ListenPort"), QStringLiteral("8081") },
            { QStringLiteral("RemoteHost"), QStringLiteral("www.example.com") },
            { QStringLiteral("RemotePath"), QStringLiteral("/ip/sendip.asp") },
            { QStringLiteral("MainSettings"), QStringLiteral("OK") },
            { QStringLiteral("usedyndns"), QStringLiteral("1") },
            { QStringLiteral("dyuser"), QStringLiteral("alice") },
            { QStringLiteral("dypass"), QStringLiteral(" s3cret") },
            { QStringLiteral("dyname"), QStringLiteral("home.example.org") },
            { QStringLiteral("useasp"), QStringLiteral("1") },
            { QStringLiteral("RelaySubscribeURL"), QStringLiteral("mqtts://desk@broker.example/vistelle/+") },
            { QStringLiteral("RelayPassword"), QStringLiteral("pw") },
        };
        for (const auto &[key, value] : stored)
            QCOMPARE(f.settings.GetSetting(key), value);
        QCOMPARE(f.host.calls,
            (QStringList { QStringLiteral("showMainWindow"), QStringLiteral("listenOnPort 8081"),
                QStringLiteral("enablePublisher"), QStringLiteral("restartRelay") }));
        QTRY_VERIFY(!f.window); // closed and unloaded
        // Opened again, the address shows without its user.
        frmSettings *again = f.open();
        QCOMPARE(again->txtRelayUrl->text(), QStringLiteral("mqtts://broker.example/vistelle/+"));
        QCOMPARE(again->txtRelayUser->text(), QStringLiteral("desk"));
    }

    void portRefused_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("empty") << QString();
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("too big") << QStringLiteral("32768");
        QTest::newRow("far too big") << QStringLiteral("4294967377");
        QTest::newRow("negative") << QStringLiteral("-80");
        QTest::newRow("fraction") << QStringLiteral("80.5");
        QTest::newRow("letters") << QStringLiteral("eighty");
        QTest::newRow("trailing letters") << QStringLiteral("80x");
    }
    void portRefused()
    {
        QFETCH(QString, port);
        Fixture f;
        frmSettings *w = f.open();
        w->txtPort->setText(port);
        w->dyusername->setText(QStringLiteral("changed"));
        QTest::mouseClick(w->cmdNext, Qt::LeftButton);
        QCOMPARE(shownMessages(), QStringList { frmSettings::PortRefused });
        QVERIFY(f.window && f.window->isVisible());
        QVERIFY(!f.settings.contains(QStringLiteral("MainSettings")));
        QVERIFY(!f.settings.contains(QStringLiteral("dyuser")));
        QVERIFY(f.host.calls.isEmpty());
    }

    void portAccepted_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("number");
        QTest::newRow("one") << QStringLiteral("1") << 1;
        QTest::newRow("highest") << QStringLiteral("32767") << 32767;
        QTest::newRow("blanks around") << QStringLiteral(" 8080 ") << 8080;
    }
    void portAccepted()
    {
        QFETCH(QString, port);
        QFETCH(int, number);
        QCOMPARE(ServerSettings::portNumber(port), std::optional<qint16>(qint16(number)));
    }

    // Closing other than by OK stores nothing and brings the main window back.
    void closeWithoutOk_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("closed") << false;
        QTest::newRow("Esc in a box") << true;
    }
    void closeWithoutOk()
    {
        QFETCH(bool, byEscape);
        Fixture f;
        frmSettings *w = f.open();
        w->txtPort->setText(QStringLiteral("9999"));
        if (byEscape)
            QTest::keyClick(w->txtPort, Qt::Key_Escape);
        else
            w->close();
        QCOMPARE(f.host.calls, QStringList { QStringLiteral("showMainWindow") });
        QVERIFY(!f.settings.contains(QStringLiteral("ListenPort")));
        QTRY_VERIFY(!f.window);
    }

    void loginNeedsTheInternet()
    {
        Fixture f;
        frmSettings *w = f.open();
        f.connection->online = false;
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(shownMessages(), QStringList { QStringLiteral("You are not connected to the Internet") });
        QVERIFY(f.host.calls.isEmpty());
        f.connection->online = true;
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(f.host.calls, QStringList { QStringLiteral("openHostManager") });
    }

    void links()
    {
        Fixture f;
        f.settings.SaveSetting(QStringLiteral("ProviderName"), QStringLiteral("Fake<DNS>"));
        f.settings.SaveSetting(QStringLiteral("ProviderSiteURL"), QStringLiteral("https://provider.test/<b>"));
        f.settings.SaveSetting(QStringLiteral("SoundsPageURL"), QStringLiteral("https://sounds.test/"));
        frmSettings *w = f.open();
        QCOMPARE(w->Check2->text(), QStringLiteral("Use Fake<DNS>"));
        QVERIFY(w->Label13->text().contains(QStringLiteral(">provider.test<")));
        emit w->Label13->linkActivated(QStringLiteral("site"));
        QTest::mouseClick(w->Image6, Qt::LeftButton);
        QCOMPARE(w->Image6->toolTip(), QStringLiteral("Get More Sounds"));
        QCOMPARE(f.host.calls,
            (QStringList { QStringLiteral("openDocument https://provider.test/<b>"),
                QStringLiteral("openDocument https://sounds.test/") }));
    }
};

QTEST_MAIN(tst_frmSettings)
#include "tst_frmSettings.moc"
