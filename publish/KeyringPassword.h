#pragma once

#include <QObject>
#include <QString>

#include <functional>

class SettingsStore;

// A password in the desktop's keyring (the Secret Service: GNOME Keyring, KWallet), through
// QtKeychain: the dynamic-DNS password (dypass) and the relay's (RelayPassword). start() reads it; a password still in
// the settings file is moved into the keyring and removed from the file. From then on the settings store holds it in
// memory only (SettingsStore::keepOutsideFile): every window and the updater read and save it as before, and saves go
// to the keyring. Where no secret service answers, the settings file keeps it as it always did, and the log says so
// once.
class KeyringPassword final : public QObject
{
    Q_OBJECT
public:
    static inline const QString Service = QStringLiteral("vistelle");
    static inline const QString Key = QStringLiteral("dypass");
    static inline const QString RelayKey = QStringLiteral("RelayPassword");

    // key: the setting; what: the password as the log names it.
    explicit KeyringPassword(SettingsStore &settings, const QString &key = Key,
        const QString &what = QStringLiteral("dynamic-DNS password"), QObject *parent = nullptr);

    // Reads the keyring (on QtKeychain's own terms: the call returns at once); ready() follows.
    void start();
    bool isReady() const { return m_ready; }
    // The password lives in the keyring (false: in the settings file).
    bool inKeyring() const { return m_inKeyring; }

signals:
    // The password is known, from the keyring or the file.
    void ready();

private:
    void useKeyring(const QString &password);
    void useFile(const QString &why);
    void write(const QString &password, std::function<void(bool ok, const QString &error)> done);

    SettingsStore &m_settings;
    QString m_key;
    QString m_what;
    bool m_ready = false;
    bool m_inKeyring = false;
};
