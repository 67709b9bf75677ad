#include "engine/SingleInstance.h"

#include "core/PrivateFiles.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

namespace {
const QByteArray ShowRequest = QByteArrayLiteral("show\n");
const QByteArray ShownAnswer = QByteArrayLiteral("shown\n");
} // namespace

SingleInstance::SingleInstance(const QString &lockDir, QObject *parent)
    : QObject(parent)
{
    QString dir = lockDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    PrivateFiles::makeDir(dir);
    m_fileName = dir + QStringLiteral("/vistelle.lock");
    m_socketName = dir + QStringLiteral("/vistelle.socket");
    m_lock = std::make_unique<QLockFile>(m_fileName);
    // A running instance refreshes nothing: the lock stays valid for as long as its process lives.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryLock()
{
    // QLockFile treats a lock as stale, and takes it over, when the process that wrote it is gone
    // or the process number now belongs to another program.
    return m_lock->tryLock(0);
}

bool SingleInstance::isLocked() const
{
    return m_lock->isLocked();
}

void SingleInstance::unlock()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    m_lock->unlock();
}

bool SingleInstance::listenForOthers()
{
    if (m_server || !isLocked())
        return m_server != nullptr;
    // The lock is ours: a socket left in its place belongs to a run that is gone.
    QLocalServer::removeServer(m_socketName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketName)) {
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            // A caller that says nothing sensible within the time is dropped.
            QTimer::singleShot(AnswerTimeoutMs, client, [client] { client->abort(); });
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (client->bytesAvailable() > 64) {
                    client->abort();
                    return;
                }
                if (!client->canReadLine())
                    return;
                if (client->readLine(64) == ShowRequest) {
                    emit showRequested();
                    client->write(ShownAnswer);
                    client->flush();
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

void SingleInstance::askRunningToShow(std::function<void(bool shown)> done)
{
    auto *socket = new QLocalSocket(this);
    auto finished = std::make_shared<bool>(false);
    auto finish = [socket, finished, done = std::move(done)](bool shown) {
        if (*finished)
            return;
        *finished = true;
        socket->abort();
        socket->deleteLater();
        if (done)
            done(shown);
    };
    QTimer::singleShot(AnswerTimeoutMs, socket, [finish] { finish(false); });
    connect(socket, &QLocalSocket::connected, socket, [socket] { socket->write(ShowRequest); });
    connect(socket, &QLocalSocket::readyRead, socket, [socket, finish] {
        if (socket->canReadLine())
            finish(socket->readLine(64) == ShownAnswer);
    });
    connect(socket, &QLocalSocket::errorOccurred, socket, [finish] { finish(false); });
    socket->connectToServer(m_socketName);
}
