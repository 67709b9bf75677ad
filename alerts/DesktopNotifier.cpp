#include "alerts/DesktopNotifier.h"

#include "core/LogSink.h"
#include "core/PlainText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>
#include <QVariantMap>

namespace {
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString WhoisAction = QStringLiteral("whois");
const QString OpenAction = QStringLiteral("open");

bool isWebPage(const QString &page)
{
    const QUrl url(page);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}
} // namespace

DesktopNotifier::DesktopNotifier(const Clock &clock, const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_bus(bus)
{
    m_bus.connect(
        Service, Path, Interface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
    // Whether the service reads markup in the body: visitors' texts are escaped only where it does.
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<QStringList> reply = *call;
        if (!reply.isError()) {
            m_markup = reply.value().contains(QStringLiteral("body-markup"));
            m_capabilitiesKnown = true;
        }
        call->deleteLater();
    });
}

QString DesktopNotifier::bodyText(const QString &text) const
{
    const QString plain = PlainText::sanitized(PlainText::cut(text, MaxTextLength));
    return m_markup ? plain.toHtmlEscaped() : plain;
}

void DesktopNotifier::notify(const QString &title, const QString &text, const QString &address, const QString &page)
{
    const qint64 now = m_clock.monotonicMs();
    // Within the display time the new visit takes the place of the one shown.
    const uint replaces = m_id != 0 && now - m_shownMs < DisplayMs ? m_id : 0;
    QStringList actions;
    if (!address.isEmpty())
        actions << WhoisAction << QStringLiteral("Whois");
    if (isWebPage(page))
        actions << OpenAction << QStringLiteral("Open page");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.sourceforge.vistelle.Vistelle"));
    hints.insert(QStringLiteral("category"), QStringLiteral("network"));

    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    call << QStringLiteral("Vistelle") << replaces << QStringLiteral("vistelle")
         << PlainText::sanitized(PlainText::cut(title, MaxTextLength)) << bodyText(text) << actions << hints
         << int(DisplayMs);
    m_shownMs = now;
    m_address = address;
    m_page = page;
    const quint64 sent = ++m_sent;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, sent](QDBusPendingCallWatcher *answer) {
        const QDBusPendingReply<uint> reply = *answer;
        answer->deleteLater();
        if (reply.isError()) {
            if (!m_unavailableNoted) {
                m_unavailableNoted = true;
                LogMsg(QStringLiteral("Desktop notifications are not available: ") + reply.error().message());
            }
            return;
        }
        if (sent == m_sent)
            m_id = reply.value();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    if (id == 0 || id != m_id)
        return;
    if (action == WhoisAction && !m_address.isEmpty())
        emit whoisRequested(m_address);
    else if (action == OpenAction && isWebPage(m_page))
        emit openPageRequested(m_page);
}

void DesktopNotifier::onClosed(uint id, uint reason)
{
    Q_UNUSED(reason);
    if (id != 0 && id == m_id)
        m_id = 0;
}
