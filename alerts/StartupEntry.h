#pragma once

#include <QString>

// The per-user start-at-login entry: the XDG autostart file vn.desktop in
// $XDG_CONFIG_HOME/autostart/ (by default ~/.config/autostart/). It starts the program given
// to write() by its absolute path.
namespace StartupEntry {

QString fileName();

// The entry's command line (its Exec value as written), or an empty text when there is no entry,
// it cannot be read, or the desktop was told to skip it (Hidden=true).
QString read();

// Writes (or writes again) the entry for the program at programPath. False when the file could
// not be written.
bool write(const QString &programPath);

// Removes the entry. True when none is left.
bool remove();

// The Exec value that starts programPath: the path quoted as the Desktop Entry rules require
// (double quotes when it holds a reserved character; `"`, `` ` ``, `$` and `\` escaped inside
// them), with the string escapes of the file format and "%%" for a percent sign.
QString execValue(const QString &programPath);

} // namespace StartupEntry
