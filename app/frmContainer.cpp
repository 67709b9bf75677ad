#include "app/frmContainer.h"

#include "alerts/AlertIcons.h"
#include "alerts/Tray.h"
#include "core/Console.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

frmContainer::frmContainer(Tray *tray, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , picIcon(AlertIcons::normalTrayIcon())
    , picIconAlert(AlertIcons::alertTrayIcon())
    , Picture1(QIcon::fromTheme(QStringLiteral("view-refresh"), AlertIcons::alertTrayIcon()))
    , picIconWarning(QIcon::fromTheme(
          QStringLiteral("dialog-warning"), QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)))
    , m_tray(tray)
{
    setObjectName(QStringLiteral("frmContainer"));
    setWindowTitle(QStringLiteral("Vistelle"));
    setWindowIcon(picIcon);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize); // neither resized nor maximised

    m_tray->setTrayImage(picIcon);
    m_tray->setTrayToolTip(QStringLiteral("Vistelle"));
    m_tray->Show(true);
    connect(m_tray, &Tray::LeftClick, this, &frmContainer::restoreFromTray);
}

void frmContainer::host(QWidget *mainWindow)
{
    m_hosted = mainWindow;
    mainWindow->setParent(this);
    layout()->addWidget(mainWindow);
    mainWindow->move(0, 0);
}

void frmContainer::restoreFromTray()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool frmContainer::hidesWhenMinimized() const
{
    // Without a tray on the desktop the window stays an ordinary minimised window, or the user
    // could never bring it back; headless, there is nobody to bring it back and nothing to draw
    // it for.
    return (QSystemTrayIcon::isSystemTrayAvailable() && m_tray->IsVisible()) || Console::isHeadless();
}

void frmContainer::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Minimised, the window lives on as the tray icon only.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && hidesWhenMinimized())
        hide();
}

void frmContainer::closeEvent(QCloseEvent *event)
{
    // The shell decides; it closes the frame itself as the last step of the shut-down.
    event->ignore();
    emit closeRequested();
}
