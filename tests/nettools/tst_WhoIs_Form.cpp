// The whois window on the offscreen platform, against a whois server of the test's own.
#include "core/SettingsStore.h"
#include "nettools/WhoIs_Form.h"
#include "nettools/WhoisServers.h"
#include "tests/nettools/FakeWhoisServer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace {
// A window whose nine servers all point at the test's server.
struct Fixture
{
    Fixture()
        : settings(dir.filePath(u"settings.conf"_s))
    {
        for (int n = 1; n <= WhoisServers::Count; ++n)
            settings.SaveSetting(WhoisServers::key(n), server.entry());
    }

    QLineEdit *domain() const { return form.findChild<QLineEdit *>(u"Domain_Name"_s); }
    QComboBox *servers() const { return form.findChild<QComboBox *>(u"WhoIs_Server"_s); }
    QPushButton *button(const QString &name) const { return form.findChild<QPushButton *>(name); }
    QPlainTextEdit *response() const { return form.findChild<QPlainTextEdit *>(u"WhoIs_Response"_s); }

    QTemporaryDir dir;
    FakeWhoisServer server;
    SettingsStore settings;
    WhoIs_Form form { &settings };
};
} // namespace

class tst_WhoIs_Form : public QObject
{
    Q_OBJECT
private slots:
    void window();
    void opening_data();
    void opening();
    void answerIsPlainText();
    void emptyDomain();
    void cancelEndsTheExchange();
};

void tst_WhoIs_Form::window()
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(u"settings.conf"_s));
    WhoIs_Form form(&settings);
    QCOMPARE(form.objectName(), u"WhoIs_Form"_s);
    QCOMPARE(form.windowTitle(), u"Whois"_s);

    auto *servers = form.findChild<QComboBox *>(u"WhoIs_Server"_s);
    QVERIFY(servers);
    QStringList shown;
    for (int i = 0; i < servers->count(); ++i)
        shown << servers->itemText(i);
    QStringList expected;
    for (const QString &server : WhoisServers::defaults())
        expected << u' ' + server + u' ';
    QCOMPARE(shown, expected);
    QCOMPARE(servers->currentIndex(), 0);

    // Every control is named for assistive technology.
    QCOMPARE(form.findChild<QLineEdit *>(u"Domain_Name"_s)->accessibleName(), u"Domain Name"_s);
    QCOMPARE(servers->accessibleName(), u"WhoIs Server"_s);
    QCOMPARE(form.findChild<QPushButton *>(u"Send_Query_Button1"_s)->text(), u"Query"_s);
    QCOMPARE(form.findChild<QPushButton *>(u"Command1"_s)->text(), u"Cancel"_s);
    auto *response = form.findChild<QPlainTextEdit *>(u"WhoIs_Response"_s);
    QVERIFY(response->isReadOnly());
    QVERIFY(!response->accessibleName().isEmpty());
    QCOMPARE(form.client().Winsock()->objectName(), u"Winsock"_s);
}

void tst_WhoIs_Form::opening_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("queried");
    QTest::newRow("four labels") << "dsl-7.pool.example.net"
                                 << "example.net" << true;
    QTest::newRow("two labels") << "example.com"
                                << "example.com" << true;
    QTest::newRow("not resolved") << "IP: Can't Resolve"
                                  << "IP: Can't Resolve" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void tst_WhoIs_Form::opening()
{
    QFETCH(QString, caption);
    QFETCH(QString, domain);
    QFETCH(bool, queried);

    Fixture f;
    f.server.answer = "Registrant: Example Owner\r\n"_ba;
    f.response()->setPlainText(u"an earlier answer"_s);
    f.form.openFor(caption);
    QVERIFY(f.form.isVisible());
    QCOMPARE(f.form.windowModality(), Qt::ApplicationModal); // no parent here
    QCOMPARE(f.domain()->text(), domain);
    QCOMPARE(f.form.client().isRunning(), queried);
    if (queried) {
        QTRY_COMPARE(f.response()->toPlainText(), u"Registrant: Example Owner\n"_s);
        QCOMPARE(f.server.last().received, domain.toUtf8() + "\r\n");
    } else {
        QCOMPARE(f.response()->toPlainText(), QString());
        // Picking a server does not query either.
        emit f.servers()->activated(1);
        QVERIFY(!f.form.client().isRunning());
        QCOMPARE(f.server.connectionCount(), 0);
    }
}

void tst_WhoIs_Form::answerIsPlainText()
{
    Fixture f;
    f.server.answer = "<b>Registrant</b> <img src=\"x\"> &lt;\x1B<script>x</script>\r\n"_ba;
    f.form.openFor(u"example.com"_s);
    const QString expected = u"<b>Registrant</b> <img src=\"x\"> &lt;\uFFFD<script>x</script>\n"_s;
    QTRY_COMPARE(f.response()->toPlainText(), expected);
    const QTextBlock first = f.response()->document()->firstBlock();
    QCOMPARE(first.text(), expected.trimmed());
    QVERIFY(!first.charFormat().hasProperty(QTextFormat::FontWeight));
    QVERIFY(!f.response()->document()->toHtml().contains(u"<img"_s));
}

void tst_WhoIs_Form::emptyDomain()
{
    Fixture f;
    f.form.openFor(u"IP: Can't Resolve"_s);
    f.domain()->setText(u"   "_s);
    QSignalSpy finished(&f.form.client(), &WhoisClient::finished);
    QTest::mouseClick(f.button(u"Send_Query_Button1"_s), Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(f.response()->toPlainText(), u" No domain name was entered."_s);
    QTRY_VERIFY(f.server.connectionCount() == 1 && f.server.last().closed);
    QCOMPARE(f.server.last().received, QByteArray());
}

void tst_WhoIs_Form::cancelEndsTheExchange()
{
    Fixture f;
    f.server.answer = "Registrant: a server that never closes\r\n"_ba;
    f.server.keepOpen = true;
    f.form.openFor(u"www.example.com"_s);
    QTRY_VERIFY(f.response()->toPlainText().startsWith(u"Registrant"_s));
    f.servers()->setCurrentIndex(5);

    QTest::mouseClick(f.button(u"Command1"_s), Qt::LeftButton);
    QVERIFY(!f.form.isVisible());
    QVERIFY(!f.form.client().isRunning());
    QTRY_VERIFY(f.server.last().closed);

    // Opened again: the list keeps its selection, the answer starts afresh.
    f.server.keepOpen = false;
    f.server.answer = "second\r\n"_ba;
    f.form.openFor(u"example.org"_s);
    QCOMPARE(f.servers()->currentIndex(), 5);
    QTRY_COMPARE(f.response()->toPlainText(), u"second\n"_s);
    QCOMPARE(f.server.connectionCount(), 2);
}

QTEST_MAIN(tst_WhoIs_Form)
#include "tst_WhoIs_Form.moc"
