#include "app/modMain.h"

#include "app/Shell.h"

namespace modMain {

bool PrepareControls()
{
    return true;
}

void RunStartup()
{
    if (Shell *shell = Shell::instance())
        shell->RunStartup();
}

void ShutDown()
{
    if (Shell *shell = Shell::instance())
        shell->ShutDown();
}

void OpenDocument(const QString &path)
{
    if (Shell *shell = Shell::instance())
        shell->OpenDocument(path);
}

} // namespace modMain
