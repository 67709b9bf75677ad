#pragma once

#include <QIcon>

// The program's two tray pictures: the normal one and the one shown while a visit is announced.
namespace AlertIcons {

QIcon normalTrayIcon();
QIcon alertTrayIcon();

} // namespace AlertIcons
