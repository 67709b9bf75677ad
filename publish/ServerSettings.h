#pragma once

#include <QString>

#include <optional>

class SettingsStore;

// The values behind the server settings window (frmSettings): the listening port, the
// dynamic-DNS account and host name, and the owner's address script, as the window shows them on
// opening and as its OK stores them.
struct ServerSettings
{
    QString port; // ListenPort; an empty or missing text shows "80"
    QString user; // dyuser (empty when missing), stored trimmed
    QString password; // dypass (empty when missing), kept as typed
    QString hostName; // dyname (empty when missing), stored trimmed
    QString remoteHost; // RemoteHost ("localhost")
    QString remotePath; // RemotePath ("/sendip.asp")
    // The check boxes, as the program acts on the stored texts; nullopt leaves the box as designed
    // (unchecked, no click effect).
    std::optional<bool> useAsp; // useasp: any leading number but 0 (missing: off)
    std::optional<bool> useDynDns; // usedyndns: anything but "0" (missing: on)
    // The relay this desktop receives visits from: RelaySubscribeURL without its user, the user,
    // and RelayPassword.
    QString relayUrl;
    QString relayUser;
    QString relayPassword;

    // What the window shows on opening.
    static ServerSettings load(const SettingsStore &store);
    // Stores everything in the order of the window's OK, with MainSettings "OK"; the check boxes
    // as "0"/"1" (a box left as designed is unchecked).
    void store(SettingsStore &store) const;

    // The relay address as stored: the user put into the address (empty address: none).
    QString relayAddress() const;

    // The port of a port text: a whole number from 1 to 32767 (blanks around it allowed).
    static std::optional<qint16> portNumber(const QString &text);
};
