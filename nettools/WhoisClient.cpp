#include "nettools/WhoisClient.h"

#include "nettools/WhoisServers.h"

#include <QTcpSocket>
#include <QTimer>

#include <libpsl.h>

#include <algorithm>
#include <memory>

namespace {
// What the socket reads ahead of us; the answer's own limit is checked as it is taken.
constexpr qint64 ReadBufferBytes = 64 * 1024;

QString queryLine(const QString &domain)
{
    QString line = domain.trimmed();
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return line;
}
} // namespace

WhoisClient::WhoisClient(const Clock &clock, WhoisLimits limits, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_limits(limits)
    , m_socket(new QTcpSocket(this))
    , m_idleTimer(new QTimer(this))
{
    m_socket->setObjectName(QStringLiteral("Winsock"));
    m_socket->setReadBufferSize(ReadBufferBytes);
    connect(m_socket, &QTcpSocket::connected, this, &WhoisClient::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &WhoisClient::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &WhoisClient::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &WhoisClient::onError);
    m_idleTimer->setInterval(m_limits.idleCheckIntervalMs);
    connect(m_idleTimer, &QTimer::timeout, this, &WhoisClient::checkIdle);
}

WhoisClient::~WhoisClient()
{
    m_running = false;
    m_socket->abort();
}

QString WhoisClient::registeredDomain(const QString &hostName)
{
    // The system's list (the publicsuffix package), else the one built into libpsl.
    static const std::unique_ptr<psl_ctx_t, void (*)(psl_ctx_t *)> list(psl_latest(nullptr), psl_free);
    const QByteArray lower = hostName.trimmed().toLower().toUtf8();
    if (list && !lower.isEmpty() && !lower.contains('\0') && !lower.contains(' ')) {
        if (const char *domain = psl_registrable_domain(list.get(), lower.constData()))
            return QString::fromUtf8(domain);
    }
    int dots = 0;
    for (qsizetype i = hostName.size() - 1; i >= 0; --i) {
        if (hostName.at(i) == u'.' && ++dots == 2)
            return hostName.mid(i + 1);
    }
    return hostName;
}

QString WhoisClient::cutNote(const WhoisLimits &limits)
{
    return QStringLiteral("[The answer is cut here: at most %1 KiB and %2 lines of it are kept.]")
        .arg(limits.maxAnswerBytes / 1024)
        .arg(limits.maxAnswerLines);
}

QString WhoisClient::deadlineNote(qint64 deadlineMs)
{
    return QStringLiteral("[The server took longer than %1 seconds; the query was ended.]").arg(deadlineMs / 1000);
}

QString WhoisClient::idleNote(qint64 idleMs)
{
    return QStringLiteral("[The server sent nothing for %1 seconds; the query was ended.]").arg(idleMs / 1000);
}

bool WhoisClient::query(const QString &serverEntry, const QString &domain)
{
    m_running = false; // the old exchange's last signals are not ours any more
    m_idleTimer->stop();
    m_socket->abort();
    m_connected = false;
    m_buffer.clear();
    m_decoder.reset();
    m_received = 0;
    m_lines = 0;

    const std::optional<WhoisEndpoint> server = WhoisServers::parse(serverEntry);
    if (!server)
        return false;
    m_query = queryLine(domain);
    m_running = true;
    m_lastActivityMs = m_clock.monotonicMs();
    m_startMs = m_lastActivityMs;
    m_idleTimer->start();
    m_socket->connectToHost(server->host, server->port);
    return true;
}

void WhoisClient::abort()
{
    if (m_running)
        end();
}

void WhoisClient::checkIdle()
{
    if (!m_running)
        return;
    const qint64 now = m_clock.monotonicMs();
    const bool idle = now - m_lastActivityMs >= m_limits.idleTimeoutMs;
    if (!idle && now - m_startMs < m_limits.deadlineMs)
        return;
    // A server never reached leaves the text empty.
    if (m_connected)
        addNote(idle ? idleNote(m_limits.idleTimeoutMs) : deadlineNote(m_limits.deadlineMs));
    end();
}

void WhoisClient::onConnected()
{
    if (!m_running)
        return;
    m_connected = true;
    m_lastActivityMs = m_clock.monotonicMs();
    emit connected();
    if (!m_running)
        return;
    if (m_query.isEmpty()) {
        emit noDomainName();
        end();
        return;
    }
    m_socket->write(m_query.toUtf8() + "\r\n");
}

void WhoisClient::onReadyRead()
{
    if (!m_running)
        return;
    while (m_running && m_socket->bytesAvailable() > 0) {
        const qint64 room = m_limits.maxAnswerBytes - m_received;
        if (room <= 0) {
            addNote(cutNote(m_limits));
            end();
            return;
        }
        const QByteArray bytes = m_socket->read(std::min(room, ReadBufferBytes));
        if (bytes.isEmpty())
            break;
        m_received += bytes.size();
        m_lastActivityMs = m_clock.monotonicMs();
        if (!addAnswer(m_decoder.decode(bytes)))
            return;
    }
}

void WhoisClient::onDisconnected()
{
    if (!m_running)
        return;
    onReadyRead(); // anything still buffered
    if (m_running)
        end();
}

void WhoisClient::onError()
{
    if (!m_running)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onDisconnected();
        return;
    }
    // A server that cannot be reached shows nothing; a failure while the answer comes in says why.
    if (m_connected) {
        onReadyRead();
        if (!m_running)
            return;
        addNote(m_socket->errorString());
    }
    end();
}

void WhoisClient::add(const QString &text)
{
    if (text.isEmpty())
        return;
    m_buffer += text;
    emit textArrived(text);
}

bool WhoisClient::addAnswer(const QString &text)
{
    qsizetype at = -1; // the last line end counted
    while (true) {
        if (m_lines >= m_limits.maxAnswerLines) {
            if (at + 1 >= text.size()) {
                add(text);
                return true;
            }
            add(text.left(at + 1));
            addNote(cutNote(m_limits));
            end();
            return false;
        }
        at = text.indexOf(u'\n', at + 1);
        if (at < 0) {
            add(text);
            return true;
        }
        ++m_lines;
    }
}

void WhoisClient::addNote(const QString &note)
{
    add(m_decoder.finish());
    const bool newLine = !m_buffer.isEmpty() && !m_buffer.endsWith(u'\n');
    add((newLine ? QStringLiteral("\n") : QString()) + note + u'\n');
}

void WhoisClient::end()
{
    m_running = false;
    m_idleTimer->stop();
    add(m_decoder.finish());
    m_socket->abort();
    m_connected = false;
    emit finished();
}
