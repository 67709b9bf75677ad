#pragma once

#include "capture/VisitProcessor.h"
#include "core/Clock.h"

#include <QObject>
#include <QString>

#include <functional>

class HistoryStore;
class RelayPublisher;
class RelaySubscriber;
class SettingsStore;

// The relay as the engine runs it, from the settings:
//   RelayPublishURL    publish this PC's visits (a server's vistelled) to the broker
//   RelaySubscribeURL  receive the visits of the sites there (the owner's desktop)
//   RelayPassword      the broker password of the URLs' user
//   RelayKeepDays      how long the broker keeps the visits of a desktop that is away (7)
//   RelayCaFile        the certificate authority of a broker with a private one
// Either, both or none. The publisher's outbox is the history; the subscriber's visits go the way
// of the listener's (onVisit) and a backlog is announced once (onBacklog).
class RelayLink final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultKeepDays = 7;
    // The history writes within this long when it is the outbox.
    static constexpr int OutboxFlushDelayMs = 5;

    RelayLink(SettingsStore &settings, HistoryStore *history, const Clock &clock, QObject *parent = nullptr);
    ~RelayLink() override;

    std::function<void(const RelayedVisit &visit, bool announce)> onVisit;
    std::function<void(int count, const QString &topPage)> onBacklog;

    // Reads the settings and starts what they ask for; a URL that cannot be used is logged.
    void start();
    bool isOn() const { return m_publisher || m_subscriber; }
    // "Relay: connected", "Relay: retrying (...)"; empty while the relay is off.
    QString stateText() const { return m_stateText; }

    RelayPublisher *publisher() const { return m_publisher; }
    RelaySubscriber *subscriber() const { return m_subscriber; }

signals:
    void stateChanged(const QString &text);

private:
    QString installationId();
    void updateState();
    void startSubscriberWhenStored();

    SettingsStore &m_settings;
    HistoryStore *m_history;
    const Clock &m_clock;
    RelayPublisher *m_publisher = nullptr;
    RelaySubscriber *m_subscriber = nullptr;
    QString m_publisherState;
    QString m_subscriberState;
    QString m_stateText;
    qint64 m_keepMs = 0;
    QString m_inboxFile; // the subscriber's (empty: none)
    quint64 m_storedMark = 0; // the history's recorded visits when the subscriber was made
    qint64 m_storedDeadlineMs = 0;
    static constexpr qint64 StoredWaitMs = 10'000;
    static constexpr int StoredPollMs = 50;
};
