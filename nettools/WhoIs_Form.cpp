#include "nettools/WhoIs_Form.h"

#include "core/SettingsStore.h"
#include "nettools/WhoisServers.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

const QString WhoIs_Form::NoDomainText = QStringLiteral(" No domain name was entered.");

WhoIs_Form::WhoIs_Form(SettingsStore *settings, const Clock &clock, WhoisLimits limits, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings ? settings : &SettingsStore::instance())
    , m_client(new WhoisClient(clock, limits, this))
{
    setObjectName(QStringLiteral("WhoIs_Form"));
    setWindowTitle(QStringLiteral("Whois"));
    buildWindow();
    fillServerList();
    WhoIs_Server->setCurrentIndex(0);

    connect(Send_Query_Button1, &QPushButton::clicked, this, &WhoIs_Form::Send_Query_Button1_Click);
    connect(WhoIs_Server, &QComboBox::activated, this, &WhoIs_Form::WhoIs_Server_Click);
    connect(Command1, &QPushButton::clicked, this, &WhoIs_Form::reject);
    connect(m_client, &WhoisClient::textArrived, this, &WhoIs_Form::appendAnswer);
    connect(m_client, &WhoisClient::noDomainName, this, &WhoIs_Form::showNoDomain);
    // The busy pointer while the server is being reached.
    connect(m_client, &WhoisClient::connected, this, [this] { unsetCursor(); });
    connect(m_client, &WhoisClient::finished, this, [this] { unsetCursor(); });
}

WhoIs_Form::~WhoIs_Form() = default;

void WhoIs_Form::buildWindow()
{
    auto *domainLabel = new QLabel(QStringLiteral("Domain Name"), this);
    Domain_Name = new QLineEdit(this);
    Domain_Name->setObjectName(QStringLiteral("Domain_Name"));
    Domain_Name->setAccessibleName(domainLabel->text());
    domainLabel->setBuddy(Domain_Name);

    auto *serverLabel = new QLabel(QStringLiteral("WhoIs Server"), this);
    WhoIs_Server = new QComboBox(this);
    WhoIs_Server->setObjectName(QStringLiteral("WhoIs_Server"));
    WhoIs_Server->setAccessibleName(serverLabel->text());
    WhoIs_Server->setMinimumContentsLength(26);
    serverLabel->setBuddy(WhoIs_Server);

    Send_Query_Button1 = new QPushButton(QStringLiteral("Query"), this);
    Send_Query_Button1->setObjectName(QStringLiteral("Send_Query_Button1"));
    Send_Query_Button1->setDefault(true); // Enter in the domain box queries
    Command1 = new QPushButton(QStringLiteral("Cancel"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);

    WhoIs_Response = new QPlainTextEdit(this);
    WhoIs_Response->setObjectName(QStringLiteral("WhoIs_Response"));
    WhoIs_Response->setAccessibleName(QStringLiteral("Whois answer"));
    WhoIs_Response->setReadOnly(true);
    WhoIs_Response->setUndoRedoEnabled(false);
    WhoIs_Response->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    WhoIs_Response->setMinimumSize(560, 340);

    auto *fields = new QGridLayout;
    fields->addWidget(domainLabel, 0, 0);
    fields->addWidget(Domain_Name, 0, 1);
    fields->addWidget(Send_Query_Button1, 0, 2);
    fields->addWidget(serverLabel, 1, 0);
    fields->addWidget(WhoIs_Server, 1, 1);
    fields->addWidget(Command1, 1, 2);
    fields->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(WhoIs_Response, 1);
}

void WhoIs_Form::fillServerList()
{
    const int selected = WhoIs_Server->currentIndex();
    const QStringList servers = WhoisServers::read(*m_settings);
    WhoIs_Server->clear();
    for (const QString &server : servers)
        WhoIs_Server->addItem(u' ' + server + u' ');
    if (selected >= 0)
        WhoIs_Server->setCurrentIndex(selected);
}

void WhoIs_Form::openFor(const QString &hostCaption)
{
    fillServerList(); // the store may have changed since the last opening
    WhoIs_Response->clear();
    Domain_Name->setText(WhoisClient::registeredDomain(hostCaption));
    if (!isVisible()) {
        setWindowModality(parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
        show();
    }
    raise();
    activateWindow();
    if (mayQuery())
        Send_Query_Button1_Click();
}

bool WhoIs_Form::mayQuery() const
{
    const QString domain = Domain_Name->text();
    return !domain.isEmpty() && !domain.contains(QStringLiteral("Can't"));
}

void WhoIs_Form::Send_Query_Button1_Click()
{
    WhoIs_Response->clear();
    if (m_client->query(WhoIs_Server->currentText(), Domain_Name->text()))
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void WhoIs_Form::WhoIs_Server_Click()
{
    if (mayQuery())
        Send_Query_Button1_Click();
}

void WhoIs_Form::appendAnswer(const QString &text)
{
    // Added at the end as plain text; the view stays where the reader has it.
    QTextCursor end(WhoIs_Response->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void WhoIs_Form::showNoDomain()
{
    WhoIs_Response->setPlainText(NoDomainText);
    QApplication::beep();
}

void WhoIs_Form::reject()
{
    m_client->abort();
    unsetCursor();
    QDialog::reject();
}
