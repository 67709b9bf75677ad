#include "engine/HeadlessShell.h"

#include "alerts/AlsaSoundOutput.h"
#include "core/Console.h"
#include "core/PlainText.h"
#include "engine/CommandLine.h"
#include "engine/SingleInstance.h"
#include "engine/UnixSignals.h"
#include "nettools/Class1.h"
#include "publish/HttpRequest.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

namespace {
// As the popup window bounds its texts.
constexpr qsizetype MaxPopupText = 1000;
} // namespace

HeadlessShell::HeadlessShell(Services services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_instance(std::make_unique<SingleInstance>(m_services.lockDir))
{ }

HeadlessShell::~HeadlessShell()
{
    if (!m_shutDown && m_locked)
        ShutDown();
}

bool HeadlessShell::RunStartup()
{
    if (m_shutDown)
        return false;
    if (!m_locked) {
        if (!m_instance->tryLock()) {
            Console::writeError(QStringLiteral("Vistelle: Already running, exiting."));
            QTimer::singleShot(0, this, [this] { emit finished(0); });
            return false;
        }
        m_locked = true;
    }
    if (!m_engine) {
        VisitMonitorServices services = m_services.monitor;
        services.startup = &m_startup;
        if (!services.sound) {
            m_ownSound = std::make_unique<AlsaSoundOutput>();
            services.sound = m_ownSound.get();
        }
        m_engine = std::make_unique<VisitMonitor>(services);
        connect(m_engine.get(), &VisitMonitor::popupRequested, this, &HeadlessShell::showPopup);
        connect(m_engine.get(), &VisitMonitor::startupRequested, this, &HeadlessShell::RunStartup);
    }
    ++m_startup.runCounter;
    const ConnectionState::Result state = m_engine->connection()->query();
    if (state.online)
        m_startup.ConnectionName = state.connectionName;
    m_engine->load();
    if (!state.online) {
        // The load sequence logged the start and the missing connection; then a line holding only
        // the time stamp.
        m_engine->PutLog(QString());
        return true;
    }
    // A program started offline has never run the online steps: the first online call runs
    // them whatever the counter says.
    if (m_startup.runCounter > 1 && m_startup.onlineStepsDone)
        return true;
    m_startup.onlineStepsDone = true;
    m_engine->listenOnConfiguredPort();
    showPopup(QStringLiteral("Vistelle"), QStringLiteral("Current IP: ") + Class1().NameToAddress(QString()));
    m_engine->enablePublisher();
    return true;
}

void HeadlessShell::ShutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_engine)
        m_engine->shutDown();
    // Web exchanges still on their way end now; wait for them only briefly.
    HttpRequest::abortAll();
    QThreadPool::globalInstance()->waitForDone(ShutDownWaitMs);
    if (m_locked)
        m_instance->unlock();
    emit finished(0);
}

void HeadlessShell::showPopup(const QString &caption, const QString &subcaption)
{
    Console::writeLine(QStringLiteral("Popup: ") + PlainText::shortened(caption, MaxPopupText) + QStringLiteral(" | ")
        + PlainText::shortened(subcaption, MaxPopupText));
}

int runHeadless(int argc, char *argv[], const QString &programName)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(programName);
    QCoreApplication::setApplicationVersion(QStringLiteral(VISTELLE_VERSION));

    if (const std::optional<int> answered = CommandLine::answerOrRun(programName))
        return *answered;
    Console::setHeadless(true);

    HeadlessShell::Services services;
    services.monitor.keyring = true; // a server without a secret service keeps the settings file
    HeadlessShell shell(services);
    QObject::connect(&shell, &HeadlessShell::finished, &app, [](int code) { QCoreApplication::exit(code); });
    UnixSignals signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignals::terminationRequested, &shell, &HeadlessShell::ShutDown);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &shell, &HeadlessShell::ShutDown);
    QTimer::singleShot(0, &shell, [&shell] { shell.RunStartup(); });
    return QCoreApplication::exec();
}
