#include "core/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::unique_ptr<SettingsStore> &globalStore()
{
    static std::unique_ptr<SettingsStore> store;
    return store;
}
} // namespace

SettingsStore::SettingsStore()
    : SettingsStore(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/RizidirUduzidodirer.conf"))
{
    ensurePrivateFile();
}

SettingsStore::SettingsStore(const QString &fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
    ensurePrivateFile();
}

SettingsStore::~SettingsStore()
{
    sync();
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

void SettingsStore::ensurePrivateFile() const
{
    // Create the file before QSettings writes it, so it never exists with wider permissions;
    // QSettings keeps the permissions of an existing file when it rewrites it.
    const QString path = m_settings->fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), S_IRUSR | S_IWUSR);
}

QString SettingsStore::storedKey(const QString &key) const
{
    if (!m_keysLoaded) {
        m_keyByLower.clear();
        m_settings->beginGroup(QStringLiteral("Settings"));
        const QStringList keys = m_settings->childKeys();
        m_settings->endGroup();
        for (const QString &k : keys)
            m_keyByLower.insert(k.toLower(), k);
        m_keysLoaded = true;
    }
    return m_keyByLower.value(key.toLower());
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    const QString stored = storedKey(key);
    if (stored.isEmpty())
        return defaultValue;
    const QVariant value = m_settings->value(QStringLiteral("Settings") + u'/' + stored);
    if (!value.isValid())
        return defaultValue;
    // A value such as "a,b" comes back from the INI reader as a list; it is one text here.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool SettingsStore::contains(const QString &key) const
{
    return !storedKey(key).isEmpty();
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    QString stored = storedKey(key);
    if (stored.isEmpty()) {
        stored = key;
        m_keyByLower.insert(key.toLower(), key);
    }
    m_settings->setValue(QStringLiteral("Settings") + u'/' + stored, value);
}

void SettingsStore::sync()
{
    m_settings->sync();
    ::chmod(QFile::encodeName(m_settings->fileName()).constData(), S_IRUSR | S_IWUSR);
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
