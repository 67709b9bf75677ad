#include "engine/SingleInstance.h"

#include "core/PrivateFiles.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString &lockDir)
{
    QString dir = lockDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    PrivateFiles::makeDir(dir);
    m_fileName = dir + QStringLiteral("/vistelle.lock");
    m_lock = std::make_unique<QLockFile>(m_fileName);
    // A running instance refreshes nothing: the lock stays valid for as long as its process lives.
    m_lock->setStaleLockTime(0);
}

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
    m_lock->unlock();
}
