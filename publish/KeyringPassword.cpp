#include "publish/KeyringPassword.h"

#include "core/LogSink.h"
#include "core/SettingsStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <qt6keychain/keychain.h>

KeyringPassword::KeyringPassword(SettingsStore &settings, const QString &key, const QString &what, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_key(key)
    , m_what(what)
{ }

void KeyringPassword::start()
{
    // Only a secret service that already runs: one started on demand would ask a desktop without
    // a keyring to create one, in a dialog that takes the screen (or nowhere, on a server).
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const bool running = bus.isConnected() && bus.interface()
        && (bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value()
            || bus.interface()->isServiceRegistered(QStringLiteral("org.kde.kwalletd6")).value()
            || bus.interface()->isServiceRegistered(QStringLiteral("org.kde.kwalletd5")).value());
    if (!running) {
        useFile(QStringLiteral("none runs on the session bus"));
        return;
    }
    auto *job = new QKeychain::ReadPasswordJob(Service, this);
    job->setKey(m_key);
    job->setInsecureFallback(false);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        const QKeychain::Error error = job->error();
        if (error != QKeychain::NoError && error != QKeychain::EntryNotFound) {
            useFile(job->errorString());
            return;
        }
        const bool inFile = m_settings.contains(m_key);
        if (!inFile) {
            useKeyring(error == QKeychain::NoError ? job->textData() : QString());
            return;
        }
        // A password from the settings file (an earlier version, a hand edit): into the keyring,
        // and out of the file once the keyring has it.
        const QString fromFile = m_settings.GetSetting(m_key);
        write(fromFile, [this, fromFile](bool ok, const QString &why) {
            if (!ok) {
                useFile(why);
                return;
            }
            m_settings.removeSetting(m_key);
            LogMsg(QStringLiteral("The %1 was moved from the settings file to the desktop's keyring").arg(m_what));
            useKeyring(fromFile);
        });
    });
    job->start();
}

void KeyringPassword::write(const QString &password, std::function<void(bool ok, const QString &error)> done)
{
    auto *job = new QKeychain::WritePasswordJob(Service, this);
    job->setKey(m_key);
    job->setInsecureFallback(false);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [job, done = std::move(done)] {
        if (done)
            done(job->error() == QKeychain::NoError, job->errorString());
    });
    job->start();
}

void KeyringPassword::useKeyring(const QString &password)
{
    m_inKeyring = true;
    m_settings.keepOutsideFile(m_key, password, [this](const QString &value) {
        write(value, [this](bool ok, const QString &why) {
            if (!ok)
                LogMsg(QStringLiteral("The %1 could not be stored in the keyring: ").arg(m_what) + why);
        });
    });
    m_ready = true;
    emit ready();
}

void KeyringPassword::useFile(const QString &why)
{
    // Said of the dynamic-DNS password always (as before); of another only when there is one.
    if (m_key == Key || m_settings.contains(m_key))
        LogMsg(QStringLiteral("No secret service (%1): the %2 stays in the settings file").arg(why, m_what));
    m_ready = true;
    emit ready();
}
