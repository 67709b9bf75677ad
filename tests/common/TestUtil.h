#pragma once

#include <QHostAddress>
#include <QRandomGenerator>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

// Small helpers shared by the tests.
namespace TestUtil {

// Path of a file under tests/data in the source tree.
inline QString dataFile(const QString &name)
{
    return QStringLiteral(VISTELLE_TEST_DATADIR "/") + name;
}

inline QString sourceRoot()
{
    return QStringLiteral(VISTELLE_SOURCE_ROOT);
}

// A TCP port that is free now and fits the program's 16-bit port rule (1024..32767).
inline quint16 freePort16()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

} // namespace TestUtil
