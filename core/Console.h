#pragma once

#include <QString>

// The headless console: with no display, or with --headless, the program also writes its event
// log lines and popups to standard output and its message boxes to standard error, one line each
// (made plain by PlainText::sanitized), flushed at once.
namespace Console {

void setHeadless(bool headless);
bool isHeadless();

// One line to standard output (headless mode only; otherwise nothing).
void writeLine(const QString &line);
// One line to standard error (headless mode only; otherwise nothing).
void writeError(const QString &line);

// While one lives (on this thread), the lines for standard output are gathered and written, and
// flushed, together when the outermost one ends: the lines of one visit reach the console in one
// write.
class LineBatch final
{
public:
    LineBatch();
    ~LineBatch();
    LineBatch(const LineBatch &) = delete;
    LineBatch &operator=(const LineBatch &) = delete;
};

// True when the environment offers no display (neither DISPLAY nor WAYLAND_DISPLAY is set).
bool noDisplay();

} // namespace Console
