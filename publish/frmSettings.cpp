#include "publish/frmSettings.h"

#include "core/ConnectionState.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "publish/HostManager.h"
#include "publish/OutsideAddresses.h"
#include "publish/ServerSettings.h"
#include "publish/SettingsWindowHost.h"
#include "relay/RelayAddress.h"
#include "relay/RelayProbe.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

const QString frmSettings::PortRefused = QStringLiteral("Please enter a port from 1 to 32767.");

namespace {

const QString Title = QStringLiteral("Vistelle");

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

QLineEdit *textBox(const char *name, QWidget *parent)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setMaxLength(255);
    return box;
}

// The provider's domain for the ASP warning: the host of its web site.
QString providerDomain(const OutsideAddresses &addresses)
{
    const QString host = QUrl(addresses.providerSiteUrl).host();
    return host.isEmpty() ? addresses.providerName : host;
}

} // namespace

frmSettings::frmSettings(ISettingsWindowHost &host, Services services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_host(host)
    , m_settings(services.settings ? services.settings : &SettingsStore::instance())
    , m_connection(
          services.connection ? std::move(services.connection) : std::make_shared<NetworkManagerConnectionState>())
    , m_probe(new RelayProbe(this))
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(Title);
    setAttribute(Qt::WA_DeleteOnClose);
    buildWindow();
}

frmSettings::~frmSettings() = default;

void frmSettings::buildWindow()
{
    const OutsideAddresses addresses = OutsideAddresses::read(*m_settings);

    // Listening port.
    auto *fraPort = new QGroupBox(QStringLiteral("Listening Port"), this);
    fraPort->setObjectName(QStringLiteral("fraPort"));
    txtPort = textBox("txtPort", fraPort);
    txtPort->setMaxLength(16);
    txtPort->setMaximumWidth(90);
    auto *portForm = new QFormLayout;
    portForm->addRow(QStringLiteral("Local Port:"), txtPort);
    auto *portLayout = new QVBoxLayout(fraPort);
    portLayout->addWidget(note(
        QStringLiteral("Please enter the port on which the application should listen. The default value is port 80."),
        fraPort));
    portLayout->addLayout(portForm);

    // Dynamic DNS.
    Check2 = new QCheckBox(QStringLiteral("Use ") + addresses.providerName, this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Label13 = new QLabel(this);
    Label13->setObjectName(QStringLiteral("Label13"));
    const QString siteName = providerDomain(addresses);
    Label13->setText(QStringLiteral("<a href=\"site\">") + siteName.toHtmlEscaped() + QStringLiteral("</a>"));
    Label13->setTextFormat(Qt::RichText);
    Label13->setToolTip(QStringLiteral("Open the web site of ") + addresses.providerName);
    Label13->setAccessibleName(QStringLiteral("Web site of ") + addresses.providerName);
    connect(Label13, &QLabel::linkActivated, this, &frmSettings::Label13_Click);
    auto *providerRow = new QHBoxLayout;
    providerRow->addWidget(Check2);
    providerRow->addStretch();
    providerRow->addWidget(Label13);

    auto *fraAccount = new QGroupBox(QStringLiteral("Account Details"), this);
    fraAccount->setObjectName(QStringLiteral("fraAccount"));
    dyusername = textBox("dyusername", fraAccount);
    dypassword = textBox("dypassword", fraAccount);
    dypassword->setEchoMode(QLineEdit::Password);
    dyname = textBox("dyname", fraAccount);
    Command1 = new QPushButton(QStringLiteral("Login"), fraAccount);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(QStringLiteral("Log into the account and update a host by hand"));
    auto *accountForm = new QFormLayout;
    accountForm->addRow(QStringLiteral("Username:"), dyusername);
    accountForm->addRow(QStringLiteral("Password:"), dypassword);
    accountForm->addRow(QStringLiteral("Dynamic IP Name:"), dyname);
    auto *accountLayout = new QHBoxLayout(fraAccount);
    accountLayout->addLayout(accountForm, 1);
    accountLayout->addWidget(Command1, 0, Qt::AlignBottom);

    // The owner's address script.
    auto *fraWebsite = new QGroupBox(QStringLiteral("Website Details"), this);
    fraWebsite->setObjectName(QStringLiteral("fraWebsite"));
    Check1 = new QCheckBox(QStringLiteral("ASP sites with non-static IP's"), fraWebsite);
    Check1->setObjectName(QStringLiteral("Check1"));
    txtHostName = textBox("txtHostName", fraWebsite);
    txtRemotePath = textBox("txtRemotePath", fraWebsite);
    txtHostName->setEnabled(false);
    txtRemotePath->setEnabled(false);
    auto *websiteForm = new QFormLayout;
    websiteForm->addRow(QStringLiteral("Server Host/IP:"), txtHostName);
    websiteForm->addRow(QStringLiteral("IP Script Path:"), txtRemotePath);
    auto *websiteLayout = new QVBoxLayout(fraWebsite);
    websiteLayout->addWidget(note(QStringLiteral("Use this ONLY if you monitor ASP pages without a static IP!: NOTE "
                                                 "you must upload the two ASP pages and database supplied in order "
                                                 "for this to work."),
        fraWebsite));
    websiteLayout->addWidget(Check1);
    websiteLayout->addLayout(websiteForm);

    // The relay: visits through an MQTT broker.
    auto *fraRelay = new QGroupBox(QStringLiteral("Relay"), this);
    fraRelay->setObjectName(QStringLiteral("fraRelay"));
    txtRelayUrl = textBox("txtRelayUrl", fraRelay);
    txtRelayUrl->setMaxLength(1024);
    txtRelayUrl->setPlaceholderText(QStringLiteral("mqtts://broker.example/vistelle/+"));
    txtRelayUser = textBox("txtRelayUser", fraRelay);
    txtRelayPassword = textBox("txtRelayPassword", fraRelay);
    txtRelayPassword->setEchoMode(QLineEdit::Password);
    cmdRelayTest = new QPushButton(QStringLiteral("Test"), fraRelay);
    cmdRelayTest->setObjectName(QStringLiteral("cmdRelayTest"));
    cmdRelayTest->setToolTip(QStringLiteral("Connect to the broker with these details"));
    lblRelayTest = new QLabel(fraRelay);
    lblRelayTest->setObjectName(QStringLiteral("lblRelayTest"));
    lblRelayTest->setTextFormat(Qt::PlainText);
    lblRelayTest->setWordWrap(true);
    lblRelayTest->setAccessibleName(QStringLiteral("Relay test result"));
    auto *relayForm = new QFormLayout;
    relayForm->addRow(QStringLiteral("Broker address:"), txtRelayUrl);
    relayForm->addRow(QStringLiteral("User:"), txtRelayUser);
    relayForm->addRow(QStringLiteral("Password:"), txtRelayPassword);
    auto *relayTestRow = new QHBoxLayout;
    relayTestRow->addWidget(lblRelayTest, 1);
    relayTestRow->addWidget(cmdRelayTest, 0, Qt::AlignTop);
    auto *relayLayout = new QVBoxLayout(fraRelay);
    relayLayout->addWidget(note(QStringLiteral("Receive the visits of your sites through an MQTT broker, also those "
                                               "made while this PC was off. Leave the address empty for none."),
        fraRelay));
    relayLayout->addLayout(relayForm);
    relayLayout->addLayout(relayTestRow);
    connect(cmdRelayTest, &QPushButton::clicked, this, &frmSettings::cmdRelayTest_Click);
    connect(m_probe, &RelayProbe::finished, this, [this](bool, const QString &text) {
        lblRelayTest->setText(text);
        cmdRelayTest->setEnabled(true);
    });

    // Bottom row.
    Image6 = new QToolButton(this);
    Image6->setObjectName(QStringLiteral("Image6"));
    Image6->setIcon(QIcon::fromTheme(QStringLiteral("audio-x-generic"), style()->standardIcon(QStyle::SP_MediaVolume)));
    Image6->setIconSize(QSize(22, 22));
    Image6->setAutoRaise(true);
    Image6->setToolTip(QStringLiteral("Get More Sounds"));
    Image6->setAccessibleName(QStringLiteral("Get More Sounds"));
    connect(Image6, &QToolButton::clicked, this, &frmSettings::Image6_Click);
    cmdNext = new QPushButton(QStringLiteral("OK"), this);
    cmdNext->setObjectName(QStringLiteral("cmdNext"));
    cmdNext->setDefault(true);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Image6);
    bottom->addStretch();
    bottom->addWidget(cmdNext);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(fraPort);
    layout->addLayout(providerRow);
    layout->addWidget(fraAccount);
    layout->addWidget(fraWebsite);
    layout->addWidget(fraRelay);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(440);

    connect(Check1, &QCheckBox::toggled, this, &frmSettings::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &frmSettings::Check2_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmSettings::cmdNext_Click);
    connect(Command1, &QPushButton::clicked, this, &frmSettings::Command1_Click);
}

void frmSettings::load()
{
    // Sized first: a window that takes its size only when shown is placed by its client area on
    // X11, which would push the title bar off the screen.
    adjustSize();
    move(0, 0);
    // In the window's order; a box given a value counts as clicked (its effects follow at once).
    const ServerSettings s = ServerSettings::load(*m_settings);
    dyusername->setText(s.user);
    dypassword->setText(s.password);
    dyname->setText(s.hostName);
    txtPort->setText(s.port);
    if (s.useAsp)
        Check1->setChecked(*s.useAsp);
    txtHostName->setText(s.remoteHost);
    txtRemotePath->setText(s.remotePath);
    if (s.useDynDns)
        Check2->setChecked(*s.useDynDns);
    txtRelayUrl->setText(s.relayUrl);
    txtRelayUser->setText(s.relayUser);
    txtRelayPassword->setText(s.relayPassword);
}

ServerSettings frmSettings::relayFields() const
{
    ServerSettings s;
    s.relayUrl = txtRelayUrl->text();
    s.relayUser = txtRelayUser->text();
    s.relayPassword = txtRelayPassword->text();
    return s;
}

void frmSettings::cmdRelayTest_Click()
{
    const ServerSettings s = relayFields();
    QString why;
    lblRelayTest->setText(QStringLiteral("Connecting..."));
    if (!m_probe->start(
            s.relayAddress(), s.relayPassword, m_settings->GetSetting(QStringLiteral("RelayCaFile")).trimmed(), &why)) {
        lblRelayTest->setText(QStringLiteral("Not a broker address: ") + why);
        return;
    }
    cmdRelayTest->setEnabled(false);
}

QString frmSettings::aspWarning(const QString &providerDomain)
{
    return QStringLiteral("Use ONLY to track ASP pages when you do not have a Static IP! If you have an updatable "
                          "IP at ")
        + providerDomain
        + QStringLiteral(", do not use this section: put your tracking code, which references your address, into "
                         "the pages you want to track instead (see the help page).");
}

void frmSettings::Check1_Click(bool checked)
{
    if (checked)
        MessageBox::information(this, Title, aspWarning(providerDomain(OutsideAddresses::read(*m_settings))));
    txtHostName->setEnabled(checked);
    txtRemotePath->setEnabled(checked);
}

void frmSettings::Check2_Click(bool checked)
{
    dyusername->setEnabled(checked);
    dypassword->setEnabled(checked);
    dyname->setEnabled(checked);
}

void frmSettings::cmdNext_Click()
{
    // The listener takes a port from 1 to 32767: anything else is refused before anything is stored.
    const std::optional<qint16> port = ServerSettings::portNumber(txtPort->text());
    if (!port) {
        MessageBox::information(this, Title, PortRefused);
        txtPort->setFocus();
        txtPort->selectAll();
        return;
    }
    ServerSettings s = relayFields();
    QString why;
    if (!s.relayAddress().isEmpty() && !RelayAddress::parse(s.relayAddress(), RelayAddress::Use::Subscribing, &why)) {
        MessageBox::information(this, Title, QStringLiteral("The relay's broker address cannot be used: ") + why);
        txtRelayUrl->setFocus();
        return;
    }
    s.port = txtPort->text();
    s.remoteHost = txtHostName->text();
    s.remotePath = txtRemotePath->text();
    s.useDynDns = Check2->isChecked();
    s.user = dyusername->text();
    s.password = dypassword->text();
    s.hostName = dyname->text();
    s.useAsp = Check1->isChecked();
    s.store(*m_settings);
    m_stored = true;

    m_host.showMainWindow();
    m_host.listenOnPort(*port);
    m_host.enablePublisher();
    m_host.restartRelay();
    close();
}

void frmSettings::Command1_Click()
{
    if (!m_connection->query().online) {
        MessageBox::information(this, Title, HostManager::NotConnected);
        return;
    }
    m_host.openHostManager();
}

void frmSettings::Image6_Click()
{
    m_host.openDocument(OutsideAddresses::read(*m_settings).soundsPageUrl);
}

void frmSettings::Label13_Click()
{
    m_host.openDocument(OutsideAddresses::read(*m_settings).providerSiteUrl);
}

void frmSettings::closeEvent(QCloseEvent *event)
{
    // Closed without OK: nothing is stored, and the hidden main window comes back.
    if (!m_stored)
        m_host.showMainWindow();
    QWidget::closeEvent(event);
}

void frmSettings::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
