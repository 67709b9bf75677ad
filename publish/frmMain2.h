#pragma once

#include "publish/OrderedDictionary.h"

#include <QWidget>

#include <functional>
#include <memory>

class ConnectionState;
class IHostManagerHost;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;
class VeilixButton;
class VeilixDragBar;
class clsDyndns;
class frmMsgBox;

struct frmMain2Services
{
    SettingsStore *settings = nullptr; // null: the program's store
    std::shared_ptr<const ConnectionState> connection; // null: the Linux route query
    frmMsgBox *msgBox = nullptr; // null: the program's message box
};

// The host manager: logs into the dynamic-DNS account with the window's own client (myDNS), lists
// every host name with the address the provider holds (myHostList) and points one at an address
// by hand. A borderless modal window with the skinned title bar tdTitleBar and the skinned
// cmdMinimize and cmdExit. Its web exchanges run on the thread pool; meanwhile the pointer is
// busy and the window takes no second press. Every message goes through the skinned message box.
class frmMain2 final : public QWidget
{
    Q_OBJECT
public:
    using Services = frmMain2Services;

    // The window's width, and its height once the update frame shows (3,200 twips).
    static constexpr int WindowWidth = 400;
    static constexpr int UpdateHeight = 213;

    explicit frmMain2(IHostManagerHost &host, Services services = {}, QWidget *parent = nullptr);
    ~frmMain2() override;

    // Form_Load: the caption, the stored account, the message box loaded in advance.
    void load();

    // lblCurrentIP for the text of the host list.
    void DisplayCurrentIP();
    // The busy pointer.
    void DisplayWorking();

    // The window's own client, created on first use.
    clsDyndns &myDNS();
    const OrderedDictionary &myHostList() const { return m_hostList; }
    // A login or an update is under way.
    bool isBusy() const { return m_busy; }

    // Controls, named as the tests know them.
    VeilixDragBar *tdTitleBar = nullptr;
    VeilixButton *cmdMinimize = nullptr;
    VeilixButton *cmdExit = nullptr;
    QGroupBox *fraLogin = nullptr;
    QLabel *lblLoginPrompt = nullptr;
    QLineEdit *txtUsername = nullptr;
    QLineEdit *txtPassword = nullptr;
    QPushButton *cmdLogin = nullptr;
    QGroupBox *fraUpdate = nullptr;
    QComboBox *lstHostNames = nullptr;
    QLabel *lblCurrentIP = nullptr;
    QLineEdit *txtIP = nullptr;
    QPushButton *cmdUpdate = nullptr;

signals:
    // A login or an update has ended and its message (if any) has been answered.
    void exchangeFinished();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildWindow();
    void cmdLogin_Click();
    void sendUpdate(const QString &hostName);
    void cmdUpdate_Click();
    void ShowUpdatePanel(const QString &publicAddress);
    void FillHostList(const OrderedDictionary &hosts);
    void DisplayReady();
    void ShowMessage(const QString &text, bool beep, std::function<void()> then = {});
    void setBusy(bool busy);
    frmMsgBox &msgBox();

    IHostManagerHost &m_host;
    SettingsStore *m_settings;
    std::shared_ptr<const ConnectionState> m_connection;
    frmMsgBox *m_msgBox;
    std::shared_ptr<clsDyndns> m_dns; // shared with the worker of an exchange under way
    OrderedDictionary m_hostList;
    QPushButton *m_defaultButton = nullptr;
    bool m_busy = false;
};
