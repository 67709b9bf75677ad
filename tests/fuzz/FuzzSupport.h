#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

// What the harnesses share: one application object, inputs as Qt types, and a check that ends
// the run (libFuzzer then keeps the input) when a property of the code under test fails.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #condition, __FILE__, __LINE__);                  \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace Fuzz {

// The application object the code under test expects (event loop, file names); made once.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "vistelle-fuzz";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
}

// The input as bytes, without a copy: valid while the harness runs.
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input cut in two at its first NUL byte (the second part empty when there is none).
inline std::pair<QByteArray, QByteArray> split(const QByteArray &input)
{
    const qsizetype at = input.indexOf('\0');
    if (at < 0)
        return { input, QByteArray() };
    return { input.left(at), input.mid(at + 1) };
}

// A folder for the files the readers read, removed at the end of the run.
inline QString scratchFile(const char *name)
{
    static QTemporaryDir dir(QStringLiteral("/dev/shm/vistelle-fuzz-XXXXXX"));
    static QTemporaryDir fallback;
    const QTemporaryDir &used = dir.isValid() ? dir : fallback;
    return used.filePath(QString::fromLatin1(name));
}

} // namespace Fuzz
