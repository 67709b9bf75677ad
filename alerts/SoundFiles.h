#pragma once

#include <QString>

// Where a sound file name leads.
namespace SoundFiles {

// The desktop's default alert sound: the freedesktop sound theme's "bell".
QString desktopAlertSound();

// The file a stored sound name stands for: an absolute name as it is; a relative name in the
// user's data folder, else in the program's data folder. The result may not exist; the player
// falls back to the alert sound then.
QString resolve(const QString &fileName);

} // namespace SoundFiles
