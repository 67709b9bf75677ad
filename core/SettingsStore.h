#pragma once

#include <QHash>
#include <QString>

#include <memory>

class QSettings;

// The per-user key/value store of the program: texts addressed by a key whose letter case does
// not matter, all in group "Settings" of the INI file RizidirUduzidodirer.conf in the user's
// configuration folder. The file is readable and writable by its owner only: it holds the
// dynamic-DNS password.
//
// Nothing is cached beyond the underlying QSettings object: a value saved through one store is
// seen by the next read through any store of the same file in this process.
class SettingsStore final
{
public:
    // The user's store ($XDG_CONFIG_HOME/RizidirUduzidodirer.conf).
    SettingsStore();
    // A store in the given file (tests use throwaway files).
    explicit SettingsStore(const QString &fileName);
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString fileName() const;

    // The stored text when the key exists, else defaultValue.
    QString GetSetting(const QString &key, const QString &defaultValue = QString()) const;
    bool contains(const QString &key) const;
    // Creates or overwrites the value; a key that exists under another letter case keeps its
    // stored spelling, so one value remains.
    void SaveSetting(const QString &key, const QString &value);
    // Writes pending changes to disk.
    void sync();

    // The process-wide store of the running program (user-interface thread only). Tests may
    // point it at a file of their own.
    static SettingsStore &instance();
    static void setInstanceFile(const QString &fileName);

private:
    QString storedKey(const QString &key) const;
    void ensurePrivateFile() const;

    std::unique_ptr<QSettings> m_settings;
    mutable QHash<QString, QString> m_keyByLower; // lower-case key -> spelling in the file
    mutable bool m_keysLoaded = false;
};
