#include "frmMain.h"

#include "Console.h"
#include "Conversions.h"
#include "EventLog.h"
#include "RequestParsing.h"
#include "SettingsStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

frmMain::frmMain(Services services, QWidget *parent)
    : QWidget(parent)
    , m_clock(services.clock)
    , m_settings(services.settings ? services.settings : &SettingsStore::instance())
    , m_connection(services.connection ? services.connection : std::make_shared<RouteConnectionState>())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vistelle"));

    lblEvents = new QLabel(QStringLiteral("Latest Events"), this);
    lblEvents->setObjectName(QStringLiteral("lblEvents"));

    Image2 = new QToolButton(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setToolTip(QStringLiteral("Clear Event Log"));
    Image2->setIcon(QIcon::fromTheme(QStringLiteral("edit-clear")));
    Image2->setAutoRaise(true);

    Image5 = new QToolButton(this);
    Image5->setObjectName(QStringLiteral("Image5"));
    Image5->setToolTip(QStringLiteral("Listen on port"));
    Image5->setIcon(QIcon::fromTheme(QStringLiteral("network-server")));
    Image5->setAutoRaise(true);

    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));

    auto *header = new QHBoxLayout;
    header->addWidget(lblEvents);
    header->addStretch();
    header->addWidget(Image5);
    header->addWidget(Image2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(txtLog);
    resize(640, 420);

    m_log = new EventLog(txtLog, *m_clock, this);
    connect(m_log, &EventLog::lineAdded, this, [](const QString &line) { Console::writeLine(line); });
    connect(Image2, &QToolButton::clicked, m_log, &EventLog::clear);
    connect(Image5, &QToolButton::clicked, this, &frmMain::Image5_Click);

    m_listener = new Listener(*m_clock, services.listenerLimits, this);
    connect(m_listener, &Listener::requestFinished, this, &frmMain::onRequestFinished);
    connect(m_listener, &Listener::acceptError, this, &frmMain::onAcceptError);
    connect(m_listener, &Listener::tlsRefused, this, [this] {
        PutLog(QStringLiteral("TLS connection refused: no certificate configured"));
    });
}

frmMain::~frmMain() = default;

void frmMain::PutLog(const QString &eventtxt)
{
    m_log->PutLog(eventtxt);
}

void frmMain::ListenOnPort(qint16 PortNum)
{
    PutLog(QStringLiteral("Listening for connections on port: ") + QString::number(PortNum));
    QString error;
    if (!m_listener->listen(PortNum, &error))
        PutLog(QStringLiteral("Bind error: ") + error);
}

void frmMain::listenOnConfiguredPort()
{
    const QString text = m_settings->GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80"));
    const std::optional<qint16> port = Conversions::toInt16(Conversions::leadingNumber(text));
    if (port)
        ListenOnPort(*port);
}

QString frmMain::GetHeaderFromRequest(const QString &Request, const QString &Header)
{
    return RequestParsing::GetHeaderFromRequest(Request, Header);
}

void frmMain::sepurl(QString &PageUrl)
{
    RequestParsing::sepurl(PageUrl);
}

void frmMain::onRequestFinished(const QByteArray &request, const QString &remoteAddress)
{
    // Until the visit processing takes over: one line per finished request.
    const QString referer = GetHeaderFromRequest(QString::fromUtf8(request), QStringLiteral("referer"));
    PutLog(QStringLiteral("Visit: ") + remoteAddress + QStringLiteral(" -> ") + (referer.isEmpty() ? QStringLiteral("Unknown") : referer));
}

void frmMain::onAcceptError(const QString &description)
{
    PutLog(QStringLiteral("Winsock warning: ") + description);
    listenOnConfiguredPort();
    emit publisherEnableRequested();
    PutLog(QStringLiteral("Click on 'Listen on Port' Icon above events log"));
}

void frmMain::Image5_Click()
{
    if (m_connection->query().online)
        listenOnConfiguredPort();
}
