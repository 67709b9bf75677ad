#include "core/SettingsStore.h"

#include "core/IniText.h"
#include "core/LogSink.h"
#include "core/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <utility>

namespace {
std::unique_ptr<SettingsStore> &globalStore()
{
    static std::unique_ptr<SettingsStore> store;
    return store;
}

// What identifies one version of the file: a rewrite by rename gives a new inode, a hand edit in
// place a new size or modification time.
struct Stamp
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedSec = 0;
    qint64 modifiedNsec = 0;

    static Stamp of(const struct stat &st)
    {
        return { true, st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec) };
    }
    bool operator==(const Stamp &) const = default;
};

// An error of open() or read() that says nothing about the file itself: the values last read
// stay in force and the file is read again at the next use.
bool isPassingError(int code)
{
    return code == EMFILE || code == ENFILE || code == ENOMEM || code == EINTR || code == EAGAIN || code == EIO
        || code == ENOBUFS;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
} // namespace

struct SettingsStore::State
{
    QString path;
    IniText::Document document;
    QHash<QString, qsizetype> indexByLowerKey; // lower-case key -> position in document.settings
    QHash<QString, QString> lowerKeys; // key as asked -> its lower-case form
    // Saves not yet on disk (a Batch lives, or the write failed): lower-case key -> entry (no
    // value: the key is removed). They win over what a re-read finds.
    struct Change
    {
        QString key;
        std::optional<QString> value;
    };
    QHash<QString, Change> pending;
    QList<QString> pendingOrder;
    // Keys kept outside the file: lower-case key -> value and where saves go.
    struct Outside
    {
        IniText::Entry entry;
        std::function<void(const QString &)> save;
    };
    QHash<QString, Outside> outside;
    int batchDepth = 0;
    int readScopeDepth = 0;
    quint64 generation = 0;
    bool refreshedInScope = false;

    bool loaded = false;
    Stamp stamp; // of the content held
    // The file could be neither read nor set aside: nothing is written over it.
    bool keepOffFile = false;

    QString lastWriteError;

    void notice(const QString &text);
    void refresh();
    void load();
    void setAside(const QString &reason);
    void replaceDocument(IniText::Document newDocument);
    void applyPending();
    void set(const QString &key, const QString &value);
    void remove(const QString &lower);
    const IniText::Entry *find(const QString &key);
    bool write();
};

void SettingsStore::State::notice(const QString &text)
{
    const QByteArray line = QByteArrayLiteral("vistelle: ") + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    LogMsg(text);
}

void SettingsStore::State::refresh()
{
    if (readScopeDepth > 0) {
        if (refreshedInScope && loaded)
            return;
        refreshedInScope = true;
    }
    if (loaded) {
        struct stat st = {};
        const QByteArray native = QFile::encodeName(path);
        Stamp now;
        if (::stat(native.constData(), &st) == 0)
            now = Stamp::of(st);
        else if (errno != ENOENT)
            return; // cannot tell: keep what was read
        if (now == stamp)
            return;
    }
    load();
}

void SettingsStore::State::replaceDocument(IniText::Document newDocument)
{
    document = std::move(newDocument);
    ++generation;
    indexByLowerKey.clear();
    for (qsizetype i = 0; i < document.settings.size(); ++i)
        indexByLowerKey.insert(document.settings[i].key.toLower(), i);
    applyPending();
}

void SettingsStore::State::applyPending()
{
    for (const QString &lower : std::as_const(pendingOrder)) {
        const Change &change = pending[lower];
        if (change.value)
            set(change.key, *change.value);
        else
            remove(lower);
    }
}

void SettingsStore::State::set(const QString &key, const QString &value)
{
    ++generation;
    const QString lower = key.toLower();
    const auto found = indexByLowerKey.constFind(lower);
    if (found != indexByLowerKey.cend()) {
        document.settings[*found].value = value;
        return;
    }
    indexByLowerKey.insert(lower, document.settings.size());
    document.settings.append({ key, value });
}

void SettingsStore::State::remove(const QString &lower)
{
    const auto found = indexByLowerKey.constFind(lower);
    if (found == indexByLowerKey.cend())
        return;
    ++generation;
    const qsizetype at = *found;
    document.settings.removeAt(at);
    indexByLowerKey.erase(found);
    for (auto it = indexByLowerKey.begin(); it != indexByLowerKey.end(); ++it) {
        if (*it > at)
            --*it;
    }
}

const IniText::Entry *SettingsStore::State::find(const QString &key)
{
    refresh();
    // The program asks for the same few keys over and over: their lower-case forms are kept.
    auto lower = lowerKeys.constFind(key);
    if (lower == lowerKeys.cend()) {
        if (lowerKeys.size() >= 4096)
            lowerKeys.clear();
        lower = lowerKeys.insert(key, key.toLower());
    }
    if (!outside.isEmpty()) {
        if (const auto kept = outside.constFind(*lower); kept != outside.cend())
            return &kept->entry;
    }
    const auto found = indexByLowerKey.constFind(*lower);
    return found == indexByLowerKey.cend() ? nullptr : &document.settings[*found];
}

void SettingsStore::State::load()
{
    const QByteArray native = QFile::encodeName(path);
    struct stat link = {};
    if (::lstat(native.constData(), &link) != 0) {
        if (errno == ENOENT) {
            loaded = true;
            stamp = Stamp();
            replaceDocument({});
        }
        return;
    }
    // A link is followed for reading (it may point into the user's own dotfiles); only a file
    // that is itself regular gets its permissions narrowed.
    const bool isLink = S_ISLNK(link.st_mode);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (isLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT) { // a link to nothing: no settings yet
            loaded = true;
            stamp = Stamp();
            replaceDocument({});
        } else if (!isPassingError(code)) {
            setAside(QStringLiteral("it cannot be opened: ") + systemError(code));
        }
        return;
    }
    struct stat st = {};
    QString problem;
    QByteArray bytes;
    int readError = 0;
    if (::fstat(fd, &st) != 0) {
        readError = errno;
    } else if (!S_ISREG(st.st_mode)) {
        problem = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("it is not a regular file");
    } else if (st.st_size > MaxFileBytes) {
        problem = QStringLiteral("it is larger than %1 KiB").arg(MaxFileBytes / 1024);
    } else {
        if (!isLink && (st.st_mode & (S_IRWXG | S_IRWXO)))
            ::fchmod(fd, S_IRUSR | S_IWUSR);
        bytes.resize(qsizetype(st.st_size) + 1);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                readError = errno;
                break;
            }
            if (n == 0)
                break;
            got += n;
            if (got > MaxFileBytes) {
                problem = QStringLiteral("it is larger than %1 KiB").arg(MaxFileBytes / 1024);
                break;
            }
        }
        bytes.truncate(got);
    }
    ::close(fd);
    if (readError != 0) {
        if (!isPassingError(readError))
            setAside(QStringLiteral("it cannot be read: ") + systemError(readError));
        return;
    }
    if (problem.isEmpty()) {
        std::optional<IniText::Document> parsed = IniText::parse(bytes, &problem);
        if (parsed) {
            loaded = true;
            keepOffFile = false;
            stamp = Stamp::of(st);
            replaceDocument(std::move(*parsed));
            return;
        }
    }
    setAside(problem);
}

void SettingsStore::State::setAside(const QString &reason)
{
    loaded = true;
    replaceDocument({});
    const QByteArray native = QFile::encodeName(path);
    QString aside = path + QStringLiteral(".damaged");
    struct stat st = {};
    for (int n = 2; ::lstat(QFile::encodeName(aside).constData(), &st) == 0 && n < 1000; ++n)
        aside = path + QStringLiteral(".damaged.") + QString::number(n);
    if (::rename(native.constData(), QFile::encodeName(aside).constData()) != 0) {
        const int code = errno;
        keepOffFile = true;
        // Seen as it is now, so the notice is not repeated at every read.
        stamp = ::stat(native.constData(), &st) == 0 ? Stamp::of(st) : Stamp();
        notice(QStringLiteral("Settings error: the file ") + path + QStringLiteral(" cannot be used (") + reason
            + QStringLiteral(") nor set aside (") + systemError(code)
            + QStringLiteral("); the default settings are used and changes are not saved"));
        return;
    }
    keepOffFile = false;
    notice(QStringLiteral("Settings error: the file ") + path + QStringLiteral(" cannot be used (") + reason
        + QStringLiteral("); it was kept as ") + aside + QStringLiteral(" and the default settings are used"));
    // A fresh file in its place.
    write();
}

bool SettingsStore::State::write()
{
    if (keepOffFile)
        return false;
    QString error;
    if (!PrivateFiles::writeFile(path, IniText::serialize(document), &error)) {
        if (error != lastWriteError)
            notice(QStringLiteral("Settings error: the settings could not be saved: ") + error);
        lastWriteError = error;
        return false;
    }
    lastWriteError.clear();
    pending.clear();
    pendingOrder.clear();
    struct stat st = {};
    stamp = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? Stamp::of(st) : Stamp();
    return true;
}

SettingsStore::SettingsStore()
    : SettingsStore(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/RizidirUduzidodirer.conf"))
{ }

SettingsStore::SettingsStore(const QString &fileName)
    : d(std::make_unique<State>())
{
    d->path = QFileInfo(fileName).absoluteFilePath();
    d->load();
    // The file exists from the start, private to its owner.
    if (d->loaded && !d->stamp.exists)
        d->write();
}

SettingsStore::~SettingsStore()
{
    sync();
}

QString SettingsStore::fileName() const
{
    return d->path;
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    const IniText::Entry *entry = d->find(key);
    return entry ? entry->value : defaultValue;
}

bool SettingsStore::contains(const QString &key) const
{
    return d->find(key) != nullptr;
}

QStringList SettingsStore::keys() const
{
    d->refresh();
    QStringList keys;
    keys.reserve(d->document.settings.size());
    for (const IniText::Entry &entry : std::as_const(d->document.settings))
        keys << entry.key;
    return keys;
}

quint64 SettingsStore::generation() const
{
    d->refresh();
    return d->generation;
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    d->refresh();
    const QString lower = key.toLower();
    if (const auto kept = d->outside.find(lower); kept != d->outside.end()) {
        kept->entry.value = value;
        if (kept->save)
            kept->save(value);
        return;
    }
    const auto found = d->indexByLowerKey.constFind(lower);
    const QString spelling = found != d->indexByLowerKey.cend() ? d->document.settings[*found].key : key;
    if (!d->pending.contains(lower))
        d->pendingOrder << lower;
    d->pending.insert(lower, { spelling, value });
    d->set(spelling, value);
    if (d->batchDepth == 0)
        d->write();
}

void SettingsStore::removeSetting(const QString &key)
{
    d->refresh();
    const QString lower = key.toLower();
    if (!d->indexByLowerKey.contains(lower) && !d->pending.contains(lower))
        return;
    if (!d->pending.contains(lower))
        d->pendingOrder << lower;
    d->pending.insert(lower, { key, std::nullopt });
    d->remove(lower);
    if (d->batchDepth == 0)
        d->write();
}

void SettingsStore::keepOutsideFile(const QString &key, const QString &value, std::function<void(const QString &)> save)
{
    d->outside.insert(key.toLower(), { { key, value }, std::move(save) });
}

bool SettingsStore::isKeptOutsideFile(const QString &key) const
{
    return d->outside.contains(key.toLower());
}

void SettingsStore::sync()
{
    if (d->pending.isEmpty())
        return;
    // Saves win over what another writer put in the file meanwhile.
    d->refresh();
    d->write();
}

SettingsStore::Batch::Batch(SettingsStore &store)
    : m_store(store)
{
    ++m_store.d->batchDepth;
}

SettingsStore::Batch::~Batch()
{
    if (--m_store.d->batchDepth == 0)
        m_store.sync();
}

SettingsStore::ReadScope::ReadScope(SettingsStore &store)
    : m_store(store)
{
    ++m_store.d->readScopeDepth;
}

SettingsStore::ReadScope::~ReadScope()
{
    if (--m_store.d->readScopeDepth == 0)
        m_store.d->refreshedInScope = false;
}

SettingsStore &SettingsStore::instance()
{
    auto &store = globalStore();
    if (!store)
        store = std::make_unique<SettingsStore>();
    return *store;
}

void SettingsStore::setInstanceFile(const QString &fileName)
{
    globalStore() = std::make_unique<SettingsStore>(fileName);
}
