#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// One running instance per user: a lock file in the user's runtime folder. A lock left behind by
// a crashed run (its process is gone) is taken over.
//
// The instance with a window also listens on a local socket beside the lock, so that a second
// start (a user who sees no window clicks the menu entry again) can ask it to show its window
// instead of only being turned away.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    static constexpr int AnswerTimeoutMs = 3000;

    // lockDir empty: $XDG_RUNTIME_DIR (or the system's temporary folder when that is unset).
    explicit SingleInstance(const QString &lockDir = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process now holds the lock.
    bool tryLock();
    bool isLocked() const;
    QString lockFileName() const { return m_fileName; }
    QString socketName() const { return m_socketName; }
    void unlock();

    // The lock holder: answers other starts from now on (showRequested). False when the socket
    // cannot be made.
    bool listenForOthers();

    // A second start: asks the running instance to show its window; done(true) once it said it
    // did, done(false) when it does not answer within AnswerTimeoutMs (or listens for nobody).
    void askRunningToShow(std::function<void(bool shown)> done);

signals:
    // Another start asked for the window.
    void showRequested();

private:
    QString m_fileName;
    QString m_socketName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
