#pragma once

#include <QWidget>

#include <memory>

class ConnectionState;
class ISettingsWindowHost;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class RelayProbe;
struct ServerSettings;
class SettingsStore;

struct frmSettingsServices
{
    SettingsStore *settings = nullptr; // null: the program's store
    std::shared_ptr<const ConnectionState> connection; // null: the Linux route query
};

// The server settings window: the listening port, the dynamic-DNS account and host name, and the
// owner's address script. It is opened from the main window's "Settings..." (which hides the main
// window). OK stores everything, shows the main window again, listens on the new port and sends
// the address to the script once; closing it otherwise stores nothing and shows the main window.
class frmSettings final : public QWidget
{
    Q_OBJECT
public:
    using Services = frmSettingsServices;

    static const QString PortRefused; // "Please enter a port from 1 to 32767."

    explicit frmSettings(ISettingsWindowHost &host, Services services = {}, QWidget *parent = nullptr);
    ~frmSettings() override;

    // Form_Load: top-left corner, the controls filled from the store in the window's order;
    // a stored useasp of 1 shows the ASP warning now, before the window is shown.
    void load();

    // The ASP warning of Check1_Click.
    static QString aspWarning(const QString &providerDomain);

    // Controls, named as the tests know them.
    QLineEdit *txtPort = nullptr;
    QCheckBox *Check2 = nullptr; // "Use " + provider
    QLineEdit *dyusername = nullptr;
    QLineEdit *dypassword = nullptr;
    QLineEdit *dyname = nullptr;
    QCheckBox *Check1 = nullptr; // "ASP sites with non-static IP's"
    QLineEdit *txtHostName = nullptr;
    QLineEdit *txtRemotePath = nullptr;
    QPushButton *Command1 = nullptr; // "Login"
    QPushButton *cmdNext = nullptr; // "OK"
    QLabel *Label13 = nullptr; // the provider's site
    QToolButton *Image6 = nullptr; // "Get More Sounds"
    QLineEdit *txtRelayUrl = nullptr; // "Broker address:"
    QLineEdit *txtRelayUser = nullptr;
    QLineEdit *txtRelayPassword = nullptr;
    QPushButton *cmdRelayTest = nullptr; // "Test"
    QLabel *lblRelayTest = nullptr; // the test's answer

protected:
    void closeEvent(QCloseEvent *event) override;
    // Esc closes the window as its close button does: nothing is stored.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void Check1_Click(bool checked);
    void Check2_Click(bool checked);
    void cmdNext_Click();
    void Command1_Click();
    void Image6_Click();
    void Label13_Click();
    void cmdRelayTest_Click();
    ServerSettings relayFields() const;

    ISettingsWindowHost &m_host;
    SettingsStore *m_settings;
    std::shared_ptr<const ConnectionState> m_connection;
    bool m_stored = false;
    RelayProbe *m_probe;
};
