#pragma once

#include <QObject>
#include <QString>

class MqttConnection;
class QTimer;

// Connects once to the broker of a relay address and tells how that went: the settings window's
// Test button. The connection is made on the connection's own thread; the answer comes as a
// signal.
class RelayProbe final : public QObject
{
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 10'000;

    explicit RelayProbe(QObject *parent = nullptr);
    ~RelayProbe() override;

    // false, with the reason in *why, when the address cannot be used; otherwise finished follows.
    bool start(const QString &url, const QString &password, const QString &caFile, QString *why = nullptr);

signals:
    // ok: the broker took the user and password.
    void finished(bool ok, const QString &text);

private:
    void finish(bool ok, const QString &text);

    MqttConnection *m_connection = nullptr;
    QTimer *m_timeout;
};
