#include "alerts/StartupEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace StartupEntry {
namespace {
constexpr qint64 MaxEntryBytes = 64 * 1024;

bool needsQuotes(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    for (const QChar c : path) {
        if (reserved.contains(c))
            return true;
    }
    return false;
}
} // namespace

QString fileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/vn.desktop");
}

QString execValue(const QString &programPath)
{
    // First the quoting rule of the Exec key, then the string rule of the file format (whose
    // backslash escapes apply before the quoting is undone), then the field-code rule for "%".
    QString argument;
    if (needsQuotes(programPath)) {
        argument = QStringLiteral("\"");
        for (const QChar c : programPath) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument += u'"';
    } else {
        argument = programPath;
    }
    QString value;
    for (const QChar c : argument) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else if (c == u'%')
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

QString read()
{
    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.read(MaxEntryBytes).split('\n');
    bool inMainGroup = false;
    QString exec;
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Hidden" && value == "true")
            return {};
        if (key == "Exec")
            exec = QString::fromUtf8(value);
    }
    return exec;
}

bool write(const QString &programPath)
{
    const QString name = fileName();
    QDir().mkpath(QFileInfo(name).absolutePath());
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Vistelle\n"
                                        "Comment=Announces every visit to your web pages\n"
                                        "Icon=vistelle\n"
                                        "Exec=")
        + execValue(programPath)
        + QStringLiteral("\n"
                         "Terminal=false\n"
                         "StartupNotify=false\n"
                         "X-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    return file.commit();
}

bool remove()
{
    QFile file(fileName());
    return !file.exists() || file.remove();
}

} // namespace StartupEntry
