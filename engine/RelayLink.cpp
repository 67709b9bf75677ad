#include "engine/RelayLink.h"

#include "capture/CountryLookup.h"
#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"
#include "history/HistoryOutbox.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "publish/BackgroundTask.h"
#include "relay/RelayPublisher.h"
#include "relay/RelaySubscriber.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

namespace {
MqttConnection::Options optionsFor(const RelayAddress &address, SettingsStore &settings)
{
    MqttConnection::Options options;
    options.address = address;
    options.password = settings.GetSetting(QStringLiteral("RelayPassword"));
    options.caFile = settings.GetSetting(QStringLiteral("RelayCaFile")).trimmed();
    options.cleanStart = false;
    const QString days = settings.GetSetting(QStringLiteral("RelayKeepDays"));
    const int keepDays = Conversions::isNumeric(days) ? int(qBound(1.0, Conversions::leadingNumber(days), 365.0))
                                                      : RelayLink::DefaultKeepDays;
    options.sessionExpiryS = quint32(keepDays) * 24 * 3600;
    return options;
}
} // namespace

RelayLink::RelayLink(SettingsStore &settings, HistoryStore *history, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_history(history)
    , m_clock(clock)
{ }

RelayLink::~RelayLink()
{
    if (m_history && m_publisher)
        m_history->setWrittenHook({});
    delete m_publisher;
    delete m_subscriber;
}

// 16 hexadecimal digits of this installation, made once: the clients' ids and the visits' ids.
QString RelayLink::installationId()
{
    QString id = m_settings.GetSetting(QStringLiteral("RelayInstallationId")).trimmed().toLower();
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{16}$"));
    if (!form.match(id).hasMatch()) {
        id = QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        m_settings.SaveSetting(QStringLiteral("RelayInstallationId"), id);
    }
    return id;
}

void RelayLink::start()
{
    const QString publishUrl = m_settings.GetSetting(QStringLiteral("RelayPublishURL")).trimmed();
    const QString subscribeUrl = m_settings.GetSetting(QStringLiteral("RelaySubscribeURL")).trimmed();
    if (publishUrl.isEmpty() && subscribeUrl.isEmpty())
        return;
    const QString id = installationId();

    if (!publishUrl.isEmpty()) {
        QString why;
        const auto address = RelayAddress::parse(publishUrl, RelayAddress::Use::Publishing, &why);
        if (!address) {
            LogMsg(QStringLiteral("Relay: RelayPublishURL not used: ") + why);
        } else if (!m_history || !m_history->keepsVisits()) {
            LogMsg(QStringLiteral("Relay: publishing needs the history (KeepHistory), which keeps the visits until the "
                                  "broker has them"));
        } else {
            MqttConnection::Options options = optionsFor(*address, m_settings);
            options.clientId = QStringLiteral("vistelle-") + id + QStringLiteral("-p");
            auto outbox = std::make_shared<HistoryOutbox>(m_history->fileName());
            // The country codes of the names the history keeps, read on the publisher's thread.
            auto codes = std::make_shared<QHash<QString, QString>>();
            RelayPublisher::Outbox source;
            source.publishedKey = [outbox] { return outbox->publishedKey(); };
            source.prepare = [codes] {
                *codes = CountryLookup::codesByName(Paths::findDataFile(CountryLookup::defaultFileName()));
                codes->insert(CountryLookup::codesByName(Paths::findDataFile(CountryLookup::defaultIpv6FileName())));
            };
            source.visitsAfter = [outbox, codes](qint64 key, int limit) {
                std::vector<RelayPublisher::Entry> entries;
                for (const HistoryOutbox::Visit &visit : outbox->visitsAfter(key, limit)) {
                    RelayPublisher::Entry entry;
                    entry.key = visit.key;
                    entry.visit.time = QDateTime::fromMSecsSinceEpoch(visit.timeMs, Qt::UTC);
                    entry.visit.address = visit.address;
                    entry.visit.page = visit.page;
                    entry.visit.countryName = visit.country;
                    entry.visit.countryCode = codes->value(visit.country);
                    entry.visit.tls = visit.tls;
                    entry.visit.host = visit.host;
                    entries.push_back(std::move(entry));
                }
                return entries;
            };
            source.keyBefore = [](qint64 key, qint64 ms) {
                return qMax<qint64>(0, HistorySchema::firstKeyAt(HistorySchema::timeOfKey(key) - ms) - 1);
            };
            m_publisher = new RelayPublisher(std::move(options), id, std::move(source), this);
            connect(m_publisher, &RelayPublisher::acknowledged, this,
                [this](qint64 key) { m_history->setRelayPublished(key); });
            connect(&m_publisher->connection(), &MqttConnection::stateChanged, this,
                [this](MqttConnection::State state, const QString &problem) {
                    m_publisherState = MqttConnection::describe(state, problem);
                    LogMsg(QStringLiteral("Relay (publishing): ") + m_publisherState);
                    updateState();
                });
            m_history->setFlushDelayMs(OutboxFlushDelayMs);
            m_history->setWrittenHook([publisher = m_publisher] { publisher->wake(); });
            m_publisherState = MqttConnection::describe(MqttConnection::State::Connecting, {});
            m_publisher->start();
        }
    }

    if (!subscribeUrl.isEmpty()) {
        QString why;
        const auto address = RelayAddress::parse(subscribeUrl, RelayAddress::Use::Subscribing, &why);
        if (!address) {
            LogMsg(QStringLiteral("Relay: RelaySubscribeURL not used: ") + why);
        } else {
            MqttConnection::Options options = optionsFor(*address, m_settings);
            options.clientId = QStringLiteral("vistelle-") + id + QStringLiteral("-s");
            options.subscribeTo = address->visitsTopic();
            const qint64 keepMs = qint64(options.sessionExpiryS) * 1000;
            // Without a history the inbox would never be emptied (nothing says the visits are kept).
            const QString inbox = m_history && m_history->keepsVisits()
                ? QFileInfo(m_history->fileName()).absolutePath() + QStringLiteral("/relay-inbox")
                : QString();
            m_inboxFile = inbox;
            m_subscriber = new RelaySubscriber(std::move(options), inbox, m_clock, this);
            connect(m_subscriber, &RelaySubscriber::visitArrived, this, [this](const RelayVisit &visit, bool backlog) {
                if (onVisit)
                    onVisit(
                        RelayedVisit { visit.time, visit.address, visit.page, visit.countryName, visit.tls, visit.id },
                        !backlog);
            });
            connect(m_subscriber, &RelaySubscriber::backlogEnded, this, [this](int count, const QString &topPage) {
                if (onBacklog)
                    onBacklog(count, topPage);
            });
            connect(&m_subscriber->connection(), &MqttConnection::stateChanged, this,
                [this](MqttConnection::State state, const QString &problem) {
                    m_subscriberState = MqttConnection::describe(state, problem);
                    LogMsg(QStringLiteral("Relay (receiving): ") + m_subscriberState);
                    updateState();
                });
            m_subscriberState = MqttConnection::describe(MqttConnection::State::Connecting, {});
            if (m_history) {
                connect(m_history, &HistoryStore::visitsWritten, m_subscriber, [this] {
                    if (m_history->isIdle())
                        m_subscriber->historyCaughtUp();
                });
                m_keepMs = keepMs;
                m_storedMark = m_history->recordedCount();
                m_storedDeadlineMs = m_clock.monotonicMs() + StoredWaitMs;
                startSubscriberWhenStored();
            } else {
                m_subscriber->start({});
            }
        }
    }
    updateState();
}

// The visits already stored are known before the broker sends any again. After a restart of the
// relay, what the last subscriber handed on may still wait for the history: the ids are read once
// the visits recorded before this start are written (StoredWaitMs at most: a file that cannot be
// written must not keep the relay away).
void RelayLink::startSubscriberWhenStored()
{
    if (!m_history->hasWritten(m_storedMark) && m_clock.monotonicMs() < m_storedDeadlineMs) {
        QTimer::singleShot(StoredPollMs, this, &RelayLink::startSubscriberWhenStored);
        return;
    }
    // Both files are read on the thread pool: the inbox may hold a week's visits.
    struct Stored
    {
        QStringList ids;
        std::vector<RelayVisit> inbox;
    };
    const QString file = m_history->fileName();
    const QString inbox = m_inboxFile;
    const qint64 since = m_clock.currentDateTime().toMSecsSinceEpoch() - m_keepMs;
    runInBackground<Stored>(
        this,
        [file, inbox, since] {
            return Stored { HistoryOutbox(file).relayIdsSince(since), RelaySubscriber::readInbox(inbox) };
        },
        [this](const Stored &stored) { m_subscriber->start(stored.ids, stored.inbox); });
}

void RelayLink::updateState()
{
    QString text;
    if (m_publisher && m_subscriber && m_publisherState != m_subscriberState)
        text = QStringLiteral("Relay: publishing ") + m_publisherState + QStringLiteral(", receiving ")
            + m_subscriberState;
    else if (m_publisher || m_subscriber)
        text = QStringLiteral("Relay: ") + (m_publisher ? m_publisherState : m_subscriberState);
    if (text == m_stateText)
        return;
    m_stateText = text;
    emit stateChanged(text);
}
