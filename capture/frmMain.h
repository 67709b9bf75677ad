#pragma once

#include <QWidget>

class EventLog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QToolButton;
class VisitMonitor;
class VisitorList;

// The main visitor-monitor window: a view of the engine (VisitMonitor). It shows the event log,
// the visitor list with its counters, the address label, the connection and update panels, and
// offers the public methods other windows call, forwarding them to the engine.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    explicit frmMain(VisitMonitor &engine, QWidget *parent = nullptr);
    ~frmMain() override;

    // The engine's load sequence; the window then sits at the screen's top left.
    void load();
    bool isLoaded() const;

    void PutLog(const QString &eventtxt);
    // Logs the listening line, then listens on PortNum; logs "Bind error: " on failure.
    void ListenOnPort(qint16 PortNum);
    // ListenOnPort with the configured port (setting ListenPort, default "80").
    void listenOnConfiguredPort();
    // Writes the address shown in Label8 to the address file.
    void WRITEIP();
    QString getcountry(const QString &ip);
    void refreshcounters(const QString &VisitorIP, const QString &Page);
    static QString GetHeaderFromRequest(const QString &Request, const QString &Header);
    static void sepurl(QString &PageUrl);

    // Enables the remote-script publisher (tmrUpdateIP).
    void enablePublisher();
    // Label8, the address label (the host manager sets it after a manual update).
    void setAddressCaption(const QString &text);

    // The address file: iptxt.txt in the user's data folder.
    static QString addressFileName();

    VisitMonitor &engine() { return m_engine; }
    EventLog &eventLog() { return *m_log; }
    VisitorList &visitorList() { return *m_visitors; }

signals:
    // The "Exit" button: the container closes, which shuts the program down.
    void exitRequested();
    // The "History" button: the shell opens the history window.
    void historyRequested();
    // The "Whois" button, with the host name of the selected visitor (Label6's caption).
    void whoisRequested(const QString &hostName);
    // "Server Notification Options...": the notification settings window should open.
    void notificationOptionsRequested();
    // "Settings...": the shell hides the main window and opens the server settings window.
    void serverSettingsRequested();
    // The provider's "Update" icon while online: the shell opens the host manager window.
    void hostManagerRequested();
    // "Help": the help page should open with the desktop's handler.
    void documentRequested(const QString &pathOrUrl);

protected:
    void changeEvent(QEvent *event) override;

private:
    void buildWindow();
    void fitToContents();
    void connectEngine();
    void Label10_Click();
    void Image4_Click();
    void setStopRepeat(bool visible, const QString &toolTip);
    void setBusyCursor(bool busy);

    VisitMonitor &m_engine;

    // Controls, named as the other windows and the tests know them.
    QLabel *Label8 = nullptr; // " Current IP:" and the address
    QLabel *Connectionon = nullptr; // shown while online
    QLabel *Connectionoff = nullptr; // shown while offline
    QLabel *StopRepeat = nullptr; // "Stopped Repeat Request"
    QLabel *lblEvents = nullptr; // "Latest Events"
    QToolButton *Image2 = nullptr; // "Clear Event Log"
    QToolButton *Image5 = nullptr; // "Listen on port"
    QToolButton *cmdHistory = nullptr; // "History"
    QToolButton *Image1 = nullptr; // "Whois"
    QPlainTextEdit *txtLog = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QToolButton *panel5 = nullptr; // the update panel (key "download")
    QLabel *lblRelay = nullptr; // the relay's state; hidden while the relay is off
    QLabel *Label10 = nullptr; // "Help"
    QPushButton *Send_Query_Button1 = nullptr; // "Exit"
    QPushButton *Command1 = nullptr; // "Server Notification Options..."
    QPushButton *cmdServerSettings = nullptr; // "Settings..."
    QToolButton *Image4 = nullptr; // the provider's "Update": the host manager

    EventLog *m_log = nullptr;
    VisitorList *m_visitors = nullptr;
};
