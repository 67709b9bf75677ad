#include "capture/frmMain.h"

#include "alerts/SoundOutput.h"
#include "capture/CountryLookup.h"
#include "capture/EventLog.h"
#include "capture/RequestParsing.h"
#include "capture/VisitProcessor.h"
#include "capture/VisitorList.h"
#include "core/Console.h"
#include "core/Conversions.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "nettools/Class1.h"
#include "publish/AddressFile.h"
#include "publish/AddressUpdater.h"
#include "publish/BackgroundTask.h"
#include "publish/ConnectionMonitor.h"
#include "publish/DayChangeNote.h"
#include "publish/OutsideAddresses.h"
#include "publish/RemoteScriptPublisher.h"
#include "publish/UpdateCheck.h"
#include "publish/modXMLHTTP.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString CurrentIp = QStringLiteral(" Current IP:");

QIcon icon(const char *themeName)
{
    const QString name = QString::fromLatin1(themeName);
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/capture/icons/") + name + QStringLiteral(".svg")));
}

QToolButton *iconButton(QWidget *parent, const char *name, const char *themeIcon, const QString &toolTip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(icon(themeIcon));
    button->setIconSize(QSize(22, 22));
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    return button;
}

QLabel *iconLabel(QWidget *parent, const char *name, const char *themeIcon, const QString &toolTip)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(icon(themeIcon).pixmap(18, 18));
    label->setToolTip(toolTip);
    return label;
}
} // namespace

frmMain::frmMain(IMainWindowHost &host, Services services, QWidget *parent)
    : QWidget(parent)
    , m_clock(services.clock)
    , m_settings(services.settings ? services.settings : &SettingsStore::instance())
    , m_connection(services.connection ? services.connection : std::make_shared<NetworkManagerConnectionState>())
    , m_ownStartup(services.startup ? nullptr : std::make_unique<StartupState>())
    , m_startup(services.startup ? services.startup : m_ownStartup.get())
    , m_host(host)
    , m_sound(services.sound)
{
    Q_INIT_RESOURCE(icons);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vistelle"));
    buildWindow();
    buildComponents(services);
}

frmMain::~frmMain() = default;

void frmMain::buildWindow()
{
    Label8 = new QLabel(CurrentIp, this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setTextFormat(Qt::PlainText);
    QFont addressFont = Label8->font();
    addressFont.setBold(true);
    addressFont.setPointSizeF(addressFont.pointSizeF() * 1.15);
    Label8->setFont(addressFont);
    Connectionon = iconLabel(this, "Connectionon", "network-wired", QStringLiteral("Connected"));
    Connectionoff = iconLabel(this, "Connectionoff", "network-offline", QStringLiteral("Disconnected"));
    Connectionon->hide();

    Label10 = new QLabel(QStringLiteral("<a href=\"help\">Help</a>"), this);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setToolTip(QStringLiteral("Open the help page"));
    connect(Label10, &QLabel::linkActivated, this, &frmMain::Label10_Click);
    Send_Query_Button1 = new QPushButton(icon("application-exit"), QStringLiteral("Exit"), this);
    Send_Query_Button1->setObjectName(QStringLiteral("Send_Query_Button1"));
    connect(Send_Query_Button1, &QPushButton::clicked, this, &frmMain::exitRequested);
    Command1 = new QPushButton(QStringLiteral("Server Notification Options..."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &frmMain::notificationOptionsRequested);
    cmdServerSettings = new QPushButton(QStringLiteral("Settings..."), this);
    cmdServerSettings->setObjectName(QStringLiteral("cmdServerSettings"));
    connect(cmdServerSettings, &QPushButton::clicked, this, &frmMain::serverSettingsRequested);
    Image4 = iconButton(this, "Image4", "vistelle-dns-update",
        OutsideAddresses::read(*m_settings).providerName + QStringLiteral(" Update"));
    Image4->setAccessibleName(Image4->toolTip());
    connect(Image4, &QToolButton::clicked, this, &frmMain::Image4_Click);

    lblEvents = new QLabel(QStringLiteral("Latest Events"), this);
    lblEvents->setObjectName(QStringLiteral("lblEvents"));
    QFont headingFont = lblEvents->font();
    headingFont.setBold(true);
    lblEvents->setFont(headingFont);
    Image5 = iconButton(this, "Image5", "network-server", QStringLiteral("Listen on port"));
    Image2 = iconButton(this, "Image2", "edit-clear", QStringLiteral("Clear Event Log"));
    StopRepeat = iconLabel(this, "StopRepeat", "stop-repeat", QStringLiteral("Stopped Repeat Request"));
    StopRepeat->hide();

    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setMinimumHeight(170);

    auto *top = new QHBoxLayout;
    top->addWidget(Connectionon);
    top->addWidget(Connectionoff);
    top->addWidget(Label8, 1);
    top->addWidget(Command1);
    top->addWidget(Image4);
    top->addWidget(cmdServerSettings);
    top->addWidget(Label10);
    top->addSpacing(8);
    top->addWidget(Send_Query_Button1);

    auto *eventsBar = new QHBoxLayout;
    eventsBar->addWidget(lblEvents);
    eventsBar->addWidget(StopRepeat);
    eventsBar->addStretch();
    eventsBar->addWidget(Image5);
    eventsBar->addWidget(Image2);

    const VisitorListWidgets widgets = VisitorListWidgets::create(this);
    auto *visitorsBar = new QHBoxLayout;
    auto *visitorsLabel = new QLabel(QStringLiteral("Visitors"), this);
    visitorsLabel->setFont(headingFont);
    visitorsBar->addWidget(visitorsLabel);
    visitorsBar->addStretch();
    Image1 = iconButton(this, "Image1", "system-search", QStringLiteral("Whois"));
    Image1->setAccessibleName(Image1->toolTip());
    connect(
        Image1, &QToolButton::clicked, this, [this, label = widgets.Label6] { emit whoisRequested(label->text()); });
    visitorsBar->addWidget(Image1);
    for (QToolButton *b : { widgets.Image3, widgets.Image8, widgets.Image7 })
        b->setIconSize(QSize(22, 22));
    widgets.Image3->setIcon(icon("document-save"));
    widgets.Image8->setIcon(icon("document-open"));
    widgets.Image7->setIcon(icon("edit-delete"));
    visitorsBar->addWidget(widgets.Image3);
    visitorsBar->addWidget(widgets.Image8);
    visitorsBar->addWidget(widgets.Image7);
    widgets.iGrid1->setMinimumHeight(200);
    widgets.Label6->setMinimumWidth(200);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->addWidget(widgets.panel1, 1);
    StatusBar1->addWidget(widgets.panel2, 1);
    StatusBar1->addWidget(widgets.panel3, 1);
    panel5 = new QToolButton(this);
    panel5->setObjectName(QStringLiteral("panel5"));
    panel5->setAutoRaise(true);
    panel5->setToolButtonStyle(Qt::ToolButtonTextOnly);
    panel5->setEnabled(false);
    StatusBar1->addPermanentWidget(panel5);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top);
    layout->addLayout(eventsBar);
    layout->addWidget(txtLog, 2);
    layout->addLayout(visitorsBar);
    layout->addWidget(widgets.iGrid1, 3);
    layout->addWidget(widgets.Label6);
    layout->addWidget(StatusBar1);
    setFixedSize(780, 600);

    m_visitors = new VisitorList(widgets, { m_connection, {}, {} }, this);
    // Room for the locale's short date and time, and for an address followed by its country.
    const QFontMetrics metrics(widgets.iGrid1->font());
    const QString sampleTime
        = QLocale().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
    widgets.iGrid1->setColumnWidth(0, metrics.horizontalAdvance(sampleTime) + 24);
    widgets.iGrid1->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("255.255.255.255 Netherlands")) + 16);
    widgets.iGrid1->setColumnWidth(2, 200); // the last column stretches over the rest
}

void frmMain::buildComponents(const Services &services)
{
    m_log = new EventLog(txtLog, *m_clock, this);
    connect(m_log, &EventLog::lineAdded, this, [](const QString &line) { Console::writeLine(line); });
    connect(Image2, &QToolButton::clicked, m_log, &EventLog::clear);
    connect(Image5, &QToolButton::clicked, this, &frmMain::Image5_Click);
    const PutLogFn logFn = [this](const QString &text) { PutLog(text); };

    m_listener = new Listener(*m_clock, services.listenerLimits, this);
    connect(m_listener, &Listener::requestFinished, this, &frmMain::onRequestFinished);
    connect(m_listener, &Listener::acceptError, this, &frmMain::onAcceptError);
    connect(m_listener, &Listener::tlsRefused, this,
        [this] { PutLog(QStringLiteral("TLS connection refused: no certificate configured")); });

    m_country = std::make_unique<CountryLookup>(QString(), CountryLookup::Limits(), *m_clock);
    m_visits = new VisitProcessor(*m_settings, *m_visitors, *this, *m_clock, this);
    m_monitor = new ConnectionMonitor(m_connection, *m_startup, *this, this);

    m_updateCheck = new UpdateCheck(m_settings, this);
    m_updateCheck->setPutLog(logFn);
    m_updateCheck->setOpenDocument([this](const QUrl &url) { m_host.openDocument(url.toString()); });
    connect(m_updateCheck, &UpdateCheck::panelTextChanged, panel5, &QToolButton::setText);
    connect(m_updateCheck, &UpdateCheck::panelToolTipChanged, panel5, &QToolButton::setToolTip);
    connect(m_updateCheck, &UpdateCheck::panelEnabledChanged, panel5, &QToolButton::setEnabled);
    connect(panel5, &QToolButton::clicked, m_updateCheck, &UpdateCheck::Panel_Click);

    m_updater = new AddressUpdater(*m_settings, m_connection, m_updateCheck, *this, *m_clock, this);

    m_publisher = new RemoteScriptPublisher(m_settings, m_connection, this);
    m_publisher->setPutLog(logFn);
    connect(this, &frmMain::publisherEnableRequested, m_publisher, &RemoteScriptPublisher::enable);
    connect(m_publisher, &RemoteScriptPublisher::restoreWindowRequested, this, [this] { m_host.restoreWindow(); });

    m_dayNote = new DayChangeNote(*m_clock, this);
    m_dayNote->setPutLog(logFn);
    m_dayNote->timer()->stop(); // runs from the window's loading

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(ConnectionMonitor::IntervalMs);
    connect(Timer1, &QTimer::timeout, m_monitor, &ConnectionMonitor::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(AddressUpdater::IntervalMs);
    connect(Timer2, &QTimer::timeout, m_updater, &AddressUpdater::Timer2_Timer);
}

void frmMain::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_visits->resetLastVisitTime();
    m_updateCheck->setUpdateCheckPending(true);
    PutLog(QStringLiteral("Software Started - ")
        + QLocale::c().toString(m_clock->currentDateTime().date(), QStringLiteral("dd-MMMM-yyyy")));

    m_monitor->onWindowLoad();
    if (dynamicDnsOff()) {
        setAddressLabel(CurrentIp);
        const OutsideAddresses addresses = OutsideAddresses::read(*m_settings);
        const QString echo = addresses.echoPageUrl;
        const HttpOptions options = addresses.httpOptions();
        auto connection = m_connection;
        runInBackground<QString>(
            this, [echo, connection, options] { return modXMLHTTP::GetPublicIP(echo, *connection, options); },
            [this](const QString &address) {
                // Only while nothing else has written the label meanwhile.
                if (Label8->text() == CurrentIp)
                    setAddressLabel(CurrentIp + address);
            });
    } else {
        setAddressLabel(CurrentIp + AddressFile::read(addressFileName()));
    }

    m_updater->Timer2_Timer();
    m_monitor->setFirstConnectedTick();
    move(0, 0);

    // Logged for "1" and for a missing or non-numeric value; not for any other number.
    const QString usedyndns = m_settings->GetSetting(QStringLiteral("usedyndns"));
    if (!Conversions::isNumeric(usedyndns) || Conversions::leadingNumber(usedyndns) == 1.0)
        PutLog(QStringLiteral("If needed, IP will be updated in 60 seconds..."));

    Timer1->start();
    Timer2->start();
    m_dayNote->timer()->start();
}

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

QString frmMain::addressFileName()
{
    return AddressFile::fileName();
}

void frmMain::WRITEIP()
{
    // The address after the label's "IP:"; a status text leaves the file empty.
    QString error;
    if (!AddressFile::write(AddressFile::addressInCaption(Label8->text()), &error, addressFileName()))
        PutLog(QStringLiteral("Error saving the address file: ") + error);
}

QString frmMain::getcountry(const QString &ip)
{
    return m_country->getcountry(ip);
}

void frmMain::refreshcounters(const QString &VisitorIP, const QString &Page)
{
    m_visitors->refreshcounters(VisitorIP, Page);
}

QString frmMain::GetHeaderFromRequest(const QString &Request, const QString &Header)
{
    return RequestParsing::GetHeaderFromRequest(Request, Header);
}

void frmMain::sepurl(QString &PageUrl)
{
    RequestParsing::sepurl(PageUrl);
}

void frmMain::stopTimers()
{
    Timer1->stop();
    Timer2->stop();
    m_publisher->disable();
    m_dayNote->timer()->stop();
}

void frmMain::closeSocket()
{
    m_listener->close();
}

void frmMain::enablePublisher()
{
    m_publisher->enable();
}

void frmMain::onRequestFinished(const QByteArray &request, const QString &remoteAddress)
{
    m_visits->WS_Close(QString::fromUtf8(request), remoteAddress);
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

void frmMain::Image4_Click()
{
    if (!m_connection->query().online) {
        MessageBox::information(
            this, QStringLiteral("Vistelle"), QStringLiteral("You are not connected to the Internet"));
        return;
    }
    emit hostManagerRequested();
}

void frmMain::Label10_Click()
{
    m_host.openDocument(Paths::findDataFile(QStringLiteral("vistelle.htm")));
}

void frmMain::setAddressLabel(const QString &text)
{
    Label8->setText(text);
}

bool frmMain::dynamicDnsOff() const
{
    return Conversions::trimmedEquals(m_settings->GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
}

QString frmMain::listenPortText() const
{
    const double value
        = Conversions::leadingNumber(m_settings->GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")));
    return QString::number(value, 'g', 15);
}

void frmMain::showConnection(bool online)
{
    Connectionon->setVisible(online);
    Connectionoff->setVisible(!online);
}

void frmMain::playSound(const QString &fileName)
{
    if (m_sound)
        m_sound->playAsync(fileName);
}

void frmMain::showPopup(const QString &caption, const QString &subcaption)
{
    m_host.showPopup(caption, subcaption);
}

void frmMain::setTrayAlert(bool alert)
{
    m_host.setTrayAlert(alert);
}

void frmMain::setStopRepeat(bool visible, const QString &toolTip)
{
    if (!toolTip.isEmpty())
        StopRepeat->setToolTip(toolTip);
    StopRepeat->setVisible(visible);
}

std::optional<QString> frmMain::country(const QString &address)
{
    if (!m_country->fileExists())
        return std::nullopt;
    return m_country->getcountry(address);
}

void frmMain::clearLog()
{
    m_log->clear();
}

void frmMain::setListenToolTip(const QString &text)
{
    Image5->setToolTip(text);
}

void frmMain::enableAddressUpdater(bool on)
{
    if (!on)
        Timer2->stop();
    else if (!Timer2->isActive())
        Timer2->start();
}

void frmMain::runStartup()
{
    m_host.runStartup();
}

bool frmMain::isListening() const
{
    return m_listener->isListening();
}

QString frmMain::localAddress() const
{
    return Class1().NameToAddress(QString());
}

QDateTime frmMain::now() const
{
    return m_clock->currentDateTime();
}

QString frmMain::addressLabel() const
{
    return Label8->text();
}

void frmMain::setTray(bool busy, const QString &toolTip)
{
    m_host.setTrayBusy(busy, toolTip);
}

void frmMain::setBusyCursor(bool busy)
{
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void frmMain::listen()
{
    listenOnConfiguredPort();
}
