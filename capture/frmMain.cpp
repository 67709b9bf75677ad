#include "capture/frmMain.h"

#include "capture/EventLog.h"
#include "capture/RequestParsing.h"
#include "capture/VisitorList.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"
#include "dialogs/MessageBox.h"
#include "engine/VisitMonitor.h"
#include "publish/AddressFile.h"
#include "publish/OutsideAddresses.h"
#include "publish/UpdateCheck.h"

#include <QDir>
#include <QEvent>
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
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString UpdatePanelName = QStringLiteral("Update check");
// The window's designed size at the usual font; a larger font makes it larger.
constexpr QSize DesignSize(780, 600);

QIcon icon(const char *themeName)
{
    const QString name = QString::fromLatin1(themeName);
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/capture/icons/") + name + QStringLiteral(".svg")));
}

// A picture without text is named by its tool tip, for screen readers too.
void setIconToolTip(QWidget *widget, const QString &toolTip)
{
    widget->setToolTip(toolTip);
    widget->setAccessibleName(toolTip);
}

QToolButton *iconButton(QWidget *parent, const char *name, const char *themeIcon, const QString &toolTip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(icon(themeIcon));
    button->setIconSize(QSize(22, 22));
    setIconToolTip(button, toolTip);
    button->setAutoRaise(true);
    return button;
}

QLabel *iconLabel(QWidget *parent, const char *name, const char *themeIcon, const QString &toolTip)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(icon(themeIcon).pixmap(18, 18));
    setIconToolTip(label, toolTip);
    return label;
}
} // namespace

frmMain::frmMain(VisitMonitor &engine, QWidget *parent)
    : QWidget(parent)
    , m_engine(engine)
{
    Q_INIT_RESOURCE(icons);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vistelle"));
    buildWindow();
    connectEngine();
}

frmMain::~frmMain() = default;

void frmMain::buildWindow()
{
    Label8 = new QLabel(QStringLiteral(" Current IP:"), this);
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
    Label10->setAccessibleName(QStringLiteral("Help"));
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
        OutsideAddresses::read(m_engine.settings()).providerName + QStringLiteral(" Update"));
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
    // Screen readers name the log and the list by the headings above them.
    lblEvents->setBuddy(txtLog);
    txtLog->setAccessibleName(lblEvents->text());

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
    visitorsLabel->setObjectName(QStringLiteral("lblVisitors"));
    visitorsLabel->setFont(headingFont);
    visitorsLabel->setBuddy(widgets.iGrid1);
    widgets.iGrid1->setAccessibleName(visitorsLabel->text()); // a table does not ask its buddy
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
    cmdHistory = iconButton(this, "cmdHistory", "document-open-recent", QStringLiteral("History"));
    cmdHistory->setAccessibleName(QStringLiteral("History"));
    connect(cmdHistory, &QToolButton::clicked, this, &frmMain::historyRequested);
    visitorsBar->addWidget(cmdHistory);
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
    StatusBar1->addWidget(widgets.panel4, 1);
    panel5 = new QToolButton(this);
    panel5->setObjectName(QStringLiteral("panel5"));
    panel5->setAutoRaise(true);
    panel5->setToolButtonStyle(Qt::ToolButtonTextOnly);
    panel5->setEnabled(false);
    panel5->setAccessibleName(UpdatePanelName);
    lblRelay = new QLabel(this);
    lblRelay->setObjectName(QStringLiteral("lblRelay"));
    lblRelay->setTextFormat(Qt::PlainText);
    lblRelay->hide();
    StatusBar1->addPermanentWidget(lblRelay);
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
    fitToContents();

    m_visitors = new VisitorList(widgets, { m_engine.connection(), {}, {} }, &m_engine.visitorModel(), this);
    // Room for the locale's short date and time, and for an address followed by its country.
    const QFontMetrics metrics(widgets.iGrid1->font());
    const QString sampleTime
        = QLocale().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
    widgets.iGrid1->setColumnWidth(0, metrics.horizontalAdvance(sampleTime) + 24);
    widgets.iGrid1->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("255.255.255.255 Netherlands")) + 16);
    widgets.iGrid1->setColumnWidth(2, 200); // the last column stretches over the rest
}

void frmMain::fitToContents()
{
    // Fixed (the container can be neither resized nor maximised), yet as large as the contents
    // need at the user's font and scale, so the status bar is never cut off.
    ensurePolished();
    setFixedSize(sizeHint().expandedTo(minimumSizeHint()).expandedTo(DesignSize));
}

void frmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitToContents();
}

void frmMain::connectEngine()
{
    m_log = new EventLog(m_engine.log(), txtLog, this);
    connect(Image2, &QToolButton::clicked, &m_engine.log(), &EventLogLines::clear);
    connect(Image5, &QToolButton::clicked, &m_engine, &VisitMonitor::listenIfOnline);

    connect(&m_engine, &VisitMonitor::visitListed, m_visitors, &VisitorList::showVisit);
    connect(&m_engine, &VisitMonitor::stopRepeatChanged, this, &frmMain::setStopRepeat);
    connect(&m_engine, &VisitMonitor::addressCaptionChanged, Label8, &QLabel::setText);
    Label8->setText(m_engine.addressCaption());
    connect(&m_engine, &VisitMonitor::connectionShown, this, [this](bool online) {
        Connectionon->setVisible(online);
        Connectionoff->setVisible(!online);
    });
    connect(&m_engine, &VisitMonitor::listenToolTipChanged, this,
        [this](const QString &text) { setIconToolTip(Image5, text); });
    connect(&m_engine, &VisitMonitor::busyChanged, this, &frmMain::setBusyCursor);
    connect(&m_engine, &VisitMonitor::relayStateChanged, this, [this](const QString &state) {
        lblRelay->setText(state);
        lblRelay->setAccessibleName(QStringLiteral("Relay state"));
        lblRelay->setVisible(!state.isEmpty());
    });

    UpdateCheck &updateCheck = m_engine.updateCheck();
    connect(&updateCheck, &UpdateCheck::panelTextChanged, panel5, [this](const QString &text) {
        panel5->setText(text);
        panel5->setAccessibleName(text.isEmpty() ? UpdatePanelName : text);
    });
    connect(&updateCheck, &UpdateCheck::panelToolTipChanged, panel5, &QToolButton::setToolTip);
    connect(&updateCheck, &UpdateCheck::panelEnabledChanged, panel5, &QToolButton::setEnabled);
    connect(panel5, &QToolButton::clicked, &updateCheck, &UpdateCheck::Panel_Click);
}

void frmMain::load()
{
    if (m_engine.isLoaded())
        return;
    m_engine.load();
    move(0, 0);
}

bool frmMain::isLoaded() const
{
    return m_engine.isLoaded();
}

void frmMain::PutLog(const QString &eventtxt)
{
    m_engine.PutLog(eventtxt);
}

void frmMain::ListenOnPort(qint16 PortNum)
{
    m_engine.ListenOnPort(PortNum);
}

void frmMain::listenOnConfiguredPort()
{
    m_engine.listenOnConfiguredPort();
}

QString frmMain::addressFileName()
{
    return AddressFile::fileName();
}

void frmMain::WRITEIP()
{
    m_engine.WRITEIP();
}

QString frmMain::getcountry(const QString &ip)
{
    return m_engine.getcountry(ip);
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

void frmMain::enablePublisher()
{
    m_engine.enablePublisher();
}

void frmMain::setAddressCaption(const QString &text)
{
    m_engine.setAddressCaption(text);
}

void frmMain::Image4_Click()
{
    if (!m_engine.connection()->query().online) {
        MessageBox::information(
            this, QStringLiteral("Vistelle"), QStringLiteral("You are not connected to the Internet"));
        return;
    }
    emit hostManagerRequested();
}

void frmMain::Label10_Click()
{
    emit documentRequested(Paths::findDataFile(QStringLiteral("vistelle.htm")));
}

void frmMain::setStopRepeat(bool visible, const QString &toolTip)
{
    if (!toolTip.isEmpty())
        setIconToolTip(StopRepeat, toolTip);
    StopRepeat->setVisible(visible);
}

void frmMain::setBusyCursor(bool busy)
{
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}
