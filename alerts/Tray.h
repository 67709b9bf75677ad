#pragma once

#include "core/Clock.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QVariantMap>

class QImage;
class QPixmap;

// One icon in the desktop's notification area with a tip text, and the presses on it as events.
// The host sets TrayImage and TrayToolTip and applies them with Show(true); nothing reaches the
// tray before that. One press gives one event; presses while the host's handler runs, or within
// 15 ms after it returned, are dropped.
class Tray final : public QObject
{
    Q_OBJECT
public:
    static constexpr int IconSize = 32;
    static constexpr int TipLength = 64;
    static constexpr qint64 BusyMs = 15;

    explicit Tray(const Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~Tray() override;

    // The picture shown in the tray. An icon is taken as it is; any other picture is turned into
    // a 32 x 32 icon; a null picture clears it.
    QIcon TrayImage() const { return m_image; }
    void setTrayImage(const QIcon &icon);
    void setTrayImage(const QPixmap &picture);
    void setTrayImage(const QImage &picture);

    // Default " Tray Icon ". Shown with a blank on either side, cut at 64 characters.
    QString TrayToolTip() const { return m_toolTip; }
    void setTrayToolTip(const QString &text);

    // A second line under the tip: the program's state ("Listening on port 8080 · 12 visits
    // today", or what is wrong), at most StateLineLength characters; empty: none.
    QString stateLine() const { return m_stateLine; }
    void setStateLine(const QString &text);
    static constexpr int StateLineLength = 200;

    // 0: LeftClick / RightClick; 1: MouseClick(button). Other values are clamped to 0 or 1.
    int EventMode() const { return m_eventMode; }
    void setEventMode(int mode);

    // True while the icon is in the tray (after Show(true), until Show(false)).
    bool IsVisible() const { return m_visible; }

    // true: puts the icon with the current picture and tip into the tray, or updates it there;
    // false: takes it out (nothing when it is not there).
    void Show(bool UpDateData);

    // The tip as the tray shows it.
    static QString tipText(const QString &toolTip);
    // A picture turned into a 32 x 32 icon (scaled to fit, centred, aspect kept).
    static QIcon iconFromPicture(const QImage &picture);

    // The persisted properties: keys "TrayImage" (QIcon), "TrayToolTip", "EventMode".
    void readProperties(const QVariantMap &bag);
    QVariantMap writeProperties() const;

    // For a host that wants the icon's place on the screen or a context menu.
    QSystemTrayIcon *trayIcon() const { return m_icon; }

    // A notification from the tray; the tray icon's activations arrive here.
    void handleActivation(QSystemTrayIcon::ActivationReason reason);

signals:
    void LeftClick();
    void RightClick();
    // Button 1 for the left, 2 for the right button.
    void MouseClick(int Button);

private:
    void nameIconWindow();
    const Clock &m_clock;
    QString m_stateLine;
    QSystemTrayIcon *m_icon;
    QIcon m_image;
    QString m_toolTip = QStringLiteral(" Tray Icon ");
    int m_eventMode = 0;
    bool m_visible = false;
    bool m_inHandler = false;
    qint64 m_busyUntil = -1;
};
