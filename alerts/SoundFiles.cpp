#include "alerts/SoundFiles.h"

#include "core/Paths.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace SoundFiles {

QString desktopAlertSound()
{
    // The theme's own location first, then the XDG data folders (a theme installed elsewhere).
    static const QString fixed = QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga");
    if (QFileInfo::exists(fixed))
        return fixed;
    const QString found = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("sounds/freedesktop/stereo/bell.oga"));
    return found.isEmpty() ? fixed : found;
}

QString resolve(const QString &fileName)
{
    if (fileName.trimmed().isEmpty())
        return {};
    return Paths::findDataFile(fileName);
}

} // namespace SoundFiles
