#pragma once

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

// A whois server of the test's own on loopback. Each connection's bytes are recorded. With an
// answer set, it writes the answer once the query line is complete and closes (or, with
// keepOpen, leaves the connection open); without one, the test writes through send().
class FakeWhoisServer final : public QTcpServer
{
public:
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray received;
        bool closed = false; // the client closed or dropped the connection
    };

    explicit FakeWhoisServer(const QHostAddress &address = QHostAddress::LocalHost)
    {
        listen(address);
        QObject::connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                const qsizetype index = m_connections.size();
                m_connections.append({ socket, {}, false });
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, index] { onRead(index); });
                QObject::connect(
                    socket, &QTcpSocket::disconnected, this, [this, index] { m_connections[index].closed = true; });
            }
        });
    }

    // "127.0.0.1:port" (or "[::1]:port"), as the whois window's settings hold a server.
    QString entry() const
    {
        const QString host = serverAddress().protocol() == QAbstractSocket::IPv6Protocol
            ? u'[' + serverAddress().toString() + u']'
            : serverAddress().toString();
        return host + u':' + QString::number(serverPort());
    }

    std::optional<QByteArray> answer;
    bool keepOpen = false;

    qsizetype connectionCount() const { return m_connections.size(); }
    const Connection &connection(qsizetype i) const { return m_connections.at(i); }
    const Connection &last() const { return m_connections.constLast(); }

    // Writes to the newest connection.
    void send(const QByteArray &bytes)
    {
        if (QTcpSocket *socket = m_connections.constLast().socket)
            socket->write(bytes);
    }
    void closeLast()
    {
        if (QTcpSocket *socket = m_connections.constLast().socket)
            socket->disconnectFromHost();
    }

private:
    void onRead(qsizetype index)
    {
        Connection &c = m_connections[index];
        const bool hadLine = c.received.contains("\r\n");
        c.received += c.socket->readAll();
        if (!hadLine && c.received.contains("\r\n") && answer) {
            c.socket->write(*answer);
            if (!keepOpen)
                c.socket->disconnectFromHost();
        }
    }

    QList<Connection> m_connections;
};
