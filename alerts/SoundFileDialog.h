#pragma once

#include <QString>

#include <functional>

class QWidget;

// The open-file dialog for sound files. It never waits in a nested event loop: the chosen name
// (empty when the user cancelled) arrives through onName. Tests set the next name instead.
namespace SoundFileDialog {

void open(QWidget *parent, const QString &title, std::function<void(const QString &)> onName);

// The next open() answers with this name at once, without showing anything.
void setNextFileName(const QString &fileName);

} // namespace SoundFileDialog
