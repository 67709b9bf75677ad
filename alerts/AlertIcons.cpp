#include "alerts/AlertIcons.h"

namespace AlertIcons {

QIcon normalTrayIcon()
{
    return QIcon(QStringLiteral(":/vistelle/icons/tray-normal.png"));
}

QIcon alertTrayIcon()
{
    return QIcon(QStringLiteral(":/vistelle/icons/tray-alert.png"));
}

QIcon buttonIcon(const char *themeName)
{
    const QString name = QString::fromLatin1(themeName);
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/vistelle/icons/") + name + QStringLiteral(".svg")));
}

} // namespace AlertIcons
