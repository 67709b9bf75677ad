// The application shell on the offscreen platform: start-up online and offline, the start-up run
// again by the connection monitor, the listening port rule, shut-down, OpenDocument and the
// single instance. The connection, the settings, the sound and the desktop opener are the test's.
#include "alerts/SoundOutput.h"
#include "alerts/Tray.h"
#include "alerts/frmSetNotifies.h"
#include "alerts/frmTrayNotification.h"
#include "app/Shell.h"
#include "app/frmContainer.h"
#include "capture/EventLog.h"
#include "capture/Listener.h"
#include "capture/VisitorList.h"
#include "capture/frmMain.h"
#include "core/Console.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "dialogs/frmMsgBox.h"
#include "engine/SingleInstance.h"
#include "engine/VisitMonitor.h"
#include "history/frmHistory.h"
#include "nettools/Class1.h"
#include "nettools/WhoIs_Form.h"
#include "publish/ConnectionMonitor.h"
#include "publish/RemoteScriptPublisher.h"
#include "publish/frmMain2.h"
#include "publish/frmSettings.h"
#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/mock/ManualClock.h"
#include "tests/nettools/FakeWhoisServer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>

namespace {
// Queried from worker threads too (the web helpers ask before each exchange).
class FakeSound final : public SoundOutput
{
public:
    void playAsync(const QString &fileName) override { played << fileName; }
    void playPreview(const QString &fileName) override
    {
        played << fileName;
        emit previewFinished();
    }
    QStringList played;
};

// A closed port on loopback: every outside service of the program fails at once.
const QString Nowhere = QStringLiteral("http://127.0.0.1:1/");

// One shell with its own settings file, lock folder, clock, connection and opener.
struct Fixture
{
    // omit: keys left out of the store.
    explicit Fixture(const QStringList &omit = {})
        : connection(std::make_shared<FakeConnectionState>(true, QStringLiteral("test-lan")))
        , settings(dir.filePath(QStringLiteral("settings.conf")))
        , port(TestUtil::freePort16())
    {
        const QList<std::pair<QString, QString>> values = {
            { QStringLiteral("EchoPageURL"), Nowhere },
            { QStringLiteral("AccountSiteURL"), Nowhere },
            { QStringLiteral("UpdateHostURL"), Nowhere },
            { QStringLiteral("UpdateStatusURL"), Nowhere },
            { QStringLiteral("UpdateVersionURL"), Nowhere },
            { QStringLiteral("RemoteHost"), QStringLiteral("127.0.0.1:1") },
            { QStringLiteral("usedyndns"), QStringLiteral("0") },
            { QStringLiteral("SoundAlert"), QStringLiteral("0") },
            { QStringLiteral("ListenPort"), QString::number(port) },
        };
        for (const auto &[key, value] : values) {
            if (!omit.contains(key))
                settings.SaveSetting(key, value);
        }
    }

    ShellServices services()
    {
        ShellServices s;
        s.clock = &clock;
        s.settings = &settings;
        s.connection = connection;
        s.lockDir = dir.filePath(QStringLiteral("run"));
        s.sound = &sound;
        s.openUrl = [this](const QUrl &url) {
            opened << url;
            return openResult;
        };
        return s;
    }

    Shell &shell()
    {
        if (!m_shell)
            m_shell = std::make_unique<Shell>(services());
        return *m_shell;
    }

    // Starts the program; the timers then wait, the test ticks the monitor by hand.
    void start(bool online)
    {
        connection->online = online;
        QVERIFY(shell().RunStartup());
        main = shell().mainWindow();
        for (const char *name : { "Timer1", "Timer2" })
            main->engine().findChild<QTimer *>(QString::fromLatin1(name))->stop();
        connect(main);
    }

    void connect(frmMain *window)
    {
        QObject::connect(&window->eventLog(), &EventLog::lineAdded, &window->eventLog(),
            [this](const QString &line) { newLines << line; });
    }

    // Every line of the log as it shows it now.
    QStringList log() const
    {
        main->eventLog().flush();
        return main->findChild<QPlainTextEdit *>(QStringLiteral("txtLog"))->toPlainText().split(u'\n');
    }

    static qsizetype countContaining(const QStringList &lines, const QString &text)
    {
        return std::count_if(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.contains(text); });
    }

    QLabel *addressLabel() const { return main->findChild<QLabel *>(QStringLiteral("Label8")); }

    QTemporaryDir dir;
    ManualClock clock;
    std::shared_ptr<FakeConnectionState> connection;
    SettingsStore settings;
    FakeSound sound;
    quint16 port;
    QList<QUrl> opened;
    bool openResult = true;
    frmMain *main = nullptr;
    QStringList newLines;

private:
    std::unique_ptr<Shell> m_shell;
};

const QString ListeningLine = QStringLiteral("Listening for connections on port: ");
const QString SixtySecondsLine = QStringLiteral("If needed, IP will be updated in 60 seconds...");

// A one-shot public-address echo page on loopback.
class EchoPage final : public QTcpServer
{
public:
    explicit EchoPage(QByteArray body)
        : m_body(std::move(body))
    {
        listen(QHostAddress::LocalHost);
        QObject::connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
                        + QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }

private:
    QByteArray m_body;
    QByteArray m_request;
};
} // namespace

class tst_Shell : public QObject
{
    Q_OBJECT
private slots:
    void init();

    // First: a shut-down ends every web exchange of the process for good, so this one needs a
    // process in which no shell has shut down yet.
    void loadPublicAddress();
    void onlineStart();
    void onlineStartHiddenInTray();
    void offlineStart();
    void reconnection_data();
    void reconnection();
    void listenPort_data();
    void listenPort();
    void failedBindIsVisible();
    void trayMenu();
    void shutDown();
    void notificationOptions();
    void writeIp_data();
    void writeIp();
    void damagedSettingsFileIsReported();
    void openDocument_data();
    void openDocument();
    void secondInstance();
    void loadAddressLabel_data();
    void loadAddressLabel();
    void whoisForSelectedVisitor();
    void settingsWindowListensOnTheNewPort();
    void hostManagerIcon();
};

void tst_Shell::init()
{
    Console::setHeadless(false);
    QFile::remove(frmMain::addressFileName());
}

void tst_Shell::onlineStart()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();

    QCOMPARE(shell.startup().runCounter, 1);
    QVERIFY(f.main->isLoaded());
    QVERIFY(f.main->engine().listener().isListening());
    QCOMPARE(f.main->engine().listener().serverPort(), f.port);
    const QStringList log = f.log();
    QCOMPARE(Fixture::countContaining(log, ListeningLine + QString::number(f.port)), 1);
    QCOMPARE(Fixture::countContaining(log, QStringLiteral("Internet connection detected via  test-lan")), 1);
    QCOMPARE(Fixture::countContaining(log, QStringLiteral("No connection detected")), 0);
    // Into the tray where there is one; without one, an ordinary window.
    QCOMPARE(shell.container()->isVisible(), !shell.container()->hidesWhenMinimized());
    QVERIFY(!shell.container()->isMinimized());
    QVERIFY(shell.tray()->IsVisible());
    QCOMPARE(shell.popup()->lblCaption->text(), QStringLiteral("Vistelle"));
    QCOMPARE(shell.popup()->lblSubcaption->text(), QStringLiteral("Current IP: ") + Class1().NameToAddress(QString()));
    QVERIFY(shell.popup()->isVisible());
    QVERIFY(f.main->engine().publisher().isEnabled());

    // The monitor's first call after an online start: counted, nothing else.
    shell.popup()->lblCaption->setText(QStringLiteral("untouched"));
    f.main->engine().publisher().disable();
    f.newLines.clear();
    QVERIFY(shell.RunStartup());
    QCOMPARE(shell.startup().runCounter, 2);
    QCOMPARE(shell.popup()->lblCaption->text(), QStringLiteral("untouched"));
    QVERIFY(!f.main->engine().publisher().isEnabled());
    QCOMPARE(Fixture::countContaining(f.newLines, ListeningLine), 0);
}

void tst_Shell::onlineStartHiddenInTray()
{
    // Where minimising hides the window (headless here; a desktop tray works alike), the online
    // start leaves only the tray icon, and the tray's left click brings the window back.
    Console::setHeadless(true);
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    QVERIFY(!shell.container()->isVisible());
    QVERIFY(shell.tray()->IsVisible());
    emit shell.tray()->LeftClick();
    QVERIFY(shell.container()->isVisible());
    QVERIFY(!shell.container()->isMinimized());
    shell.container()->setWindowState(Qt::WindowMinimized);
    QVERIFY(!shell.container()->isVisible());
}

void tst_Shell::offlineStart()
{
    Fixture f;
    f.start(false);
    Shell &shell = f.shell();

    QCOMPARE(shell.startup().runCounter, 1);
    QVERIFY(f.main->isLoaded());
    QVERIFY(!f.main->engine().listener().isListening());
    QVERIFY(shell.container()->isVisible());
    QVERIFY(!shell.container()->isMinimized());
    QVERIFY(!f.main->engine().publisher().isEnabled());
    QVERIFY(!shell.popup()->isVisible());

    const QStringList log = f.log();
    QVERIFY2(log.size() >= 3, qPrintable(log.join(u'\n')));
    QCOMPARE(log.first(), QStringLiteral("[12:00:00] Software Started - 07-December-2026"));
    QCOMPARE(Fixture::countContaining(log, QStringLiteral("No connection detected")), 1);
    QCOMPARE(Fixture::countContaining(log, ListeningLine), 0);
    // The start-up's own last line: only the time stamp.
    QCOMPARE(log.last(), QStringLiteral("[12:00:00] "));
}

void tst_Shell::reconnection_data()
{
    QTest::addColumn<bool>("startOnline");
    // One character per monitor tick: '1' online, '0' offline.
    QTest::addColumn<QString>("ticks");
    // How often each tick performed the online start-up steps.
    QTest::addColumn<QList<int>>("onlineSteps");

    QTest::newRow("online start, stays online") << true << "111" << QList<int> { 0, 0, 0 };
    QTest::newRow("online start, outage") << true << "10011" << QList<int> { 0, 0, 0, 1, 0 };
    // The first online tick after the window's loading never counts as a reconnection.
    QTest::newRow("online start, offline at first tick") << true << "01011" << QList<int> { 0, 0, 0, 1, 0 };
    QTest::newRow("offline start, online at first tick") << false << "111" << QList<int> { 1, 0, 0 };
    QTest::newRow("offline start, online later") << false << "0011" << QList<int> { 0, 0, 1, 0 };
    QTest::newRow("offline start, online, outage, online") << false << "10110" << QList<int> { 1, 0, 1, 0, 0 };
}

void tst_Shell::reconnection()
{
    QFETCH(bool, startOnline);
    QFETCH(QString, ticks);
    QFETCH(QList<int>, onlineSteps);

    Fixture f;
    f.start(startOnline);
    Shell &shell = f.shell();
    QCOMPARE(f.main->engine().listener().isListening(), startOnline);

    for (qsizetype i = 0; i < ticks.size(); ++i) {
        const bool online = ticks.at(i) == u'1';
        f.connection->online = online;
        shell.popup()->lblCaption->setText(QString());
        f.newLines.clear();
        f.main->engine().monitor().Timer1_Timer();

        const int listened = int(Fixture::countContaining(f.newLines, ListeningLine + QString::number(f.port)));
        QVERIFY2(listened == onlineSteps.at(i),
            qPrintable(
                QStringLiteral("tick %1: %2 listening lines\n%3").arg(i).arg(listened).arg(f.newLines.join(u'\n'))));
        QCOMPARE(shell.popup()->lblCaption->text().isEmpty(), onlineSteps.at(i) == 0);
        if (onlineSteps.at(i) > 0) {
            QVERIFY(f.main->engine().listener().isListening());
            QVERIFY(f.main->engine().publisher().isEnabled());
            QCOMPARE(shell.container()->isVisible(), !shell.container()->hidesWhenMinimized());
        }
    }
}

void tst_Shell::listenPort_data()
{
    QTest::addColumn<QString>("setting"); // "%1" stands for a free port; null: no setting
    QTest::addColumn<QString>("logged"); // the port in the log line; null: no line
    QTest::addColumn<bool>("listensOnFreePort");
    QTest::addColumn<QString>("bindError");

    QTest::newRow("number") << "%1"
                            << "%1" << true << QString();
    QTest::newRow("leading number") << "%1abc"
                                    << "%1" << true << QString();
    QTest::newRow("rounded") << "%1.4"
                             << "%1" << true << QString();
    QTest::newRow("missing") << QString() << "80" << false << QString();
    QTest::newRow("non-numeric") << "abc"
                                 << "0" << false << QString();
    QTest::newRow("empty") << ""
                           << "0" << false << QString();
    QTest::newRow("above 32767") << "40000" << QString() << false << QString();
    QTest::newRow("negative") << "-5"
                              << "-5" << false << "Bind error: Invalid port number -5";
}

void tst_Shell::listenPort()
{
    QFETCH(QString, setting);
    QFETCH(QString, logged);
    QFETCH(bool, listensOnFreePort);
    QFETCH(QString, bindError);

    Fixture f(setting.isNull() ? QStringList { QStringLiteral("ListenPort") } : QStringList {});
    const QString port = QString::number(f.port);
    if (!setting.isNull())
        f.settings.SaveSetting(QStringLiteral("ListenPort"), QString(setting).replace(QStringLiteral("%1"), port));
    QVERIFY(f.settings.contains(QStringLiteral("ListenPort")) == !setting.isNull());
    f.start(true);

    const QStringList log = f.log();
    if (logged.isNull()) {
        QCOMPARE(Fixture::countContaining(log, ListeningLine), 0);
        QVERIFY(!f.main->engine().listener().isListening());
    } else {
        QCOMPARE(Fixture::countContaining(log, ListeningLine + QString(logged).replace(QStringLiteral("%1"), port)), 1);
    }
    if (listensOnFreePort) {
        QVERIFY(f.main->engine().listener().isListening());
        QCOMPARE(f.main->engine().listener().serverPort(), f.port);
    }
    if (!bindError.isEmpty()) {
        QCOMPARE(Fixture::countContaining(log, bindError), 1);
        QVERIFY(!f.main->engine().listener().isListening());
    }
}

// A port that cannot be used shows where the user looks: the window comes up with the error line
// and what to do, and the tray shows a warning picture and says the same.
void tst_Shell::failedBindIsVisible()
{
    Fixture f;
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, f.port));
    f.start(true);
    Shell &shell = f.shell();
    const QString problem = QStringLiteral("Port %1 is used by another program: choose another port in Settings, or "
                                           "end that program")
                                .arg(f.port);
    QCOMPARE(Fixture::countContaining(f.log(), problem), 1);
    QVERIFY(shell.container()->isVisible() && !shell.container()->isMinimized());
    QCOMPARE(shell.tray()->TrayImage().cacheKey(), shell.container()->picIconWarning.cacheKey());
    QCOMPARE(shell.tray()->stateLine(), problem);

    // Free again: listening clears the warning.
    other.close();
    f.main->ListenOnPort(qint16(f.port));
    QVERIFY(f.main->engine().listener().isListening());
    QCOMPARE(shell.tray()->TrayImage().cacheKey(), shell.container()->picIcon.cacheKey());
    QCOMPARE(shell.tray()->stateLine(), QStringLiteral("Listening on port %1 \u00b7 0 visits today").arg(f.port));
    QVERIFY(VisitMonitor::listenProblemText(80, QAbstractSocket::SocketAccessError, QStringLiteral("denied"))
                .startsWith(QStringLiteral("Port 80 needs the permission to use ports below 1024: choose a port from "
                                           "1024 in Settings, or run: sudo setcap cap_net_bind_service=+ep ")));
}

// The tray's right-button menu: each item does what it says.
void tst_Shell::trayMenu()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    QMenu *menu = shell.tray()->trayIcon()->contextMenu();
    QVERIFY(menu);
    const auto texts = [menu] {
        emit menu->aboutToShow();
        QStringList visible;
        for (QAction *action : menu->actions()) {
            if (action->isVisible() && !action->isSeparator())
                visible << action->text();
        }
        return visible;
    };
    const auto action = [menu](const char *name) { return menu->findChild<QAction *>(QString::fromLatin1(name)); };
    shell.container()->show();
    QCOMPARE(texts(),
        (QStringList { QStringLiteral("Hide"), QStringLiteral("Pause Alerts"), QStringLiteral("History..."),
            QStringLiteral("Settings..."), QStringLiteral("Notification Options..."), QStringLiteral("Quit") }));

    action("trayPauseHour")->trigger();
    QVERIFY(f.main->engine().alertsPaused());
    QCOMPARE(texts().at(1), QStringLiteral("Resume Alerts"));
    action("trayResume")->trigger();
    QVERIFY(!f.main->engine().alertsPaused());
    action("trayPauseUntilResumed")->trigger();
    f.clock.advance(VisitMonitor::PauseHourMs * 24);
    QVERIFY(f.main->engine().alertsPaused());
    action("trayResume")->trigger();

    action("trayShowHide")->trigger();
    QVERIFY(!shell.container()->isVisible());
    QCOMPARE(texts().first(), QStringLiteral("Show"));
    action("trayShowHide")->trigger();
    QVERIFY(shell.container()->isVisible());

    for (const QString &item : { QStringLiteral("History..."), QStringLiteral("Notification Options...") }) {
        for (QAction *a : menu->actions()) {
            if (a->text() == item)
                a->trigger();
        }
    }
    QTRY_VERIFY(shell.historyWindow() && shell.historyWindow()->isVisible());
    QSignalSpy finished(&shell, &Shell::finished);
    action("trayQuit")->trigger();
    QTRY_COMPARE(finished.size(), 1);
}

void tst_Shell::shutDown()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    QPointer<frmMain> main = f.main;
    auto *timer1 = main->engine().findChild<QTimer *>(QStringLiteral("Timer1"));
    timer1->start();
    QVERIFY(main->engine().listener().isListening());
    QVERIFY(main->engine().publisher().isEnabled());
    QVERIFY(shell.tray()->IsVisible());
    f.main->setAddressCaption(QStringLiteral(" Current IP:1.2.3.4"));

    QSignalSpy finished(&shell, &Shell::finished);
    shell.ShutDown();
    QVERIFY(shell.isShutDown());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
    QVERIFY(main); // deleted later, from the event loop
    QVERIFY(!timer1->isActive());
    QVERIFY(!main->engine().findChild<QTimer *>(QStringLiteral("Timer2"))->isActive());
    QVERIFY(!main->engine().publisher().isEnabled());
    QVERIFY(!main->engine().listener().isListening());
    QVERIFY(!shell.tray()->IsVisible());
    QVERIFY(!shell.container());

    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, f.port);
    QVERIFY(!probe.waitForConnected(2000));

    QFile file(frmMain::addressFileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1.2.3.4\r\n"));

    shell.ShutDown();
    QVERIFY(!shell.RunStartup()); // nothing starts again after the end
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!main);
    QCOMPARE(finished.count(), 1);
}

void tst_Shell::notificationOptions()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    auto *button = f.main->findChild<QPushButton *>(QStringLiteral("Command1"));
    QCOMPARE(button->text(), QStringLiteral("Server Notification Options..."));
    button->click();
    QPointer<frmSetNotifies> window = shell.notifySettings();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowModality(), Qt::NonModal);
    button->click(); // the open window comes to the front; no second one
    QCOMPARE(shell.notifySettings(), window.data());

    // OK stores, shows the main window again and closes the settings window.
    window->findChild<QCheckBox *>(QStringLiteral("chkPopup"))->click();
    window->findChild<QPushButton *>(QStringLiteral("cmdNext"))->click();
    QCOMPARE(f.settings.GetSetting(QStringLiteral("PopupAlert")), QStringLiteral("0"));
    QVERIFY(shell.container()->isVisible());
    QVERIFY(!shell.container()->isMinimized());
    QTRY_VERIFY(!window);

    // A shut-down takes an open one with it.
    button->click();
    window = shell.notifySettings();
    QVERIFY(window);
    shell.ShutDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
}

void tst_Shell::writeIp_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("written");

    // The file holds an address or nothing: never a status text the next start would show.
    QTest::newRow("address") << " Current IP:1.2.3.4" << QByteArray("1.2.3.4\r\n");
    QTest::newRow("no address") << " Current IP:" << QByteArray();
    QTest::newRow("not an address") << "IP:a IP:b" << QByteArray();
    QTest::newRow("failed login") << "IP Update Failed" << QByteArray();
    QTest::newRow("failed update") << "Automatic Update Failed" << QByteArray();
    QTest::newRow("status") << "Updating IP. Please wait..." << QByteArray();
    QTest::newRow("one character") << "x" << QByteArray();
}

void tst_Shell::writeIp()
{
    QFETCH(QString, caption);
    QFETCH(QByteArray, written);

    // A longer file of an earlier run is replaced, not overwritten in part; a link placed where
    // it belongs is replaced too, never written through.
    const QString name = frmMain::addressFileName();
    QDir().mkpath(QFileInfo(name).absolutePath());
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("victim"));
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("255.255.255.255 and more text\r\n");
    }
    QVERIFY(QFile::link(target, name));

    Fixture f;
    f.start(false);
    f.main->setAddressCaption(caption);
    f.shell().ShutDown();

    QVERIFY(!QFileInfo(name).isSymLink());
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), written);
    QFile victim(target);
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("255.255.255.255 and more text\r\n"));
}

void tst_Shell::damagedSettingsFileIsReported()
{
    Fixture f;
    const QString path = f.settings.fileName();
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("\x7f\x45\x4c\x46\x02\x01\x01\x00 random bytes"));
    }
    f.start(false);
    QCOMPARE(Fixture::countContaining(f.log(),
                 QStringLiteral("Settings error: the file ") + path
                     + QStringLiteral(" cannot be used (it holds binary data); it was kept as ") + path
                     + QStringLiteral(".damaged and the default settings are used")),
        1);
    QVERIFY(QFileInfo::exists(path + QStringLiteral(".damaged")));
}

void tst_Shell::openDocument_data()
{
    QTest::addColumn<QString>("path"); // "%1": the test's folder
    QTest::addColumn<bool>("openerAnswer");
    QTest::addColumn<QString>("opened"); // the address given to the opener; null: not called
    QTest::addColumn<bool>("message");

    QTest::newRow("web address") << "http://example.org/help" << true << "http://example.org/help" << false;
    QTest::newRow("secure web address") << "https://example.org/" << true << "https://example.org/" << false;
    QTest::newRow("existing file") << "%1/vistelle.htm" << true << "file://%1/vistelle.htm" << false;
    QTest::newRow("missing file") << "%1/missing.htm" << true << QString() << true;
    QTest::newRow("opener fails") << "http://example.org/x" << false << "http://example.org/x" << true;
}

void tst_Shell::openDocument()
{
    QFETCH(QString, path);
    QFETCH(bool, openerAnswer);
    QFETCH(QString, opened);
    QFETCH(bool, message);

    Fixture f;
    path.replace(QStringLiteral("%1"), f.dir.path());
    opened.replace(QStringLiteral("%1"), f.dir.path());
    QFile page(f.dir.filePath(QStringLiteral("vistelle.htm")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.close();
    f.openResult = openerAnswer;

    // A marker message first, so a message that does not come is seen as such.
    MessageBox::setNextAnswer(QMessageBox::Ok);
    MessageBox::information(nullptr, QStringLiteral("Vistelle"), QStringLiteral("marker"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    f.shell().OpenDocument(path);

    if (opened.isNull()) {
        QVERIFY(f.opened.isEmpty());
    } else {
        QCOMPARE(f.opened.size(), 1);
        QCOMPARE(f.opened.first().toString(), opened);
    }
    QCOMPARE(
        MessageBox::lastText(), message ? QStringLiteral("File Not Found on path ") + path : QStringLiteral("marker"));
    MessageBox::setNextAnswer(QMessageBox::NoButton); // nothing left over for the next test
    MessageBox::information(nullptr, QString(), QString());
}

void tst_Shell::secondInstance()
{
    Fixture f;
    f.start(true);
    Shell &first = f.shell();
    QSignalSpy firstFinished(&first, &Shell::finished);
    first.container()->hide(); // in the tray, out of sight

    // A second start asks the first to show its window, and ends quietly.
    MessageBox::information(nullptr, QString(), QStringLiteral("marker"));
    {
        Shell second(f.services());
        QSignalSpy secondFinished(&second, &Shell::finished);
        QVERIFY(!second.RunStartup());
        QVERIFY(secondFinished.wait(5000));
        QCOMPARE(secondFinished.at(0).at(0).toInt(), 0);
        QVERIFY(!second.container());
        QCOMPARE(second.startup().runCounter, 0);
    }
    QTRY_VERIFY(first.container()->isVisible());
    QCOMPARE(MessageBox::lastText(), QStringLiteral("marker"));

    // A running instance that does not answer (its socket gone): the user is told.
    QVERIFY(QFile::remove(SingleInstance(f.services().lockDir).socketName()));
    Shell second(f.services());
    QSignalSpy secondFinished(&second, &Shell::finished);
    QVERIFY(!second.RunStartup());
    QTRY_COMPARE(MessageBox::lastText(), QStringLiteral("Already running, exiting."));
    // The box waits for its answer; the program ends once it is given.
    QMessageBox *box = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *b = qobject_cast<QMessageBox *>(w); b && b->text() == QStringLiteral("Already running, exiting."))
            box = b;
    }
    QVERIFY(box);
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->windowTitle(), QStringLiteral("Vistelle"));
    QCOMPARE(secondFinished.count(), 0);
    box->button(QMessageBox::Ok)->click();
    QCOMPARE(secondFinished.count(), 1);
    QCOMPARE(secondFinished.at(0).at(0).toInt(), 0);

    // The running instance is untouched.
    QCOMPARE(firstFinished.count(), 0);
    QVERIFY(!first.isShutDown());
    QVERIFY(f.main->engine().listener().isListening());
    QCOMPARE(first.startup().runCounter, 1);
}

void tst_Shell::loadAddressLabel_data()
{
    QTest::addColumn<QString>("usedyndns"); // null: no setting
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("sixtySecondsLine");

    QTest::newRow("on") << "1"
                        << " Current IP:5.6.7.8" << true;
    QTest::newRow("missing") << QString() << " Current IP:5.6.7.8" << true;
    QTest::newRow("non-numeric") << "yes"
                                 << " Current IP:5.6.7.8" << true;
    QTest::newRow("other number") << "2"
                                  << " Current IP:5.6.7.8" << false;
    QTest::newRow("off") << "0"
                         << " Current IP:" << false;
    QTest::newRow("off with blanks") << " 0 "
                                     << " Current IP:" << false;
    // A status text saved by an earlier version is no address.
    QTest::newRow("status text in the file") << "1"
                                             << " Current IP:" << true;
}

void tst_Shell::loadAddressLabel()
{
    QFETCH(QString, usedyndns);
    QFETCH(QString, label);
    QFETCH(bool, sixtySecondsLine);

    QDir().mkpath(QFileInfo(frmMain::addressFileName()).absolutePath());
    QFile file(frmMain::addressFileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QTest::currentDataTag() == QLatin1String("status text in the file") ? " Update Failed\r\n"
                                                                                   : "  5.6.7.8  \r\nsecond line\r\n");
    file.close();

    Fixture f(usedyndns.isNull() ? QStringList { QStringLiteral("usedyndns") } : QStringList {});
    if (!usedyndns.isNull())
        f.settings.SaveSetting(QStringLiteral("usedyndns"), usedyndns);
    f.start(false);

    QCOMPARE(f.addressLabel()->text(), label);
    const QStringList log = f.log();
    QCOMPARE(Fixture::countContaining(log, SixtySecondsLine), sixtySecondsLine ? 1 : 0);
    // The 60-seconds line ends the window's loading; the start-up's time-stamp line follows it.
    if (sixtySecondsLine) {
        QCOMPARE(
            log.size() >= 2 ? log.at(log.size() - 2) : QString(), QStringLiteral("[12:00:00] ") + SixtySecondsLine);
        QCOMPARE(log.last(), QStringLiteral("[12:00:00] "));
    }
}

void tst_Shell::loadPublicAddress()
{
    // Dynamic DNS off: the label shows what the echo page says, once it has answered.
    EchoPage echo("203.0.113.9");
    QVERIFY(echo.isListening());
    Fixture f;
    f.settings.SaveSetting(QStringLiteral("EchoPageURL"), echo.url());
    f.start(true);
    QTRY_COMPARE(f.addressLabel()->text(), QStringLiteral(" Current IP:203.0.113.9"));
}

void tst_Shell::whoisForSelectedVisitor()
{
    // Selecting a visitor and pressing "Whois" asks the configured server about its domain.
    FakeWhoisServer server;
    server.answer = QByteArrayLiteral("Registrant: Example Owner\r\n");
    Fixture f;
    f.settings.SaveSetting(QStringLiteral("WhoisServer1"), server.entry());
    f.start(true);
    VisitorList &visitors = f.main->visitorList();
    QSignalSpy shown(&visitors, &VisitorList::hostNameShown);
    visitors.addVisit(
        f.clock.currentDateTime(), QStringLiteral("127.0.0.1"), QStringLiteral("https://www.example.com/"));
    f.main->findChild<QTableView *>(QStringLiteral("iGrid1"))
        ->setCurrentIndex(visitors.model().index(0, VisitorListModel::IpColumn));
    QTRY_COMPARE(shown.size(), 1);
    const QString hostName = shown.at(0).at(0).toString();
    QVERIFY2(!hostName.contains(QStringLiteral("Can't")), qPrintable(hostName)); // loopback has a name

    QVERIFY(!f.shell().whoisWindow());
    QTest::mouseClick(f.main->findChild<QToolButton *>(QStringLiteral("Image1")), Qt::LeftButton);
    WhoIs_Form *whois = f.shell().whoisWindow();
    QVERIFY(whois);
    QVERIFY(whois->isVisible());
    QCOMPARE(whois->windowModality(), Qt::WindowModal);
    QCOMPARE(whois->parentWidget(), f.shell().container());
    auto *response = whois->findChild<QPlainTextEdit *>(QStringLiteral("WhoIs_Response"));
    QTRY_COMPARE(response->toPlainText(), QStringLiteral("Registrant: Example Owner\n"));
    QCOMPARE(server.last().received, WhoisClient::registeredDomain(hostName).toUtf8() + "\r\n");

    f.shell().ShutDown();
    QVERIFY(!whois->isVisible());
}

// "Settings..." hides the main window; the settings window's OK stores, brings the main window
// back and listens on the new port (a real connection to it), and the address script follows.
void tst_Shell::settingsWindowListensOnTheNewPort()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    shell.container()->restoreFromTray();
    f.main->engine().publisher().disable();
    QTest::mouseClick(f.main->findChild<QPushButton *>(QStringLiteral("cmdServerSettings")), Qt::LeftButton);
    QVERIFY(!shell.container()->isVisible());
    frmSettings *window = shell.settingsWindow();
    QVERIFY(window && window->isVisible());

    const quint16 newPort = TestUtil::freePort16();
    QVERIFY(newPort != f.port);
    window->txtPort->setText(QString::number(newPort));
    f.newLines.clear();
    QTest::mouseClick(window->cmdNext, Qt::LeftButton);
    QVERIFY(shell.container()->isVisible());
    QCOMPARE(f.settings.GetSetting(QStringLiteral("ListenPort")), QString::number(newPort));
    QCOMPARE(f.settings.GetSetting(QStringLiteral("MainSettings")), QStringLiteral("OK"));
    QCOMPARE(Fixture::countContaining(f.newLines, ListeningLine + QString::number(newPort)), 1);
    QVERIFY(f.main->engine().publisher().isEnabled());
    QTcpSocket visitor;
    visitor.connectToHost(QHostAddress::LocalHost, newPort);
    QVERIFY(visitor.waitForConnected(5000));
    QTRY_VERIFY(!shell.settingsWindow());
}

// The provider's icon: offline a message, online the host manager (one at a time); its update
// sets the main window's address label and log.
void tst_Shell::hostManagerIcon()
{
    Fixture f;
    f.start(true);
    Shell &shell = f.shell();
    auto *icon = f.main->findChild<QToolButton *>(QStringLiteral("Image4"));
    QVERIFY(icon);
    QCOMPARE(icon->toolTip(), QStringLiteral("DynDNS Update"));
    f.connection->online = false;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    icon->click();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("You are not connected to the Internet"));
    QVERIFY(!shell.hostManager());
    f.connection->online = true;
    icon->click();
    frmMain2 *window = shell.hostManager();
    QVERIFY(window && window->isVisible());
    icon->click();
    QCOMPARE(shell.hostManager(), window);
    QVERIFY(frmMsgBox::loaded()); // loaded in advance
    shell.ShutDown();
    QVERIFY(!shell.hostManager());
    QVERIFY(!frmMsgBox::loaded());
}

QTEST_MAIN(tst_Shell)
#include "tst_Shell.moc"
