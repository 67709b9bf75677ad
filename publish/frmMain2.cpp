#include "publish/frmMain2.h"

#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"
#include "core/ConnectionState.h"
#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "dialogs/Skin.h"
#include "dialogs/frmMsgBox.h"
#include "publish/BackgroundTask.h"
#include "publish/HostManager.h"
#include "publish/HostManagerHost.h"
#include "publish/OutsideAddresses.h"
#include "publish/clsDyndns.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const QString CurrentIp = QStringLiteral(" Current IP:");

QLabel *promptLabel(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

frmMain2::frmMain2(IHostManagerHost &host, Services services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_host(host)
    , m_settings(services.settings ? services.settings : &SettingsStore::instance())
    , m_connection(
          services.connection ? std::move(services.connection) : std::make_shared<NetworkManagerConnectionState>())
    , m_msgBox(services.msgBox)
{
    setObjectName(QStringLiteral("frmMain2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    buildWindow();
}

frmMain2::~frmMain2() = default;

void frmMain2::buildWindow()
{
    const QString provider = OutsideAddresses::read(*m_settings).providerName;
    setWindowTitle(HostManager::caption(provider));

    tdTitleBar = new VeilixDragBar(this);
    tdTitleBar->setObjectName(QStringLiteral("tdTitleBar"));
    Skin::applyTitleBar(tdTitleBar);
    cmdMinimize = new VeilixButton(this);
    cmdMinimize->setObjectName(QStringLiteral("cmdMinimize"));
    Skin::applyTitleButton(cmdMinimize, Skin::TitleButton::Minimize);
    connect(cmdMinimize, &VeilixButton::Click, this, &QWidget::showMinimized);
    cmdExit = new VeilixButton(this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    Skin::applyTitleButton(cmdExit, Skin::TitleButton::Close);
    connect(cmdExit, &VeilixButton::Click, this, &QWidget::close);

    // Logged out: the login frame.
    fraLogin = new QGroupBox(QStringLiteral("Login"), this);
    fraLogin->setObjectName(QStringLiteral("fraLogin"));
    lblLoginPrompt = new QLabel(HostManager::loginPrompt(provider), fraLogin);
    lblLoginPrompt->setObjectName(QStringLiteral("lblLoginPrompt"));
    lblLoginPrompt->setTextFormat(Qt::PlainText);
    txtUsername = new QLineEdit(fraLogin);
    txtUsername->setObjectName(QStringLiteral("txtUsername"));
    txtUsername->setMaxLength(255);
    txtPassword = new QLineEdit(fraLogin);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setMaxLength(255);
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdLogin = new QPushButton(QStringLiteral("&Login >>"), fraLogin);
    cmdLogin->setObjectName(QStringLiteral("cmdLogin"));
    auto *loginForm = new QFormLayout;
    loginForm->addRow(promptLabel(QStringLiteral("Username:"), txtUsername, fraLogin), txtUsername);
    loginForm->addRow(promptLabel(QStringLiteral("Password:"), txtPassword, fraLogin), txtPassword);
    auto *loginLayout = new QVBoxLayout(fraLogin);
    loginLayout->addWidget(lblLoginPrompt);
    loginLayout->addLayout(loginForm);
    loginLayout->addWidget(cmdLogin, 0, Qt::AlignRight);

    // Logged in: the update frame.
    fraUpdate = new QGroupBox(QStringLiteral("Update IP Addresses"), this);
    fraUpdate->setObjectName(QStringLiteral("fraUpdate"));
    lstHostNames = new QComboBox(fraUpdate);
    lstHostNames->setObjectName(QStringLiteral("lstHostNames"));
    lstHostNames->setEditable(true);
    lstHostNames->setInsertPolicy(QComboBox::NoInsert);
    lstHostNames->setMaxVisibleItems(15);
    lblCurrentIP = new QLabel(HostManager::NoHostSelected, fraUpdate);
    lblCurrentIP->setObjectName(QStringLiteral("lblCurrentIP"));
    lblCurrentIP->setTextFormat(Qt::PlainText);
    txtIP = new QLineEdit(fraUpdate);
    txtIP->setObjectName(QStringLiteral("txtIP"));
    txtIP->setMaxLength(255);
    cmdUpdate = new QPushButton(QStringLiteral("&Update IP Address >>"), fraUpdate);
    cmdUpdate->setObjectName(QStringLiteral("cmdUpdate"));
    auto *updateLayout = new QVBoxLayout(fraUpdate);
    updateLayout->setSpacing(4);
    updateLayout->addWidget(promptLabel(QStringLiteral("Select a hostname to update:"), lstHostNames, fraUpdate));
    updateLayout->addWidget(lstHostNames);
    updateLayout->addWidget(lblCurrentIP);
    updateLayout->addWidget(promptLabel(QStringLiteral("Enter the new IP address:"), txtIP, fraUpdate));
    auto *ipRow = new QHBoxLayout;
    ipRow->addWidget(txtIP, 1);
    ipRow->addWidget(cmdUpdate);
    updateLayout->addLayout(ipRow);
    fraUpdate->hide();

    auto *content = new QVBoxLayout;
    content->setContentsMargins(10, 8, 10, 10);
    content->addWidget(fraLogin);
    content->addWidget(fraUpdate);
    content->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // the frame drawn by paintEvent
    layout->setSpacing(0);
    layout->addWidget(tdTitleBar);
    layout->addLayout(content, 1);
    setFixedWidth(WindowWidth);
    setFixedHeight(qMax(sizeHint().height(), 150));
    const QList<QWidget *> tabOrder
        = { txtUsername, txtPassword, cmdLogin, lstHostNames, txtIP, cmdUpdate, cmdMinimize, cmdExit };
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));

    connect(cmdLogin, &QPushButton::clicked, this, &frmMain2::cmdLogin_Click);
    connect(cmdUpdate, &QPushButton::clicked, this, &frmMain2::cmdUpdate_Click);
    // lstHostNames_Change, _Click and _KeyUp: typing and choosing both change the text.
    connect(lstHostNames, &QComboBox::currentTextChanged, this, &frmMain2::DisplayCurrentIP);
    connect(lstHostNames, &QComboBox::activated, this, &frmMain2::DisplayCurrentIP);
}

void frmMain2::load()
{
    tdTitleBar->setCaption(windowTitle());
    txtUsername->setText(m_settings->GetSetting(QStringLiteral("dyuser")));
    txtPassword->setText(m_settings->GetSetting(QStringLiteral("dypass")));
    // Enter logs in until the update frame shows.
    m_defaultButton = cmdLogin;
    // The message box is loaded now, so the first message shows without delay.
    (void)msgBox();
    // In the middle of the screen.
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    txtUsername->setFocus();
}

frmMsgBox &frmMain2::msgBox()
{
    if (!m_msgBox)
        m_msgBox = frmMsgBox::instance();
    return *m_msgBox;
}

clsDyndns &frmMain2::myDNS()
{
    if (!m_dns)
        m_dns = std::make_shared<clsDyndns>(clsDyndns::Endpoints {}, m_connection);
    return *m_dns;
}

void frmMain2::DisplayCurrentIP()
{
    lblCurrentIP->setText(HostManager::currentAddressText(m_hostList, lstHostNames->currentText()));
}

void frmMain2::DisplayWorking()
{
    setCursor(Qt::WaitCursor);
}

void frmMain2::DisplayReady()
{
    unsetCursor();
}

void frmMain2::setBusy(bool busy)
{
    m_busy = busy;
    cmdLogin->setEnabled(!busy);
    cmdUpdate->setEnabled(!busy);
}

void frmMain2::ShowMessage(const QString &text, bool beep, std::function<void()> then)
{
    QString button1, button2, title;
    QPointer<frmMain2> self(this);
    msgBox().cMsgBox(text, button1, button2, title, !beep, [self, then = std::move(then)](qint16) {
        if (self && then)
            then();
    });
}

void frmMain2::cmdLogin_Click()
{
    if (m_busy)
        return;
    DisplayWorking();
    setBusy(true);
    const OutsideAddresses addresses = OutsideAddresses::read(*m_settings);
    const HttpOptions options = addresses.httpOptions();
    myDNS().setEndpoints({ addresses.accountSiteUrl, addresses.updateHostUrl, addresses.echoPageUrl, options });
    auto client = m_dns;
    auto connection = m_connection;
    const QString user = txtUsername->text().trimmed();
    const QString password = txtPassword->text();
    const QString echo = addresses.echoPageUrl;
    runInBackground<HostManager::LoginResult>(
        this,
        [client, connection, user, password, echo, options] {
            return HostManager::login(*client, user, password, echo, *connection, options);
        },
        [this](const HostManager::LoginResult &result) {
            setBusy(false);
            if (result.ok) {
                fraLogin->hide();
                m_hostList = result.hosts;
                ShowUpdatePanel(result.publicAddress);
                DisplayReady();
                emit exchangeFinished();
                return;
            }
            DisplayReady();
            ShowMessage(HostManager::LoginFailed, true, [this] {
                txtPassword->clear();
                emit exchangeFinished();
            });
        });
}

void frmMain2::ShowUpdatePanel(const QString &publicAddress)
{
    FillHostList(m_hostList);
    txtIP->setText(publicAddress);
    m_defaultButton = cmdUpdate;
    cmdUpdate->setDefault(true);
    setFixedHeight(UpdateHeight);
    fraUpdate->show();
    lstHostNames->setFocus();
}

void frmMain2::FillHostList(const OrderedDictionary &hosts)
{
    m_hostList = hosts;
    // The host being looked at stays chosen, so its label shows the address after an update.
    const QString text = lstHostNames->currentText();
    {
        const QSignalBlocker blocker(lstHostNames);
        lstHostNames->clear();
        lstHostNames->addItems(m_hostList.keys());
        lstHostNames->setCurrentIndex(-1);
        lstHostNames->setEditText(text);
    }
    DisplayCurrentIP();
}

void frmMain2::cmdUpdate_Click()
{
    if (m_busy)
        return;
    const QString hostName = lstHostNames->currentText();
    if (hostName.isEmpty()) {
        ShowMessage(HostManager::SelectHost, true);
        return;
    }
    if (!HostManager::keptByUpdater(*m_settings, hostName)) {
        sendUpdate(hostName);
        return;
    }
    // The updater would undo it: the user decides with that known.
    QString ok = QStringLiteral("OK");
    QString cancel = QStringLiteral("Cancel");
    QString title;
    QPointer<frmMain2> self(this);
    msgBox().cMsgBox(
        HostManager::keptByUpdaterWarning(hostName), ok, cancel, title, false, [self, hostName](qint16 result) {
            if (self && result == 1)
                self->sendUpdate(hostName);
        });
}

void frmMain2::sendUpdate(const QString &hostName)
{
    if (m_busy)
        return;
    DisplayWorking();
    setBusy(true);
    const OutsideAddresses addresses = OutsideAddresses::read(*m_settings);
    myDNS().setEndpoints(
        { addresses.accountSiteUrl, addresses.updateHostUrl, addresses.echoPageUrl, addresses.httpOptions() });
    if (const QString warning = OutsideAddresses::plainHttpWarningOnce(addresses.updateHostUrl); !warning.isEmpty())
        LogMsg(warning);
    auto client = m_dns;
    const QString address = txtIP->text();
    runInBackground<HostManager::UpdateResult>(
        this, [client, hostName, address] { return HostManager::update(*client, hostName, address); },
        [this, hostName](const HostManager::UpdateResult &result) {
            DisplayReady();
            setBusy(false);
            const OrderedDictionary hosts = result.hosts;
            // After the message, the list shows the provider's addresses after the attempt.
            auto refill = [this, hosts] {
                FillHostList(hosts);
                emit exchangeFinished();
            };
            if (!result.ok) {
                ShowMessage(HostManager::UpdateFailed, true, refill);
                return;
            }
            const QString sent = result.address;
            ShowMessage(HostManager::successMessage(hostName, sent), false, [this, sent, refill] {
                m_host.setAddressLabel(CurrentIp + sent);
                LogMsg(HostManager::ManualUpdateLogLine);
                refill();
            });
        });
}

void frmMain2::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The default button (cmdUpdate once the update frame shows).
        if (m_defaultButton && m_defaultButton->isEnabled() && m_defaultButton->isVisible()) {
            m_defaultButton->click();
            return;
        }
        break;
    case Qt::Key_Escape:
        close();
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void frmMain2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The skinned buttons sit on the right end of the title bar.
    const int top = 1 + Skin::TitleButtonTop;
    const int right = width() - 1 - 4;
    cmdExit->move(right - Skin::TitleButtonSize, top);
    cmdMinimize->move(right - 2 * Skin::TitleButtonSize - 2, top);
    cmdMinimize->raise();
    cmdExit->raise();
}

void frmMain2::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(Skin::windowBorderColor());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
