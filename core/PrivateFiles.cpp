#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFiles {

namespace {
QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}
} // namespace

bool makeDir(const QString &path, QString *error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // From the top down: every folder that is missing is created 0700.
    qsizetype from = 1;
    while (true) {
        const qsizetype slash = clean.indexOf(u'/', from);
        const QString part = slash < 0 ? clean : clean.left(slash);
        const QByteArray native = QFile::encodeName(part);
        if (::mkdir(native.constData(), S_IRWXU) != 0 && errno != EEXIST) {
            setError(error, part + QStringLiteral(": ") + systemError(errno));
            return false;
        }
        if (slash < 0)
            break;
        from = slash + 1;
    }
    struct stat st = {};
    if (::stat(QFile::encodeName(clean).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setError(error, clean + QStringLiteral(": not a folder"));
        return false;
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &content, QString *error)
{
    const QFileInfo info(path);
    if (!makeDir(info.absolutePath(), error))
        return false;
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());

    // A new file beside the target, created exclusively (never an existing file or a link).
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        setError(error, path + QStringLiteral(": ") + systemError(errno));
        return false;
    }

    const char *data = content.constData();
    qsizetype left = content.size();
    int failure = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failure = errno;
            break;
        }
        data += n;
        left -= n;
    }
    if (failure == 0 && ::fdatasync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    // rename() replaces whatever has the name, a symbolic link included, without following it.
    if (failure == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.constData());
        setError(error, path + QStringLiteral(": ") + systemError(failure));
        return false;
    }
    return true;
}

} // namespace PrivateFiles
