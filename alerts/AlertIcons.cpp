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

} // namespace AlertIcons
