#pragma once

#include <QIcon>

// The program's two tray pictures: the normal one and the one shown while a visit is announced.
namespace AlertIcons {

QIcon normalTrayIcon();
QIcon alertTrayIcon();

// The buttons of the notification windows: the desktop theme's icon of that name, else ours
// (list-add, list-remove, media-playback-start, audio-volume-high).
QIcon buttonIcon(const char *themeName);

} // namespace AlertIcons
