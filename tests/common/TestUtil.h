#pragma once

#include <QTemporaryDir>
#include <QString>

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

} // namespace TestUtil
