#include "relay/MqttConnection.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString reasonText(int reason)
{
    return QString::fromUtf8(mosquitto_reason_string(reason));
}
} // namespace

// What the connection's thread works with; it outlives the object when the thread has to be left
// behind in a connection attempt.
struct MqttConnection::Core
{
    Options options;
    QPointer<MqttConnection> owner;
    mosquitto *mosq = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool finished = false;

    // Held while a hook runs: the owner clears the hooks under it.
    std::mutex hookMutex;
    std::function<void(const QByteArray &, const QByteArray &)> onMessage;
    std::function<void(int)> onPublished;
    std::function<void(bool)> onConnected;
    std::function<void()> onDisconnected;

    State reported = State::Connecting;
    QString reportedProblem;

    ~Core()
    {
        if (mosq)
            mosquitto_destroy(mosq);
    }

    void report(State state, const QString &problem)
    {
        if ((state == reported && problem == reportedProblem) || !owner)
            return;
        reported = state;
        reportedProblem = problem;
        QMetaObject::invokeMethod(
            owner.data(),
            [owner = owner, state, problem] {
                if (owner)
                    owner->onState(state, problem);
            },
            Qt::QueuedConnection);
    }

    bool stopping()
    {
        std::lock_guard lock(mutex);
        return stop;
    }

    // false: stopping
    bool sleepFor(int seconds)
    {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return stop; });
    }

    void run();
};

void MqttConnection::Core::run()
{
    const QByteArray host = options.address.host.toUtf8();
    mosquitto_property *properties = nullptr;
    if (options.sessionExpiryS > 0)
        mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, options.sessionExpiryS);
    int delay = 1;
    while (!stopping()) {
        const int rc
            = mosquitto_connect_bind_v5(mosq, host.constData(), options.address.port, KeepAliveS, nullptr, properties);
        if (rc == MOSQ_ERR_SUCCESS) {
            delay = 1;
            // Runs until disconnected on purpose; reconnects by itself after a loss.
            mosquitto_loop_forever(mosq, 1000, 1);
            if (stopping())
                break;
        } else {
            report(State::Retrying,
                rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                     : QString::fromUtf8(mosquitto_strerror(rc)));
        }
        if (!sleepFor(delay))
            break;
        delay = qMin(delay * 2, MaxRetryDelayS);
    }
    mosquitto_property_free_all(&properties);
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    wake.notify_all();
}

MqttConnection::MqttConnection(Options options, QObject *parent)
    : QObject(parent)
    , m_core(std::make_shared<Core>())
{
    initLibrary();
    m_core->options = std::move(options);
    m_core->owner = this;
}

MqttConnection::~MqttConnection()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_core->mutex);
        m_core->stop = true;
    }
    m_core->wake.notify_all();
    mosquitto_disconnect(m_core->mosq);
    {
        std::lock_guard hooks(m_core->hookMutex);
        m_core->onMessage = nullptr;
        m_core->onPublished = nullptr;
        m_core->onConnected = nullptr;
        m_core->onDisconnected = nullptr;
    }
    std::unique_lock lock(m_core->mutex);
    if (m_core->wake.wait_for(lock, std::chrono::milliseconds(StopWaitMs), [this] { return m_core->finished; })) {
        lock.unlock();
        m_thread.join();
    } else {
        // Stuck in connect(): the thread ends with the attempt and frees what it used.
        lock.unlock();
        m_thread.detach();
    }
}

void MqttConnection::start()
{
    if (m_thread.joinable())
        return;
    Core &core = *m_core;
    core.onMessage = onMessage;
    core.onPublished = onPublished;
    core.onConnected = onConnected;
    core.onDisconnected = onDisconnected;
    const Options &options = core.options;
    const QByteArray clientId = options.clientId.toUtf8();
    core.mosq = mosquitto_new(
        clientId.isEmpty() ? nullptr : clientId.constData(), clientId.isEmpty() || options.cleanStart, &core);
    mosquitto_int_option(core.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(core.mosq, MOSQ_OPT_RECEIVE_MAXIMUM, 1000);
    mosquitto_int_option(core.mosq, MOSQ_OPT_SEND_MAXIMUM, 1000);
    // Other threads publish: the library then wakes its loop instead of writing from theirs, and
    // a PUBACK leaves only after the message hook returned.
    mosquitto_threaded_set(core.mosq, true);
    mosquitto_reconnect_delay_set(core.mosq, 1, MaxRetryDelayS, true);
    if (!options.address.user.isEmpty())
        mosquitto_username_pw_set(core.mosq, options.address.user.toUtf8().constData(),
            options.password.isEmpty() ? nullptr : options.password.toUtf8().constData());
    if (options.address.tls) {
        const QByteArray caFile = QFile::encodeName(options.caFile);
        mosquitto_tls_set(core.mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
            caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    }
    mosquitto_connect_v5_callback_set(
        core.mosq, [](mosquitto *mosq, void *data, int rc, int flags, const mosquitto_property *) {
            auto &self = *static_cast<Core *>(data);
            if (rc != 0) {
                self.report(State::Refused, reasonText(rc));
                return;
            }
            if (!self.options.subscribeTo.isEmpty())
                mosquitto_subscribe_v5(mosq, nullptr, self.options.subscribeTo.toUtf8().constData(), 1, 0, nullptr);
            self.report(State::Connected, {});
            std::lock_guard hooks(self.hookMutex);
            if (self.onConnected)
                self.onConnected(flags & 1);
        });
    mosquitto_disconnect_v5_callback_set(core.mosq, [](mosquitto *, void *data, int rc, const mosquitto_property *) {
        auto &self = *static_cast<Core *>(data);
        if (!self.stopping() && self.reported != State::Refused)
            self.report(State::Retrying,
                rc == 0        ? QStringLiteral("the broker closed the connection")
                    : rc < 128 ? QString::fromUtf8(mosquitto_strerror(rc))
                               : reasonText(rc));
        std::lock_guard hooks(self.hookMutex);
        if (self.onDisconnected)
            self.onDisconnected();
    });
    mosquitto_message_v5_callback_set(
        core.mosq, [](mosquitto *, void *data, const mosquitto_message *message, const mosquitto_property *) {
            auto &self = *static_cast<Core *>(data);
            std::lock_guard hooks(self.hookMutex);
            if (self.onMessage)
                self.onMessage(QByteArray(message->topic),
                    QByteArray::fromRawData(static_cast<const char *>(message->payload), message->payloadlen));
        });
    mosquitto_publish_v5_callback_set(
        core.mosq, [](mosquitto *, void *data, int mid, int reason, const mosquitto_property *) {
            auto &self = *static_cast<Core *>(data);
            if (reason >= 128)
                self.report(State::Refused, QStringLiteral("a visit was not taken (") + reasonText(reason) + u')');
            std::lock_guard hooks(self.hookMutex);
            if (self.onPublished)
                self.onPublished(mid);
        });
    m_thread = std::thread([core = m_core] { core->run(); });
}

bool MqttConnection::publish(const QByteArray &topic, const QByteArray &payload, int *mid)
{
    return mosquitto_publish_v5(
               m_core->mosq, mid, topic.constData(), int(payload.size()), payload.constData(), 1, false, nullptr)
        == MOSQ_ERR_SUCCESS;
}

void MqttConnection::onState(State state, const QString &problem)
{
    m_state = state;
    m_problem = problem;
    emit stateChanged(state, problem);
}

QString MqttConnection::describe(State state, const QString &problem)
{
    switch (state) {
    case State::Connected:
        return QStringLiteral("connected");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Retrying:
        return QStringLiteral("retrying (") + problem + u')';
    case State::Refused:
        return QStringLiteral("refused by the broker: ") + problem;
    }
    return {};
}
