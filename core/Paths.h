#pragma once

#include <QString>

// Where the program's files live.
namespace Paths {

// $XDG_DATA_HOME/vistelle (by default ~/.local/share/vistelle): the address file, the user's own
// country file and sound files.
QString userDataDir();

// The installed data folder (<prefix>/share/vistelle), and, for a program run from its build
// tree, the source tree's data folder.
QStringList installedDataDirs();

// "The program's folder": the first existing file of that name in the user's data folder, then
// in the installed data folders. An absolute name is returned unchanged. When no folder holds the
// file, the path in the user's data folder.
QString findDataFile(const QString &name);

} // namespace Paths
