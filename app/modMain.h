#pragma once

#include <QString>

// The start-up module: the routines other windows call on the program's shell.
namespace modMain {

// The platform's control set-up; nothing to do with Qt. Always true.
bool PrepareControls();
void RunStartup();
void ShutDown();
void OpenDocument(const QString &path);

} // namespace modMain
