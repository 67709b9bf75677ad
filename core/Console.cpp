#include "core/Console.h"

#include "core/PlainText.h"

#include <QByteArray>

#include <atomic>
#include <cstdio>

namespace Console {
namespace {
std::atomic<bool> g_headless { false };
thread_local int t_batchDepth = 0;
thread_local QByteArray t_batch;

void put(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void write(std::FILE *stream, const QString &line)
{
    // One line stays one line on the console, and no visitor's text reaches the terminal's
    // control sequences.
    const bool batched = stream == stdout && t_batchDepth > 0;
    QByteArray single;
    QByteArray &bytes = batched ? t_batch : single;
    PlainText::appendSanitizedUtf8(bytes, line);
    bytes.append('\n');
    if (!batched)
        put(stream, bytes);
}
} // namespace

LineBatch::LineBatch()
{
    ++t_batchDepth;
}

LineBatch::~LineBatch()
{
    if (--t_batchDepth > 0 || t_batch.isEmpty())
        return;
    put(stdout, t_batch);
    t_batch.resize(0); // keeps its room for the next batch
}

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
