#include "publish/ConnectionMonitor.h"

#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/SettingsStore.h"

#include <QDateTime>
#include <QLocale>

ConnectionMonitor::ConnectionMonitor(std::shared_ptr<ConnectionState> connection, StartupState &startup,
    IConnectionMonitorView &view, ConnectionMonitorProbes probes, SettingsStore &settings, const Clock &clock,
    QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_startup(startup)
    , m_view(view)
    , m_probes(std::move(probes))
    , m_settings(settings)
    , m_clock(clock)
{ }

bool ConnectionMonitor::dynamicDnsOff() const
{
    return Conversions::trimmedEquals(m_settings.GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
}

QString ConnectionMonitor::listenPortText() const
{
    const double value
        = Conversions::leadingNumber(m_settings.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")));
    return QString::number(value, 'g', 15);
}

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
        LogMsg(QStringLiteral("Internet connection detected via  ") + m_startup.ConnectionName);
    else
        LogMsg(QStringLiteral("No connection detected"));
    return state.online;
}

void ConnectionMonitor::Timer1_Timer()
{
    const ConnectionState::Result first = query();
    if (dynamicDnsOff())
        m_view.setAddressLabel(QStringLiteral(" Current IP:") + m_probes.localAddress());

    if (first.online) {
        m_view.setListenToolTip(m_probes.isListening() ? QStringLiteral("Listening on port") + listenPortText()
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
    const QString date = QLocale::c().toString(m_clock.currentDateTime().date(), QStringLiteral("dd-MMMM-yyyy"));
    LogMsg(QStringLiteral("No Connection Detected. [") + QString::number(second.flags) + QStringLiteral("] ") + date);
    m_connectedTicks = 0;
    m_startup.runCounter = 1;
}
