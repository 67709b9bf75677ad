#pragma once

#include <QString>
#include <QStringList>

// Host-name and address resolution through the system resolver (getaddrinfo / getnameinfo).
// Both lookups block until the resolver answers: call them off the user-interface thread when
// the answer may take seconds. Every failure gives the empty text.
class Class1 final
{
public:
    // resolverReady false stands for a resolver that could not be started: every lookup then
    // answers with the empty text.
    explicit Class1(bool resolverReady = true);

    bool WinsockReady() const { return m_ready; }

    // The first IPv4 address of the name as dotted text. The empty name stands for this machine:
    // the address of the interface that carries the default route (a loopback address only when
    // the machine has no other).
    QString NameToAddress(const QString &strName) const;
    // The name the resolver gives for a dotted IPv4 address.
    QString AddressToName(const QString &strIP) const;

    // Four or more dot-separated parts, the first four each a whole number 0 to 255.
    static bool IsDottedAddress(const QString &text);
    // p1 + p2*256 + p3*65536 + p4*16777216 as a signed 32-bit value: its bytes in memory are
    // p1, p2, p3, p4 (network byte order).
    static qint32 DottedToLong(const QString &text);
    // The text up to its first NUL character.
    static QString StripAtNul(const QString &text);

    // This machine's primary non-loopback IPv4 address (see NameToAddress).
    static QString localAddress();

private:
    QString ResolveName(const QString &name) const;
    QString ResolveAddress(const QString &address) const;

    bool m_ready;
};
