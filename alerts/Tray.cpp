#include "alerts/Tray.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>

Tray::Tray(const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, &Tray::handleActivation);
}

Tray::~Tray() = default;

void Tray::setTrayImage(const QIcon &icon)
{
    m_image = icon;
}

void Tray::setTrayImage(const QPixmap &picture)
{
    setTrayImage(picture.toImage());
}

void Tray::setTrayImage(const QImage &picture)
{
    m_image = iconFromPicture(picture);
}

void Tray::setTrayToolTip(const QString &text)
{
    m_toolTip = text;
}

void Tray::setEventMode(int mode)
{
    m_eventMode = std::clamp(mode, 0, 1);
}

void Tray::Show(bool UpDateData)
{
    if (UpDateData) {
        m_icon->setIcon(m_image);
        QString tip = tipText(m_toolTip);
        if (!m_stateLine.isEmpty())
            tip += u'\n' + m_stateLine;
        // The tray shows a tip that looks like markup as rich text; keep it literal.
        if (Qt::mightBeRichText(tip))
            tip = QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() + QStringLiteral("</p>");
        m_icon->setToolTip(tip);
        if (!m_visible) {
            m_icon->show();
            nameIconWindow();
        }
        m_visible = true;
    } else if (m_visible) {
        m_icon->hide();
        m_visible = false;
    }
}

void Tray::setStateLine(const QString &text)
{
    m_stateLine = text.left(StateLineLength);
}

void Tray::nameIconWindow()
{
    // On an X11 tray the icon is a window of its own, which would otherwise take the lower-case
    // application name; panels and screen readers list it by that name.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() == u"QSystemTrayIconSys" && window->windowTitle().isEmpty())
            window->setWindowTitle(QStringLiteral("Vistelle"));
    }
}

QString Tray::tipText(const QString &toolTip)
{
    if (toolTip.isEmpty())
        return {};
    const QString padded = u' ' + toolTip + u' ';
    return padded.left(TipLength);
}

QIcon Tray::iconFromPicture(const QImage &picture)
{
    if (picture.isNull())
        return {};
    QImage canvas(IconSize, IconSize, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    const QImage scaled = picture.scaled(IconSize, IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    {
        QPainter painter(&canvas);
        painter.drawImage((IconSize - scaled.width()) / 2, (IconSize - scaled.height()) / 2, scaled);
    }
    return QIcon(QPixmap::fromImage(canvas));
}

void Tray::readProperties(const QVariantMap &bag)
{
    setTrayImage(bag.value(QStringLiteral("TrayImage")).value<QIcon>());
    setTrayToolTip(bag.value(QStringLiteral("TrayToolTip"), QStringLiteral(" Tray Icon ")).toString());
    setEventMode(bag.value(QStringLiteral("EventMode"), 0).toInt());
}

QVariantMap Tray::writeProperties() const
{
    QVariantMap bag;
    bag.insert(QStringLiteral("TrayImage"), QVariant::fromValue(m_image));
    bag.insert(QStringLiteral("TrayToolTip"), m_toolTip);
    bag.insert(QStringLiteral("EventMode"), m_eventMode);
    return bag;
}

void Tray::handleActivation(QSystemTrayIcon::ActivationReason reason)
{
    // The host's handler may show a window and so let further presses arrive: it runs once.
    if (m_inHandler || (m_busyUntil >= 0 && m_clock.monotonicMs() < m_busyUntil))
        return;
    int button = 0;
    switch (reason) {
    case QSystemTrayIcon::Trigger: // the left button went down
        button = 1;
        break;
    case QSystemTrayIcon::Context: // the right button went down
        button = 2;
        break;
    default: // double clicks, the middle button: nothing
        return;
    }
    m_inHandler = true;
    if (m_eventMode == 0) {
        if (button == 1)
            emit LeftClick();
        else
            emit RightClick();
    } else {
        emit MouseClick(button);
    }
    m_inHandler = false;
    m_busyUntil = m_clock.monotonicMs() + BusyMs;
}
