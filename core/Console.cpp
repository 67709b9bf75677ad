#include "core/Console.h"

#include "core/PlainText.h"

#include <QByteArray>

#include <atomic>
#include <cstdio>

namespace Console {
namespace {
std::atomic<bool> g_headless { false };

void write(std::FILE *stream, const QString &line)
{
    // One line stays one line on the console, and no visitor's text reaches the terminal's
    // control sequences.
    QByteArray bytes = PlainText::sanitized(line).toUtf8();
    bytes.append('\n');
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void setHeadless(bool headless)
{
    g_headless = headless;
}

bool isHeadless()
{
    return g_headless;
}

void writeLine(const QString &line)
{
    if (g_headless)
        write(stdout, line);
}

void writeError(const QString &line)
{
    if (g_headless)
        write(stderr, line);
}

bool noDisplay()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace Console
