#include "app/Shell.h"

#include "alerts/AlertIcons.h"
#include "alerts/AlsaSoundOutput.h"
#include "alerts/DesktopNotifier.h"
#include "alerts/SoundRules.h"
#include "alerts/Tray.h"
#include "alerts/frmSetNotifies.h"
#include "alerts/frmTrayNotification.h"
#include "app/frmContainer.h"
#include "app/modMain.h"
#include "capture/frmMain.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "dialogs/frmMsgBox.h"
#include "engine/SingleInstance.h"
#include "engine/VisitMonitor.h"
#include "history/HistoryStore.h"
#include "history/frmHistory.h"
#include "nettools/Class1.h"
#include "nettools/WhoIs_Form.h"
#include "publish/HttpRequest.h"
#include "publish/frmMain2.h"
#include "publish/frmSettings.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

namespace {
Shell *g_shell = nullptr;
}

Shell::Shell(ShellServices services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_connection(m_services.connection ? m_services.connection : std::make_shared<NetworkManagerConnectionState>())
    , m_instance(std::make_unique<SingleInstance>(m_services.lockDir))
{
    g_shell = this;
    if (!m_services.sound) {
        m_ownSound = std::make_unique<AlsaSoundOutput>();
        m_services.sound = m_ownSound.get();
    }
}

Shell::~Shell()
{
    if (!m_shutDown && m_locked)
        ShutDown();
    delete m_historyWindow;
    delete m_notify;
    delete m_hostManager;
    delete m_settingsWindow;
    delete m_main;
    m_engine.reset();
    delete m_container;
    delete m_popup;
    if (m_tray && m_tray->trayIcon())
        m_tray->trayIcon()->setContextMenu(nullptr);
    m_trayMenu.reset();
    delete m_tray;
    if (g_shell == this)
        g_shell = nullptr;
}

Shell *Shell::instance()
{
    return g_shell;
}

void Shell::ensureContainer()
{
    if (m_container)
        return;
    m_tray = new Tray(*m_services.clock);
    m_container = new frmContainer(m_tray);
    connect(m_container, &frmContainer::closeRequested, this, &Shell::ShutDown);
    m_popup = new frmTrayNotification(*m_services.clock);
    buildTrayMenu();
}

void Shell::buildTrayMenu()
{
    // The right button's menu (the left one keeps restoring the window). Qt shows it on X11 trays
    // and hands it to StatusNotifierItem hosts.
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QAction *showHide = m_trayMenu->addAction(QStringLiteral("Show"));
    showHide->setObjectName(QStringLiteral("trayShowHide"));
    connect(showHide, &QAction::triggered, this, [this] {
        if (!m_container)
            return;
        if (m_container->isVisible() && !m_container->isMinimized())
            m_container->hide();
        else
            restoreWindow();
    });
    QMenu *pause = m_trayMenu->addMenu(QStringLiteral("Pause Alerts"));
    pause->setObjectName(QStringLiteral("trayPause"));
    QAction *hour = pause->addAction(QStringLiteral("For One Hour"));
    hour->setObjectName(QStringLiteral("trayPauseHour"));
    connect(hour, &QAction::triggered, this, [this] {
        if (m_engine)
            m_engine->pauseAlerts(VisitMonitor::PauseHourMs);
    });
    QAction *untilResumed = pause->addAction(QStringLiteral("Until Resumed"));
    untilResumed->setObjectName(QStringLiteral("trayPauseUntilResumed"));
    connect(untilResumed, &QAction::triggered, this, [this] {
        if (m_engine)
            m_engine->pauseAlerts(-1);
    });
    QAction *resume = m_trayMenu->addAction(QStringLiteral("Resume Alerts"));
    resume->setObjectName(QStringLiteral("trayResume"));
    connect(resume, &QAction::triggered, this, [this] {
        if (m_engine)
            m_engine->resumeAlerts();
    });
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(QStringLiteral("History...")), &QAction::triggered, this, &Shell::showHistory);
    connect(
        m_trayMenu->addAction(QStringLiteral("Settings...")), &QAction::triggered, this, &Shell::showServerSettings);
    connect(m_trayMenu->addAction(QStringLiteral("Notification Options...")), &QAction::triggered, this,
        &Shell::showNotifySettings);
    m_trayMenu->addSeparator();
    QAction *quit = m_trayMenu->addAction(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("trayQuit"));
    connect(quit, &QAction::triggered, this, &Shell::ShutDown);
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, &Shell::updateTrayMenu);
    updateTrayMenu();
    m_tray->trayIcon()->setContextMenu(m_trayMenu.get());
}

void Shell::updateTrayMenu()
{
    if (!m_trayMenu)
        return;
    const bool shown = m_container && m_container->isVisible() && !m_container->isMinimized();
    m_trayMenu->findChild<QAction *>(QStringLiteral("trayShowHide"))
        ->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
    const bool paused = m_engine && m_engine->alertsPaused();
    m_trayMenu->findChild<QMenu *>(QStringLiteral("trayPause"))->menuAction()->setVisible(!paused);
    m_trayMenu->findChild<QAction *>(QStringLiteral("trayResume"))->setVisible(paused);
}

frmMain *Shell::mainWindow()
{
    if (m_main)
        return m_main;
    ensureContainer();
    if (!m_engine) {
        VisitMonitorServices services;
        services.clock = m_services.clock;
        services.settings = m_services.settings;
        services.connection = m_connection;
        services.startup = &m_startup;
        services.listenerLimits = m_services.listenerLimits;
        services.sound = m_services.sound;
        services.historyFile = m_services.historyFile;
        services.keyring = m_services.keyring;
        m_engine = std::make_unique<VisitMonitor>(services);
        VisitMonitor *engine = m_engine.get();
        connect(
            engine, &VisitMonitor::popupRequested, this, [this, engine](const QString &caption, const QString &text) {
                showPopup(caption, text, engine->announcedAddress(), engine->announcedPage());
            });
        if (!frmTrayNotification::canBePlaced()
            && engine->settings().GetSetting(QStringLiteral("PopupStyle")).trimmed().isEmpty())
            engine->PutLog(QStringLiteral("Visits are shown as desktop notifications: on a Wayland session without "
                                          "XWayland the popup cannot be put in its corner"));
        connect(engine, &VisitMonitor::trayAlertChanged, this, &Shell::setTrayAlert);
        connect(engine, &VisitMonitor::trayBusyChanged, this, &Shell::setTrayBusy);
        connect(engine, &VisitMonitor::startupRequested, this, &Shell::RunStartup);
        connect(engine, &VisitMonitor::restoreWindowRequested, this, &Shell::restoreWindow);
        connect(engine, &VisitMonitor::openDocumentRequested, this, &Shell::OpenDocument);
        connect(engine, &VisitMonitor::listenProblemChanged, this, &Shell::showListenProblem);
        connect(engine, &VisitMonitor::relayStateChanged, this, &Shell::refreshTrayState);
        connect(engine, &VisitMonitor::certificateTroubleChanged, this, [this](const QString &trouble) {
            if (!m_tray || !m_container)
                return;
            m_tray->setTrayImage(restingTrayImage());
            refreshTrayState();
            // One popup for each new trouble; the tray keeps the warning until it is resolved.
            if (!trouble.isEmpty())
                showPopup(QStringLiteral("TLS certificate"), trouble);
        });
        // The tray's state line follows the visits, at most once a second.
        m_stateTimer = new QTimer(this);
        m_stateTimer->setSingleShot(true);
        m_stateTimer->setInterval(1000);
        connect(m_stateTimer, &QTimer::timeout, this, &Shell::refreshTrayState);
        connect(engine, &VisitMonitor::visitListed, m_stateTimer, [this] {
            if (!m_stateTimer->isActive())
                m_stateTimer->start();
        });
    }
    m_main = new frmMain(*m_engine);
    m_container->host(m_main);
    connect(m_main, &frmMain::exitRequested, m_container, &QWidget::close);
    connect(m_main, &frmMain::historyRequested, this, &Shell::showHistory);
    connect(m_main, &frmMain::whoisRequested, this, &Shell::showWhois);
    connect(m_main, &frmMain::notificationOptionsRequested, this, &Shell::showNotifySettings);
    connect(m_main, &frmMain::serverSettingsRequested, this, &Shell::showServerSettings);
    connect(m_main, &frmMain::hostManagerRequested, this, &Shell::showHostManager);
    connect(m_main, &frmMain::documentRequested, this, &Shell::OpenDocument);
    m_main->load();
    m_main->show();
    return m_main;
}

bool Shell::RunStartup()
{
    if (m_shutDown)
        return false;
    modMain::PrepareControls();
    if (!m_locked) {
        if (!m_instance->tryLock()) {
            // The user started it again because no window is in sight: the running one shows its
            // window, and this one leaves quietly. Only when it does not answer is the user told.
            m_instance->askRunningToShow([this](bool shown) {
                if (shown) {
                    emit finished(0);
                    return;
                }
                MessageBox::show(nullptr, QMessageBox::Information, QStringLiteral("Vistelle"),
                    QStringLiteral("Already running, exiting."), QMessageBox::Ok, QMessageBox::Ok,
                    [this](QMessageBox::StandardButton) { emit finished(0); });
            });
            return false;
        }
        m_locked = true;
        m_instance->listenForOthers();
        connect(m_instance.get(), &SingleInstance::showRequested, this, &Shell::showRequestedWindow);
    }
    ++m_startup.runCounter;
    const ConnectionState::Result state = m_connection->query();
    if (state.online)
        m_startup.ConnectionName = state.connectionName;

    if (!state.online) {
        // Loads and shows the main window (its load sequence logs the start and the missing
        // connection), then a line holding only the time stamp.
        mainWindow()->PutLog(QString());
        m_container->show();
        return true;
    }
    // A program started offline has never run the online steps: the first online call runs
    // them whatever the counter says, so it listens, shows the tray and announces its address.
    if (m_startup.runCounter > 1 && m_startup.onlineStepsDone)
        return true;
    m_startup.onlineStepsDone = true;

    ensureContainer();
    m_container->show();
    frmMain *main = mainWindow();
    main->listenOnConfiguredPort();
    refreshTrayState();
    main->show();
    // Into the tray. Where minimising would hide the window anyway it is hidden at once: asking
    // the window manager to iconify a window that is withdrawn a moment later let its late answer
    // minimise the window again when the tray brought it back, and at times left it iconified.
    // Without a tray it stays an ordinary window: minimised, it could only be found through the
    // desktop's overview. A port that cannot be used keeps the window up: it shows why.
    if (m_container->hidesWhenMinimized() && m_engine->listenProblem().isEmpty())
        m_container->hide();

    showPopup(QStringLiteral("Vistelle"), QStringLiteral("Current IP: ") + Class1().NameToAddress(QString()));
    main->enablePublisher();
    return true;
}

void Shell::ShutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_notify) {
        m_notify->hide();
        m_notify->deleteLater();
    }
    delete m_hostManager;
    delete m_settingsWindow;
    frmMsgBox::unload();
    if (m_engine)
        m_engine->shutDown(); // the address file, the timers, the listener, the history
    if (m_main) {
        m_main->hide();
        m_main->deleteLater();
        m_main = nullptr;
    }
    if (m_historyWindow) {
        m_historyWindow->hide();
        m_historyWindow->deleteLater();
        m_historyWindow = nullptr;
    }
    if (m_whois)
        m_whois->reject();
    if (m_tray)
        m_tray->Show(false);
    if (m_container) {
        m_container->hide();
        m_container->deleteLater();
        m_container = nullptr;
    }
    if (m_popup)
        m_popup->hide();
    // Web exchanges still on their way end now; wait for them only briefly.
    HttpRequest::abortAll();
    QThreadPool::globalInstance()->waitForDone(ShutDownWaitMs);
    if (m_locked)
        m_instance->unlock();
    emit finished(0);
}

HistoryStore *Shell::history() const
{
    return m_engine ? m_engine->history() : nullptr;
}

void Shell::showHistory()
{
    HistoryStore *store = history();
    if (!store || m_shutDown)
        return;
    if (!m_historyWindow) {
        m_historyWindow = new frmHistory(store->fileName(), *m_services.clock);
        m_historyWindow->setAttribute(Qt::WA_QuitOnClose, false);
        connect(store, &HistoryStore::fileReplaced, m_historyWindow, &frmHistory::fileReplaced);
        connect(m_historyWindow, &frmHistory::damageFound, store, &HistoryStore::reportDamage);
    }
    if (m_historyWindow->isVisible())
        m_historyWindow->refresh();
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

void Shell::showNotifySettings()
{
    if (m_shutDown)
        return;
    if (!m_notify) {
        NotifyWindowServices services;
        services.settings = m_services.settings;
        services.sound = m_services.sound;
        services.mixer = m_services.mixer;
        m_notify = new frmSetNotifies(services);
        m_notify->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_notify, &frmSetNotifies::mainWindowRequested, this, [this] {
            if (m_container)
                m_container->restoreFromTray();
        });
    }
    m_notify->show();
    m_notify->raise();
    m_notify->activateWindow();
}

frmSetNotifies *Shell::notifySettings() const
{
    return m_notify;
}

void Shell::OpenDocument(const QString &path)
{
    QUrl url = QUrl::fromUserInput(path);
    const bool web = url.scheme() == u"http" || url.scheme() == u"https" || url.scheme() == u"mailto";
    bool opened = false;
    if (web || QFileInfo::exists(path)) {
        if (!web)
            url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        opened = m_services.openUrl ? m_services.openUrl(url) : QDesktopServices::openUrl(url);
    }
    if (!opened)
        MessageBox::show(m_container, QMessageBox::NoIcon, QStringLiteral("Vistelle"),
            QStringLiteral("File Not Found on path ") + path);
}

QIcon Shell::restingTrayImage() const
{
    const bool trouble
        = m_engine && (!m_engine->listenProblem().isEmpty() || !m_engine->certificateTrouble().isEmpty());
    return trouble ? m_container->picIconWarning : m_container->picIcon;
}

void Shell::setTrayAlert(bool alert)
{
    if (!m_tray || !m_container)
        return;
    m_tray->setTrayImage(alert ? m_container->picIconAlert : restingTrayImage());
    m_tray->Show(true);
}

void Shell::refreshTrayState()
{
    if (!m_tray || !m_container || !m_engine)
        return;
    m_tray->setStateLine(m_engine->stateLine());
    m_tray->Show(true);
}

void Shell::showListenProblem(const QString &problem)
{
    if (!m_tray || !m_container)
        return;
    m_tray->setTrayImage(restingTrayImage());
    refreshTrayState();
    // Where the user looks: the main window comes up with the error line, once per start.
    if (!problem.isEmpty() && !m_listenProblemShown) {
        m_listenProblemShown = true;
        restoreWindow();
    }
}

void Shell::setTrayBusy(bool busy, const QString &toolTip)
{
    if (!m_tray || !m_container)
        return;
    m_tray->setTrayToolTip(toolTip);
    m_tray->setTrayImage(busy ? m_container->Picture1 : restingTrayImage());
    m_tray->Show(true);
}

void Shell::showPopup(const QString &caption, const QString &subcaption, const QString &address, const QString &page)
{
    if (!m_engine
        || SoundRules::popupStyle(m_engine->settings(), frmTrayNotification::canBePlaced()) == PopupStyle::Popup) {
        m_popup->ShowTrayNotification(caption, subcaption);
        return;
    }
    if (!m_notifier) {
        m_notifier = new DesktopNotifier(*m_services.clock, QDBusConnection::sessionBus(), this);
        connect(m_notifier, &DesktopNotifier::whoisRequested, this, &Shell::showWhois);
        connect(m_notifier, &DesktopNotifier::openPageRequested, this, [this](const QString &visited) {
            const QUrl url(visited);
            if (m_services.openUrl)
                m_services.openUrl(url);
            else
                QDesktopServices::openUrl(url);
        });
    }
    m_notifier->notify(caption, subcaption, address, page);
}

WhoIs_Form *Shell::whoisWindow() const
{
    return m_whois;
}

void Shell::showWhois(const QString &hostName)
{
    if (!m_whois)
        m_whois = new WhoIs_Form(m_services.settings, *m_services.clock, {}, m_main->window());
    m_whois->openFor(hostName);
}

void Shell::restoreWindow()
{
    m_container->restoreFromTray();
}

void Shell::showRequestedWindow()
{
    if (m_shutDown || !m_container)
        return;
    // A settings window open in the main window's place is what the user gets to see.
    if (m_settingsWindow && m_settingsWindow->isVisible()) {
        m_settingsWindow->raise();
        m_settingsWindow->activateWindow();
        return;
    }
    restoreWindow();
}

frmSettings *Shell::settingsWindow() const
{
    return m_settingsWindow;
}

frmMain2 *Shell::hostManager() const
{
    return m_hostManager;
}

void Shell::showServerSettings()
{
    if (m_shutDown || !m_main)
        return;
    // The main window stays hidden while the settings window is open.
    if (m_container)
        m_container->hide();
    if (!m_settingsWindow) {
        frmSettingsServices services;
        services.settings = m_services.settings;
        services.connection = m_connection;
        m_settingsWindow = new frmSettings(*this, services);
        m_settingsWindow->load();
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void Shell::showHostManager()
{
    if (m_shutDown)
        return;
    if (!m_hostManager) {
        frmMain2Services services;
        services.settings = m_services.settings;
        services.connection = m_connection;
        m_hostManager = new frmMain2(*this, services);
        m_hostManager->load();
    }
    m_hostManager->showNormal();
    m_hostManager->raise();
    m_hostManager->activateWindow();
}

void Shell::showMainWindow()
{
    if (m_container)
        m_container->restoreFromTray();
}

void Shell::listenOnPort(qint16 port)
{
    if (m_main)
        m_main->ListenOnPort(port);
}

void Shell::enablePublisher()
{
    if (m_main)
        m_main->enablePublisher();
}

void Shell::restartRelay()
{
    if (m_engine)
        m_engine->restartRelay();
}

void Shell::setAddressLabel(const QString &text)
{
    if (m_main)
        m_main->setAddressCaption(text);
}
