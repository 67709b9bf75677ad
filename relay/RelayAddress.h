#pragma once

#include <QString>

#include <optional>

// Where the relay meets its broker: RelayPublishURL or RelaySubscribeURL, written
// "mqtts://user@broker.example:8883/vistelle/mysite". The path is the topic prefix (visits go to
// "<prefix>/visits"); when subscribing a level may be "+" (every site). mqtts is MQTT over TLS
// (port 8883 unless given); plain mqtt (1883) only for a broker on this machine, since the
// password would otherwise cross the network readable. A password is never part of the address:
// it lives in the keyring or RelayPassword.
struct RelayAddress
{
    bool tls = true;
    QString host;
    quint16 port = 8883;
    QString user;
    QString prefix;

    enum class Use { Publishing, Subscribing };
    // No value, and the reason in *why, for an address that cannot be used so.
    static std::optional<RelayAddress> parse(const QString &url, Use use, QString *why = nullptr);

    QString visitsTopic() const { return prefix + QStringLiteral("/visits"); }
};
