#include "relay/RelayProbe.h"

#include "relay/MqttConnection.h"
#include "relay/RelayAddress.h"

#include <QTimer>

RelayProbe::RelayProbe(QObject *parent)
    : QObject(parent)
    , m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    m_timeout->setInterval(TimeoutMs);
    connect(m_timeout, &QTimer::timeout, this,
        [this] { finish(false, QStringLiteral("No answer from the broker within %1 s").arg(TimeoutMs / 1000)); });
}

RelayProbe::~RelayProbe() = default;

bool RelayProbe::start(const QString &url, const QString &password, const QString &caFile, QString *why)
{
    const auto address = RelayAddress::parse(url, RelayAddress::Use::Subscribing, why);
    if (!address)
        return false;
    delete m_connection;
    MqttConnection::Options options;
    options.address = *address;
    options.password = password;
    options.caFile = caFile;
    m_connection = new MqttConnection(std::move(options), this);
    connect(
        m_connection, &MqttConnection::stateChanged, this, [this](MqttConnection::State state, const QString &problem) {
            switch (state) {
            case MqttConnection::State::Connected:
                finish(true, QStringLiteral("Connected to the broker"));
                break;
            case MqttConnection::State::Refused:
                finish(false, QStringLiteral("Refused by the broker: ") + problem);
                break;
            case MqttConnection::State::Retrying:
                finish(false, QStringLiteral("Cannot reach the broker: ") + problem);
                break;
            case MqttConnection::State::Connecting:
                break;
            }
        });
    m_connection->start();
    m_timeout->start();
    return true;
}

void RelayProbe::finish(bool ok, const QString &text)
{
    if (!m_connection)
        return;
    m_timeout->stop();
    m_connection->deleteLater();
    m_connection = nullptr;
    emit finished(ok, text);
}
