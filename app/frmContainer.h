#pragma once

#include <QIcon>
#include <QWidget>

class Tray;

// The container window: the frame that hosts the main window at its top-left corner and owns the
// tray icon. It can be neither resized nor maximised; minimising hides it into the tray (when the
// desktop has a tray), a left click on the tray icon brings it back in front, and closing it by
// any means ends the program.
class frmContainer final : public QWidget
{
    Q_OBJECT
public:
    explicit frmContainer(Tray *tray, QWidget *parent = nullptr);

    // Places the main window inside, at the top-left corner, and fits the frame to it.
    void host(QWidget *mainWindow);

    Tray &tray() { return *m_tray; }

    // The tray pictures: normal, shown during a visit, and busy during an address update.
    QIcon picIcon;
    QIcon picIconAlert;
    QIcon Picture1;
    QIcon picIconWarning; // visits cannot arrive (the port cannot be used)

    // Tray left click: normal size, shown, in front.
    void restoreFromTray();
    // Minimising hides the window: a tray holds its icon (or the program runs headless).
    bool hidesWhenMinimized() const;

signals:
    // Any close request of the frame: the shell shuts the program down.
    void closeRequested();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Tray *m_tray;
    QWidget *m_hosted = nullptr;
};
