#pragma once

#include "core/Clock.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

// Visits shown through the desktop's notification service (org.freedesktop.Notifications):
// the popup's title and text, the program's icon, and the actions "Whois" and "Open page". A
// visit within DisplayMs of the previous one replaces its notification (replaces_id), so a burst
// leaves one notification, not a pile. Every call is asynchronous; a desktop without the service
// gets nothing, and the log says so once.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DisplayMs = 5000;
    static constexpr qsizetype MaxTextLength = 1000;
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");

    explicit DesktopNotifier(const Clock &clock = Clock::system(),
        const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Shows a visit: title and text as the popup has them, and the visitor's address and page for
    // the actions (either empty: that action is not offered).
    void notify(const QString &title, const QString &text, const QString &address = {}, const QString &page = {});

    // Whether the service has told its capabilities (until then, texts are escaped as for markup).
    bool capabilitiesKnown() const { return m_capabilitiesKnown; }
    // The id the service gave the visible notification (0: none).
    uint currentId() const { return m_id; }

signals:
    // The user chose "Whois" (the visitor's address) or "Open page" (an http or https page).
    void whoisRequested(const QString &address);
    void openPageRequested(const QString &page);

private slots:
    // The service's signals (of every program's notifications: only ours count).
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    // Text for the body: plain, bounded, and escaped where the service reads markup.
    QString bodyText(const QString &text) const;

    const Clock &m_clock;
    QDBusConnection m_bus;
    bool m_markup = true; // until the service says otherwise, escape as for markup
    bool m_capabilitiesKnown = false;
    bool m_unavailableNoted = false;
    uint m_id = 0;
    qint64 m_shownMs = 0;
    quint64 m_sent = 0; // notifications sent; an answer for an older one does not set m_id
    QString m_address; // of the visible notification
    QString m_page;
};
