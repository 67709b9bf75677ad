#include "publish/ConnectionMonitor.h"

#include <QDateTime>
#include <QLocale>

ConnectionMonitor::ConnectionMonitor(
    std::shared_ptr<ConnectionState> connection, StartupState &startup, IConnectionMonitorView &view, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_startup(startup)
    , m_view(view)
{ }

ConnectionState::Result ConnectionMonitor::query()
{
    ConnectionState::Result result = m_connection->query();
    if (result.online)
        m_startup.ConnectionName = result.connectionName;
    return result;
}

bool ConnectionMonitor::onWindowLoad()
{
    const ConnectionState::Result state = query();
    m_view.showConnection(state.online);
    if (state.online)
        m_view.putLog(QStringLiteral("Internet connection detected via  ") + m_startup.ConnectionName);
    else
        m_view.putLog(QStringLiteral("No connection detected"));
    return state.online;
}

void ConnectionMonitor::Timer1_Timer()
{
    const ConnectionState::Result first = query();
    if (m_view.dynamicDnsOff())
        m_view.setAddressLabel(QStringLiteral(" Current IP:") + m_view.localAddress());

    if (first.online) {
        m_view.setListenToolTip(m_view.isListening() ? QStringLiteral("Listening on port") + m_view.listenPortText()
                                                     : QStringLiteral("Not Listening"));
        m_view.showConnection(true);
        m_view.enableAddressUpdater(true);
        if (m_firstConnectedTick) {
            m_firstConnectedTick = false;
            m_connectedTicks = 0;
        } else {
            m_startup.runCounter = 0;
        }
        ++m_connectedTicks;
        if (m_connectedTicks <= 1)
            m_view.runStartup();
        return;
    }

    const ConnectionState::Result second = query();
    if (second.online)
        return;
    m_view.showConnection(false);
    m_view.enableAddressUpdater(false);
    m_view.clearLog();
    const QString date = QLocale::c().toString(m_view.now().date(), QStringLiteral("dd-MMMM-yyyy"));
    m_view.putLog(
        QStringLiteral("No Connection Detected. [") + QString::number(second.flags) + QStringLiteral("] ") + date);
    m_connectedTicks = 0;
    m_startup.runCounter = 1;
}
