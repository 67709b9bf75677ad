#include "alerts/DesktopNotifier.h"
#include "tests/mock/LogRecorder.h"
#include "tests/mock/ManualClock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// A notification server of the test's own on a bus of the test's own: it records every Notify.
class FakeNotificationServer final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        uint replaces;
        QString summary, body;
        QStringList actions;
    };
    QList<Call> calls;
    bool markup = false;

public slots:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
        const QStringList &actions, const QVariantMap &, int)
    {
        calls.append({ replaces, summary, body, actions });
        return replaces != 0 ? replaces : uint(calls.size()) + 100;
    }
    QStringList GetCapabilities()
    {
        return markup ? QStringList { u"actions"_qs, u"body"_qs, u"body-markup"_qs } : QStringList { u"actions"_qs };
    }
};

class tst_DesktopNotifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void burstReplacesOneNotification();
    void actionsAndPlainText_data();
    void actionsAndPlainText();
    void noServiceIsNotedOnce();

private:
    QDBusConnection client(const QString &name) { return QDBusConnection::connectToBus(m_address, name); }
    void emitSignal(const char *name, const QVariantList &arguments);

    QProcess m_daemon;
    QString m_address;
    FakeNotificationServer m_server;
};

void tst_DesktopNotifier::initTestCase()
{
    m_daemon.start(u"dbus-daemon"_qs, { u"--session"_qs, u"--nofork"_qs, u"--print-address=1"_qs });
    if (!m_daemon.waitForStarted(5000))
        QSKIP("dbus-daemon is not installed");
    QVERIFY(m_daemon.waitForReadyRead(5000));
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QDBusConnection server = client(u"server"_qs);
    QVERIFY(server.isConnected());
    QVERIFY(server.registerObject(DesktopNotifier::Path, &m_server, QDBusConnection::ExportAllSlots));
    QVERIFY(server.registerService(DesktopNotifier::Service));
}

void tst_DesktopNotifier::cleanupTestCase()
{
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

void tst_DesktopNotifier::emitSignal(const char *name, const QVariantList &arguments)
{
    QDBusMessage message
        = QDBusMessage::createSignal(DesktopNotifier::Path, DesktopNotifier::Service, QString::fromLatin1(name));
    message.setArguments(arguments);
    QVERIFY(client(u"server"_qs).send(message));
}

// Twenty visits within 3 s leave one notification; one after the display time is a new one.
void tst_DesktopNotifier::burstReplacesOneNotification()
{
    m_server.calls.clear();
    ManualClock clock;
    DesktopNotifier notifier(clock, client(u"burst"_qs));
    for (int i = 0; i < 20; ++i) {
        notifier.notify(u"Germany"_qs, u"Visited page: http://site.example/  %1"_qs.arg(i), u"192.0.2.1"_qs,
            u"http://site.example/%1"_qs.arg(i));
        // Each answer comes before the next visit, as on a desktop where visits are seconds apart.
        QTRY_COMPARE(m_server.calls.size(), i + 1);
        QTRY_VERIFY(notifier.currentId() != 0);
        clock.advance(150);
    }
    const uint first = notifier.currentId();
    QCOMPARE(m_server.calls.first().replaces, 0u);
    for (qsizetype i = 1; i < m_server.calls.size(); ++i)
        QCOMPARE(m_server.calls.at(i).replaces, first);
    clock.advance(DesktopNotifier::DisplayMs);
    notifier.notify(u"France"_qs, u"Visited page: /"_qs);
    QTRY_COMPARE(m_server.calls.size(), 21);
    QCOMPARE(m_server.calls.last().replaces, 0u);
    QCOMPARE(m_server.calls.last().actions, QStringList());
}

void tst_DesktopNotifier::actionsAndPlainText_data()
{
    QTest::addColumn<bool>("markup");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("actions");
    const QStringList both { u"whois"_qs, u"Whois"_qs, u"open"_qs, u"Open page"_qs };
    const QStringList whoisOnly { u"whois"_qs, u"Whois"_qs };
    QTest::newRow("plain server") << false << u"https://site.example/a?b=1&c=<2>"_qs
                                  << u"https://site.example/a?b=1&c=<2>"_qs << both;
    QTest::newRow("markup is escaped") << true << u"https://site.example/a?b=1&c=<2>"_qs
                                       << u"https://site.example/a?b=1&amp;c=&lt;2&gt;"_qs << both;
    QTest::newRow("a local file is not offered")
        << false << u"file:///etc/passwd"_qs << u"file:///etc/passwd"_qs << whoisOnly;
    QTest::newRow("control characters go")
        << false << u"http://a.example/\x1b[31mred"_qs << u"http://a.example/\uFFFD[31mred"_qs << both;
}

void tst_DesktopNotifier::actionsAndPlainText()
{
    QFETCH(bool, markup);
    QFETCH(QString, page);
    QFETCH(QString, body);
    QFETCH(QStringList, actions);
    m_server.calls.clear();
    m_server.markup = markup;
    ManualClock clock;
    DesktopNotifier notifier(clock, client(QString::fromLatin1(QTest::currentDataTag())));
    QSignalSpy whois(&notifier, &DesktopNotifier::whoisRequested);
    QSignalSpy open(&notifier, &DesktopNotifier::openPageRequested);
    // The capabilities are asked first; the first visit comes later.
    QTRY_VERIFY(notifier.capabilitiesKnown());
    notifier.notify(u"Visitor: 192.0.2.7"_qs, page, u"192.0.2.7"_qs, page);
    QTRY_VERIFY(notifier.currentId() != 0);
    QCOMPARE(m_server.calls.size(), 1);
    QCOMPARE(m_server.calls[0].body, body);
    QCOMPARE(m_server.calls[0].actions, actions);

    // Another program's notification: nothing happens.
    emitSignal("ActionInvoked", { notifier.currentId() + 1, u"whois"_qs });
    emitSignal("ActionInvoked", { notifier.currentId(), u"whois"_qs });
    QTRY_COMPARE(whois.size(), 1);
    QCOMPARE(whois[0][0].toString(), u"192.0.2.7"_qs);
    emitSignal("ActionInvoked", { notifier.currentId(), u"open"_qs });
    if (actions.contains(u"open"_qs)) {
        QTRY_COMPARE(open.size(), 1);
        QCOMPARE(open[0][0].toString(), page);
    } else {
        QTest::qWait(100);
        QCOMPARE(open.size(), 0);
    }
    QCOMPARE(whois.size(), 1);
}

void tst_DesktopNotifier::noServiceIsNotedOnce()
{
    QDBusConnection server = client(u"server"_qs);
    QVERIFY(server.unregisterService(DesktopNotifier::Service));
    LogRecorder log;
    ManualClock clock;
    DesktopNotifier notifier(clock, client(u"alone"_qs));
    notifier.notify(u"a"_qs, u"b"_qs);
    notifier.notify(u"a"_qs, u"b"_qs);
    QTRY_COMPARE(log.lines.size(), 1);
    QTest::qWait(200);
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines[0].startsWith(u"Desktop notifications are not available: "_qs), qPrintable(log.lines[0]));
    QVERIFY(server.registerService(DesktopNotifier::Service));
}

QTEST_GUILESS_MAIN(tst_DesktopNotifier)
#include "tst_DesktopNotifier.moc"
