#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// One running instance per user: a lock file in the user's runtime folder. A lock left behind by
// a crashed run (its process is gone) is taken over.
class SingleInstance final
{
public:
    // lockDir empty: $XDG_RUNTIME_DIR (or the system's temporary folder when that is unset).
    explicit SingleInstance(const QString &lockDir = QString());

    // True when this process now holds the lock.
    bool tryLock();
    bool isLocked() const;
    QString lockFileName() const { return m_fileName; }
    void unlock();

private:
    QString m_fileName;
    std::unique_ptr<QLockFile> m_lock;
};
