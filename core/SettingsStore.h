#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The per-user key/value store of the program: texts addressed by a key whose letter case does
// not matter, all in group "Settings" of the INI file RizidirUduzidodirer.conf in the user's
// configuration folder (the format QSettings reads and writes).
//
// Every read sees the file as it is on disk: when its size, modification time or identity has
// changed since the last read or write, it is read again, so hand edits made while the program
// runs count at once. Every save rewrites the file by atomic replacement (a new file renamed over
// the old one, never written through a symbolic link), readable and writable by its owner only:
// it holds the dynamic-DNS password. The folders it creates are 0700.
//
// A file that cannot be used (not a regular file, not readable, not INI text, larger than
// MaxFileBytes) is reported, kept aside as "<name>.damaged" and replaced by a fresh, empty file:
// the defaults apply. A passing failure (out of file descriptors, an input/output error) keeps
// the values last read.
//
// For the user-interface thread only.
class SettingsStore final
{
public:
    static constexpr qint64 MaxFileBytes = qint64(1) << 20;

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
    // Every stored key, in its stored spelling.
    QStringList keys() const;
    // A number that changes whenever a value read from this store may have changed (a save, a
    // removal, the file read again): what is worked out from the settings can be kept until then.
    quint64 generation() const;
    // Creates or overwrites the value and writes the file (at the end of the outermost Batch
    // while one lives); a key that exists under another letter case keeps its stored spelling,
    // so one value remains.
    void SaveSetting(const QString &key, const QString &value);
    // Removes the key (in any letter case) and writes the file as SaveSetting does; a key that
    // is not there changes nothing.
    void removeSetting(const QString &key);
    // Writes saves that are still pending (in a Batch that lives, after a write that failed) now.
    void sync();

    // A key whose value lives outside the file (the desktop's keyring): from now on reads see the
    // value held here, and saves hand the new value to save and never reach the file.
    void keepOutsideFile(const QString &key, const QString &value, std::function<void(const QString &)> save);
    bool isKeptOutsideFile(const QString &key) const;

    // While one lives, saves are kept and written together when the outermost one ends: a window
    // that saves a hundred keys writes the file once.
    class Batch final
    {
    public:
        explicit Batch(SettingsStore &store);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        SettingsStore &m_store;
    };

    // While one lives, the file is looked at (and read again when it changed) once, at the first
    // read: the settings that one piece of work reads (a visit's switches and rules) are one
    // consistent set, and a burst of visits does not ask the file system a dozen times each.
    class ReadScope final
    {
    public:
        explicit ReadScope(SettingsStore &store);
        ~ReadScope();
        ReadScope(const ReadScope &) = delete;
        ReadScope &operator=(const ReadScope &) = delete;

    private:
        SettingsStore &m_store;
    };

    // The process-wide store of the running program (user-interface thread only). Tests may
    // point it at a file of their own.
    static SettingsStore &instance();
    static void setInstanceFile(const QString &fileName);

private:
    struct State;
    std::unique_ptr<State> d;
};
