#include "core/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Paths {

QString userDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/vistelle");
}

QStringList installedDataDirs()
{
    QStringList dirs;
    if (QCoreApplication::instance()) {
        // A relocated installation: <prefix>/bin/vistelle next to <prefix>/share/vistelle.
        dirs << QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vistelle"));
    }
    dirs << QStringLiteral(VISTELLE_INSTALLED_DATADIR);
    dirs << QStringLiteral(VISTELLE_SOURCE_DATADIR);
    dirs.removeDuplicates();
    return dirs;
}

QString findDataFile(const QString &name)
{
    if (QFileInfo(name).isAbsolute())
        return name;
    const QString user = userDataDir() + u'/' + name;
    if (QFileInfo::exists(user))
        return user;
    const QStringList dirs = installedDataDirs();
    for (const QString &dir : dirs) {
        const QString candidate = dir + u'/' + name;
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return user;
}

} // namespace Paths
