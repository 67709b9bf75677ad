// The settings window's Test: one connection to a real mosquitto on loopback, and what it says.
#include "relay/RelayProbe.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class tst_RelayProbe : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_broker;
    quint16 m_port = 0;

    static quint16 freePort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        return server.serverPort();
    }

private slots:
    void initTestCase()
    {
        const QString mosquitto = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") });
        const QString passwd = QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd"));
        if (mosquitto.isEmpty() || passwd.isEmpty())
            QSKIP("mosquitto is not installed");
        const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
        QFile(passwords).open(QIODevice::WriteOnly);
        QCOMPARE(QProcess::execute(
                     passwd, { QStringLiteral("-b"), passwords, QStringLiteral("desk"), QStringLiteral("right") }),
            0);
        QFile::setPermissions(passwords, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        m_port = freePort();
        QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\nuser %3\n")
                       .arg(m_port)
                       .arg(passwords, qEnvironmentVariable("USER", QStringLiteral("root")))
                       .toUtf8());
        conf.close();
        m_broker.start(mosquitto, { QStringLiteral("-c"), conf.fileName() });
        QVERIFY(m_broker.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, m_port);
                return socket.waitForConnected(200);
            }(),
            10'000);
    }

    void cleanupTestCase()
    {
        m_broker.kill();
        m_broker.waitForFinished();
    }

    void answers_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("text");
        const QString broker = QStringLiteral("mqtt://desk@127.0.0.1:%1/vistelle/+");
        QTest::newRow("connected") << broker.arg(m_port) << QStringLiteral("right") << true
                                   << QStringLiteral("Connected to the broker");
        QTest::newRow("wrong password") << broker.arg(m_port) << QStringLiteral("wrong") << false
                                        << QStringLiteral("Refused by the broker: Not authorized");
        QTest::newRow("nobody listening") << broker.arg(freePort()) << QStringLiteral("right") << false
                                          << QStringLiteral("Cannot reach the broker: Connection refused");
    }
    void answers()
    {
        QFETCH(QString, url);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QString, text);
        RelayProbe probe;
        QSignalSpy finished(&probe, &RelayProbe::finished);
        QVERIFY(probe.start(url, password, QString()));
        QVERIFY(finished.wait(RelayProbe::TimeoutMs));
        QCOMPARE(finished.at(0).at(1).toString(), text);
        QCOMPARE(finished.at(0).at(0).toBool(), ok);
    }

    void addressRefused()
    {
        RelayProbe probe;
        QString why;
        QVERIFY(!probe.start(QStringLiteral("mqtt://broker.example/vistelle/+"), QString(), QString(), &why));
        QVERIFY(why.contains(QStringLiteral("mqtts://")));
    }
};

QTEST_GUILESS_MAIN(tst_RelayProbe)
#include "tst_RelayProbe.moc"
