#include "app/Shell.h"

#include "alerts/AlertIcons.h"
#include "alerts/AlsaSoundOutput.h"
#include "alerts/Tray.h"
#include "alerts/frmTrayNotification.h"
#include "app/SingleInstance.h"
#include "app/frmContainer.h"
#include "app/modMain.h"
#include "capture/frmMain.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "history/HistoryStore.h"
#include "history/frmHistory.h"
#include "nettools/Class1.h"
#include "publish/HttpRequest.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QThreadPool>

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
    delete m_main;
    m_history.reset();
    delete m_container;
    delete m_popup;
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
}

frmMain *Shell::mainWindow()
{
    if (m_main)
        return m_main;
    ensureContainer();
    frmMainServices services;
    services.clock = m_services.clock;
    services.settings = m_services.settings;
    services.connection = m_connection;
    services.startup = &m_startup;
    services.listenerLimits = m_services.listenerLimits;
    services.sound = m_services.sound;
    if (!m_history) {
        const QString file
            = m_services.historyFile.isEmpty() ? HistoryStore::defaultFileName() : m_services.historyFile;
        SettingsStore &settings = m_services.settings ? *m_services.settings : SettingsStore::instance();
        m_history = std::make_unique<HistoryStore>(
            file, settings,
            [this](const QString &line) {
                if (m_main)
                    m_main->PutLog(line);
            },
            *m_services.clock);
    }
    services.recorder = m_history.get();
    m_main = new frmMain(*this, services);
    m_container->host(m_main);
    connect(m_main, &frmMain::exitRequested, m_container, &QWidget::close);
    connect(m_main, &frmMain::historyRequested, this, &Shell::showHistory);
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
            MessageBox::show(nullptr, QMessageBox::Information, QStringLiteral("Vistelle"),
                QStringLiteral("Already running, exiting."), QMessageBox::Ok, QMessageBox::Ok,
                [this](QMessageBox::StandardButton) { emit finished(0); });
            return false;
        }
        m_locked = true;
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
    main->show();
    // Into the tray. Where minimising would hide the window anyway it is hidden at once: asking
    // the window manager to iconify a window that is withdrawn a moment later let its late answer
    // minimise the window again when the tray brought it back, and at times left it iconified.
    if (m_container->hidesWhenMinimized())
        m_container->hide();
    else
        m_container->showMinimized();

    m_popup->lblCaption->setText(QStringLiteral("Vistelle"));
    m_popup->lblSubcaption->setText(QStringLiteral("Current IP: ") + Class1().NameToAddress(QString()));
    m_popup->ShowTrayNotification();
    main->enablePublisher();
    return true;
}

void Shell::ShutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_main) {
        m_main->WRITEIP();
        m_main->stopTimers();
        m_main->closeSocket();
        m_main->hide();
        m_main->deleteLater();
        m_main = nullptr;
    }
    if (m_historyWindow) {
        m_historyWindow->hide();
        m_historyWindow->deleteLater();
        m_historyWindow = nullptr;
    }
    // The visits still waiting are written now.
    m_history.reset();
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

void Shell::showHistory()
{
    if (!m_history || m_shutDown)
        return;
    if (!m_historyWindow) {
        m_historyWindow = new frmHistory(m_history->fileName(), *m_services.clock);
        m_historyWindow->setAttribute(Qt::WA_QuitOnClose, false);
        connect(m_history.get(), &HistoryStore::fileReplaced, m_historyWindow, &frmHistory::fileReplaced);
        connect(m_historyWindow, &frmHistory::damageFound, m_history.get(), &HistoryStore::reportDamage);
    }
    if (m_historyWindow->isVisible())
        m_historyWindow->refresh();
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
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

void Shell::setTrayAlert(bool alert)
{
    if (!m_tray || !m_container)
        return;
    m_tray->setTrayImage(alert ? m_container->picIconAlert : m_container->picIcon);
    m_tray->Show(true);
}

void Shell::setTrayBusy(bool busy, const QString &toolTip)
{
    if (!m_tray || !m_container)
        return;
    m_tray->setTrayToolTip(toolTip);
    m_tray->setTrayImage(busy ? m_container->Picture1 : m_container->picIcon);
    m_tray->Show(true);
}

void Shell::showPopup(const QString &caption, const QString &subcaption)
{
    m_popup->ShowTrayNotification(caption, subcaption);
}

void Shell::restoreWindow()
{
    m_container->restoreFromTray();
}
