#include "publish/AddressFile.h"

#include "core/Paths.h"
#include "core/PrivateFiles.h"

#include <QFile>
#include <QStringList>

namespace AddressFile {

QString fileName()
{
    return Paths::userDataDir() + QStringLiteral("/iptxt.txt");
}

bool isAddress(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

QString read(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString line = QString::fromUtf8(file.readLine(1024)).trimmed();
    return isAddress(line) ? line : QString();
}

QString addressInCaption(const QString &caption)
{
    const qsizetype at = caption.indexOf(QStringLiteral("IP:"));
    if (at < 0)
        return {};
    const QString address = caption.mid(at + 3).trimmed();
    return isAddress(address) ? address : QString();
}

bool write(const QString &address, QString *error, const QString &name)
{
    const QByteArray content = isAddress(address) ? address.toLatin1() + "\r\n" : QByteArray();
    return PrivateFiles::writeFile(name, content, error);
}

} // namespace AddressFile
