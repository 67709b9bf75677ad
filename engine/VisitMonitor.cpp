#include "engine/VisitMonitor.h"

#include "alerts/SoundOutput.h"
#include "capture/CountryLookup.h"
#include "capture/EventLogLines.h"
#include "capture/TlsCredentials.h"
#include "capture/VisitProcessor.h"
#include "core/AcmeChallenges.h"
#include "core/Console.h"
#include "core/Conversions.h"
#include "core/FileLimits.h"
#include "core/LogSink.h"
#include "core/ProcessMemory.h"
#include "core/SettingsStore.h"
#include "engine/RelayLink.h"
#include "history/HistoryStore.h"
#include "nettools/Class1.h"
#include "publish/AddressFile.h"
#include "publish/BackgroundTask.h"
#include "publish/CertificateKeeper.h"
#include "publish/DayChangeNote.h"
#include "publish/KeyringPassword.h"
#include "publish/OutsideAddresses.h"
#include "publish/RemoteScriptPublisher.h"
#include "publish/UpdateCheck.h"
#include "publish/modXMLHTTP.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTimer>

#include <limits>

namespace {
const QString CurrentIp = QStringLiteral(" Current IP:");
} // namespace

// The certificate files a check looks at: written and read by the check in progress only.
struct TlsFilesSlot
{
    TlsCredentials::Files files;
};

VisitMonitor::VisitMonitor(Services services, QObject *parent)
    : QObject(parent)
    , m_clock(services.clock)
    , m_settings(services.settings ? services.settings : &SettingsStore::instance())
    , m_connection(services.connection ? services.connection : std::make_shared<NetworkManagerConnectionState>())
    , m_ownStartup(services.startup ? nullptr : std::make_unique<StartupState>())
    , m_startup(services.startup ? services.startup : m_ownStartup.get())
    , m_sound(services.sound)
    , m_addressCaption(CurrentIp)
{
    // The event log: every class below the windows writes to it through LogMsg.
    m_log = new EventLogLines(*m_clock, EventLogLines::DefaultMaxLines, this);
    // Headless, every line also goes to standard output at once.
    m_log->setKeepLines(!Console::isHeadless());
    connect(m_log, &EventLogLines::lineAdded, this, [](const QString &line) { Console::writeLine(line); });
    connect(&Logger::instance(), &Logger::messageAdded, this, &VisitMonitor::PutLog);

    m_model = new VisitorListModel(this);
    // Headless, the console shows each row as it comes: the list need not keep them.
    m_model->setNewestRowOnly(Console::isHeadless());

    m_listener = new Listener(*m_clock, services.listenerLimits, this);
    connect(m_listener, &Listener::requestFinished, this, &VisitMonitor::onRequestFinished);
    connect(m_listener, &Listener::acceptError, this, &VisitMonitor::onAcceptError);
    connect(m_listener, &Listener::tlsRefused, this,
        [this] { PutLog(QStringLiteral("TLS connection refused: no certificate configured")); });
    connect(m_listener, &Listener::descriptorsExhausted, this, [this] {
        PutLog(QStringLiteral("Out of file descriptors (limit on open files: %1): idle connections are closed "
                              "to serve new visitors")
                   .arg(FileLimits::current()));
    });
    connect(m_listener, &Listener::tlsHandshakeFailed, this, [this](const QString &reason) {
        PutLog(QStringLiteral("TLS handshake failed: ") + reason);
        // Failed handshakes (a flood of them) leave memory behind as visits do.
        if (!m_memoryTimer->isActive())
            m_memoryTimer->start();
        // The first of a run is told where the user looks; a TLS visit later resolves it.
        if (!m_handshakeTroubleTold) {
            m_handshakeTroubleTold = true;
            setCertificateTrouble(QStringLiteral("A browser refused the TLS connection (") + reason
                + QStringLiteral("): is the certificate valid for the watched pages' address?"));
        }
    });

    // TLS: the files of TlsCertFile and TlsKeyFile, else the certificate the keeper obtained for
    // AcmeDomain; the keeper's HTTP-01 answers are served by the listener.
    m_challenges = std::make_shared<AcmeChallenges>();
    m_tlsFiles = std::make_shared<TlsFilesSlot>();
    m_tls = std::make_shared<TlsCredentials>([files = m_tlsFiles] { return files->files; }, *m_clock);
    m_listener->setTlsConfiguration([this] {
        checkTlsFiles();
        return m_tlsConfiguration;
    });
    // A handshake that comes while the files are being read, with no certificate yet, waits.
    m_listener->setTlsPending([this] { return m_tlsChecking && !m_tlsConfiguration; });
    m_listener->setAcmeChallenges(m_challenges);
    m_keeper = new CertificateKeeper(*m_settings, m_challenges, *m_clock, this);
    connect(m_keeper, &CertificateKeeper::failed, this, [this](const QString &domain, const QString &reason) {
        setCertificateTrouble(QStringLiteral("Could not obtain a TLS certificate for %1: %2").arg(domain, reason));
    });
    connect(m_keeper, &CertificateKeeper::finished, this, [this](bool ok) {
        if (ok)
            setCertificateTrouble(QString());
    });

    // The country index is built on a worker thread from the start; a visit before it is ready
    // (or while a changed file is read again) gets the answer of the index in use.
    m_country = std::make_unique<CountryLookup>(QString(), CountryLookup::Limits(), *m_clock);
    m_country->setBuilding(CountryLookup::Building::InBackground);
    m_country->checkFiles();

    if (services.history) {
        const QString file = services.historyFile.isEmpty() ? HistoryStore::defaultFileName() : services.historyFile;
        m_history = std::make_unique<HistoryStore>(file, *m_settings, *m_clock);
    }
    m_visits = new VisitProcessor(*m_settings, *this, *this, *m_clock, this);
    m_visits->setRecorder(m_history.get());

    ConnectionMonitorProbes probes;
    probes.isListening = [this] { return m_listener->isListening(); };
    probes.localAddress = [] { return Class1().NameToAddress(QString()); };
    m_monitor = new ConnectionMonitor(m_connection, *m_startup, *this, std::move(probes), *m_settings, *m_clock, this);

    m_updateCheck = new UpdateCheck(m_settings, this);
    m_updateCheck->setOpenDocument([this](const QUrl &url) { emit openDocumentRequested(url.toString()); });
    if (services.keyring) {
        m_keyring
            = new KeyringPassword(*m_settings, KeyringPassword::Key, QStringLiteral("dynamic-DNS password"), this);
        m_keyring->start();
        m_relayKeyring
            = new KeyringPassword(*m_settings, KeyringPassword::RelayKey, QStringLiteral("relay password"), this);
        m_relayKeyring->start();
    }
    m_updater = new AddressUpdater(*m_settings, m_connection, m_updateCheck, *this, *m_clock, this);

    m_publisher = new RemoteScriptPublisher(m_settings, m_connection, this);
    connect(m_publisher, &RemoteScriptPublisher::restoreWindowRequested, this, &VisitMonitor::restoreWindowRequested);

    m_dayNote = new DayChangeNote(*m_clock, this);
    m_dayNote->timer()->stop(); // runs from the loading

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(ConnectionMonitor::IntervalMs);
    connect(Timer1, &QTimer::timeout, m_monitor, &ConnectionMonitor::Timer1_Timer);
    // Once visits have come for a while, the memory their oldest list rows and log lines left
    // behind goes back to the system.
    m_memoryTimer = new QTimer(this);
    m_memoryTimer->setSingleShot(true);
    m_memoryTimer->setInterval(MemoryReturnMs);
    connect(m_memoryTimer, &QTimer::timeout, this, [] { ProcessMemory::returnFreed(); });

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(AddressUpdater::IntervalMs);
    connect(Timer2, &QTimer::timeout, m_updater, &AddressUpdater::Timer2_Timer);
    connect(Timer2, &QTimer::timeout, this, &VisitMonitor::checkCertificateExpiry);

    checkTlsFiles();

    // Problems met with the settings file before the engine existed (one set aside as damaged).
    for (const QString &line : Logger::instance().takeWaiting())
        PutLog(line);
}

VisitMonitor::~VisitMonitor()
{
    shutDown();
}

void VisitMonitor::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_visits->resetRecentVisits();
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
                if (m_addressCaption == CurrentIp)
                    setAddressLabel(CurrentIp + address);
            });
    } else {
        setAddressLabel(CurrentIp + AddressFile::read(AddressFile::fileName()));
    }

    // The address updater needs the account's password: its first tick waits for the keyring.
    if (!m_keyring || m_keyring->isReady()) {
        m_updater->Timer2_Timer();
        Timer2->start();
    } else {
        connect(m_keyring, &KeyringPassword::ready, this, [this] {
            if (m_loaded && !Timer2->isActive()) {
                m_updater->Timer2_Timer();
                Timer2->start();
            }
        });
    }
    m_monitor->setFirstConnectedTick();

    // Logged for "1" and for a missing or non-numeric value; not for any other number.
    const QString usedyndns = m_settings->GetSetting(QStringLiteral("usedyndns"));
    if (!Conversions::isNumeric(usedyndns) || Conversions::leadingNumber(usedyndns) == 1.0)
        PutLog(QStringLiteral("If needed, IP will be updated in 60 seconds..."));

    Timer1->start();
    m_dayNote->timer()->start();
    startRelay();
}

void VisitMonitor::startRelay()
{
    // The broker password may come from the keyring.
    if (m_relayKeyring && !m_relayKeyring->isReady()) {
        connect(m_relayKeyring, &KeyringPassword::ready, this, [this] {
            if (m_loaded && !m_shutDown && !m_relay)
                startRelay();
        });
        return;
    }
    m_relay = new RelayLink(*m_settings, m_history.get(), *m_clock, this);
    m_relay->onVisit = [this](const RelayedVisit &visit, bool announce) {
        const Console::LineBatch lines;
        m_listedRow = -1;
        m_visits->takeRelayed(visit, announce);
        writeListLine();
    };
    m_relay->onBacklog = [this](int count, const QString &topPage) { m_visits->announceBacklog(count, topPage); };
    connect(m_relay, &RelayLink::stateChanged, this, &VisitMonitor::relayStateChanged);
    m_relay->start();
}

void VisitMonitor::restartRelay()
{
    if (!m_loaded || m_shutDown)
        return;
    delete m_relay;
    m_relay = nullptr;
    startRelay();
    emit relayStateChanged(relayState());
}

QString VisitMonitor::relayState() const
{
    return m_relay ? m_relay->stateText() : QString();
}

void VisitMonitor::PutLog(const QString &eventtxt)
{
    m_log->PutLog(eventtxt);
}

void VisitMonitor::ListenOnPort(qint16 PortNum)
{
    PutLog(QStringLiteral("Listening for connections on port: ") + QString::number(PortNum));
    QString error;
    if (!m_listener->listen(PortNum, &error)) {
        PutLog(QStringLiteral("Bind error: ") + error);
        m_listeningPort = -1;
        m_listenProblem = listenProblemText(PortNum, m_listener->lastListenError(), error);
        PutLog(m_listenProblem);
        emit listenProblemChanged(m_listenProblem);
        return;
    }
    m_listeningPort = PortNum;
    if (!m_listenProblem.isEmpty()) {
        m_listenProblem.clear();
        emit listenProblemChanged(QString());
    }
    // Certificates are ordered once the listener can answer the CA's challenges.
    if (!m_keeperStarted) {
        m_keeperStarted = true;
        m_keeper->start();
    }
}

QString VisitMonitor::listenProblemText(qint16 port, QAbstractSocket::SocketError error, const QString &description)
{
    const QString number = QString::number(port);
    if (error == QAbstractSocket::SocketAccessError && port > 0 && port < 1024)
        return QStringLiteral("Port %1 needs the permission to use ports below 1024: choose a port from 1024 in "
                              "Settings, or run: sudo setcap cap_net_bind_service=+ep %2")
            .arg(number, QCoreApplication::applicationFilePath());
    if (error == QAbstractSocket::AddressInUseError)
        return QStringLiteral("Port %1 is used by another program: choose another port in Settings, or end that "
                              "program")
            .arg(number);
    return QStringLiteral("Vistelle cannot listen on port %1 (%2): choose another port in Settings")
        .arg(number, description);
}

QString VisitMonitor::stateLine() const
{
    if (!m_listenProblem.isEmpty())
        return m_listenProblem;
    if (!m_certificateTrouble.isEmpty())
        return m_certificateTrouble;
    if (m_listeningPort < 0)
        return QStringLiteral("Not listening");
    const QString visits
        = m_visitDay == m_clock->currentDateTime().date() ? QString::number(m_visitsToday) : QStringLiteral("0");
    QString line = QStringLiteral("Listening on port %1 \u00b7 %2 visits today").arg(m_listeningPort).arg(visits);
    if (!relayState().isEmpty())
        line += QStringLiteral(" \u00b7 ") + relayState();
    return line;
}

void VisitMonitor::checkTlsFiles()
{
    const qint64 now = m_clock->monotonicMs();
    // Asked at every connection's first read: a look at the clock, nothing more, until a check is
    // due.
    if (m_tlsChecking || (m_tlsChecked && now - m_tlsCheckStartedMs < TlsCheckIntervalMs && now >= m_tlsCheckStartedMs))
        return;
    m_tlsChecking = true;
    m_tlsCheckStartedMs = now;
    // The settings are read here; the files are looked at on the pool.
    const QString certificate = m_settings->GetSetting(QStringLiteral("TlsCertFile")).trimmed();
    const QString key = m_settings->GetSetting(QStringLiteral("TlsKeyFile")).trimmed();
    const bool acme = !m_settings->GetSetting(QStringLiteral("AcmeDomain")).trimmed().isEmpty();
    struct Loaded
    {
        std::optional<QSslConfiguration> configuration;
        QList<QSslCertificate> chain;
    };
    runInBackground<Loaded>(
        this,
        [tls = m_tls, slot = m_tlsFiles, certificate, key, acme] {
            // TlsCertFile and TlsKeyFile, else the certificate the keeper obtained for AcmeDomain.
            TlsCredentials::Files files { certificate, key };
            if (certificate.isEmpty() && key.isEmpty() && acme && QFile::exists(CertificateKeeper::certificateFile()))
                files = { CertificateKeeper::certificateFile(), CertificateKeeper::keyFile() };
            slot->files = files;
            tls->refresh();
            return Loaded { tls->loadedConfiguration(), tls->chain() };
        },
        [this](const Loaded &loaded) {
            m_tlsConfiguration = loaded.configuration;
            m_tlsChain = loaded.chain;
            m_tlsChecking = false;
            m_tlsChecked = true;
            m_listener->tlsConfigurationReady();
        });
}

void VisitMonitor::setCertificateTrouble(const QString &trouble)
{
    if (trouble == m_certificateTrouble)
        return;
    m_certificateTrouble = trouble;
    emit certificateTroubleChanged(trouble);
}

void VisitMonitor::checkCertificateExpiry()
{
    const QList<QSslCertificate> chain = m_tlsChain;
    if (chain.isEmpty())
        return;
    const QDateTime expiry = chain.first().expiryDate();
    const QDateTime now = m_clock->currentDateTime();
    if (expiry > now.addDays(CertificateWarningDays)) {
        if (m_certificateTrouble.startsWith(ExpiryTroublePrefix))
            setCertificateTrouble(QString());
        return;
    }
    if (m_certificateTrouble.isEmpty())
        setCertificateTrouble(ExpiryTroublePrefix
            + QStringLiteral(" expires on %1: renew it, or let Vistelle obtain one (AcmeDomain)")
                  .arg(QLocale().toString(expiry.toLocalTime(), QLocale::ShortFormat)));
}

void VisitMonitor::listenOnConfiguredPort()
{
    const QString text = m_settings->GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80"));
    const std::optional<qint16> port = Conversions::toInt16(Conversions::leadingNumber(text));
    if (port)
        ListenOnPort(*port);
}

void VisitMonitor::listenIfOnline()
{
    if (m_connection->query().online)
        listenOnConfiguredPort();
}

void VisitMonitor::WRITEIP()
{
    // The address after the label's "IP:"; a status text leaves the file empty.
    QString error;
    if (!AddressFile::write(AddressFile::addressInCaption(m_addressCaption), &error, AddressFile::fileName()))
        PutLog(QStringLiteral("Error saving the address file: ") + error);
}

QString VisitMonitor::getcountry(const QString &ip)
{
    return m_country->getcountry(ip);
}

void VisitMonitor::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_loaded)
        WRITEIP();
    Timer1->stop();
    Timer2->stop();
    m_publisher->disable();
    m_dayNote->timer()->stop();
    m_listener->close();
    delete m_relay;
    m_relay = nullptr;
    // The visits still waiting are written now.
    m_visits->setRecorder(nullptr);
    m_history.reset();
}

void VisitMonitor::enablePublisher()
{
    m_publisher->enable();
}

void VisitMonitor::onRequestFinished(const QByteArray &request, const QString &remoteAddress, bool tls)
{
    const Console::LineBatch lines; // the visit's lines leave in one write
    if (!m_memoryTimer->isActive())
        m_memoryTimer->start();
    m_listedRow = -1;
    m_visits->WS_Close(QString::fromUtf8(request), remoteAddress, tls);
    // A TLS visit came through: a refused handshake noted earlier was that browser's matter.
    if (tls && m_certificateTrouble.startsWith(HandshakeTroublePrefix))
        setCertificateTrouble(QString());
    writeListLine();
}

void VisitMonitor::writeListLine()
{
    if (!Console::isHeadless() || m_listedRow < 0 || m_listedRow >= m_model->rowCount())
        return;
    // Headless, the visit's row also goes to standard output (made plain there), as the popup does.
    const int row = m_listedRow;
    Console::writeLine(QStringLiteral("List: ") + m_model->cellText(row, 0) + QStringLiteral(" | ")
        + m_model->cellText(row, 1) + QStringLiteral(" | ") + m_model->cellText(row, 2));
}

void VisitMonitor::onAcceptError(const QString &description)
{
    PutLog(QStringLiteral("Winsock warning: ") + description);
    listenOnConfiguredPort();
    enablePublisher();
    PutLog(QStringLiteral("Click on 'Listen on Port' Icon above events log"));
}

bool VisitMonitor::dynamicDnsOff() const
{
    return Conversions::trimmedEquals(m_settings->GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
}

int VisitMonitor::addVisit(const QDateTime &time, const QString &address, const QString &page, VisitKind kind)
{
    if (kind == VisitKind::Own) {
        if (Conversions::truthValue(m_settings->GetSetting(QStringLiteral("HideOwnVisits"))).value_or(false)) {
            m_model->countOwnVisit();
            emit visitListed(false, false);
            return -1;
        }
    } else {
        if (time.date() != m_visitDay) {
            m_visitDay = time.date();
            m_visitsToday = 0;
        }
        ++m_visitsToday;
    }
    const VisitorListModel::Counted counted = m_model->addVisit(time, address, page, kind);
    m_listedRow = m_model->rowCount() - 1;
    emit visitListed(counted.newAddress, counted.newPage);
    return m_listedRow;
}

void VisitMonitor::alertsComing(const QDateTime &time, const QString &address, const QString &page)
{
    m_announcedAddress = address;
    m_announcedPage = page;
    // The popup and the sound that follow belong to this visit: the gate says which may come.
    if (const quint64 generation = m_settings->generation(); generation != m_gateSettingsGeneration) {
        m_gateSettings = AlertGate::Settings::read(*m_settings);
        m_gateSettingsGeneration = generation;
    }
    m_visitAlerts = m_gate.onVisit(m_clock->monotonicMs(), time, page, m_gateSettings);
}

void VisitMonitor::appendCountry(int row, const QString &country)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    m_model->setAddressText(row, m_model->row(row).ip + u' ' + country);
}

void VisitMonitor::playSound(const QString &fileName)
{
    if (m_sound && !alertsPaused() && m_visitAlerts.sound)
        m_sound->playAsync(fileName);
}

void VisitMonitor::showPopup(const QString &caption, const QString &subcaption)
{
    if (alertsPaused() || !m_visitAlerts.popup)
        return;
    if (!m_visitAlerts.summary.isEmpty())
        emit popupRequested(QStringLiteral("Vistelle"), m_visitAlerts.summary);
    else
        emit popupRequested(caption, subcaption);
}

void VisitMonitor::pauseAlerts(qint64 forMs)
{
    m_pausedUntilMs = forMs < 0 ? std::numeric_limits<qint64>::max() : m_clock->monotonicMs() + forMs;
    PutLog(forMs < 0 ? QStringLiteral("Alerts paused until resumed")
                     : QStringLiteral("Alerts paused for %1 minutes").arg(forMs / 60'000));
    emit alertsPausedChanged(true);
}

void VisitMonitor::resumeAlerts()
{
    if (m_pausedUntilMs < 0)
        return;
    m_pausedUntilMs = -1;
    PutLog(QStringLiteral("Alerts resumed"));
    emit alertsPausedChanged(false);
}

bool VisitMonitor::alertsPaused() const
{
    if (m_pausedUntilMs < 0)
        return false;
    if (m_clock->monotonicMs() < m_pausedUntilMs)
        return true;
    // The pause ran out.
    const_cast<VisitMonitor *>(this)->resumeAlerts();
    return false;
}

std::optional<QString> VisitMonitor::country(const QString &address)
{
    // An address the files do not cover has no country: the popup then shows the address.
    const QString name = m_country->getcountry(address);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

void VisitMonitor::clearLog()
{
    m_log->clear();
}

void VisitMonitor::setAddressLabel(const QString &text)
{
    m_addressCaption = text;
    // The PC's public address as last learned: visits from it are the owner's own. A caption
    // showing an update's state keeps the address known before.
    if (const QString address = AddressFile::addressInCaption(text); !address.isEmpty())
        m_visits->classifier().setOwnAddress(address);
    emit addressCaptionChanged(text);
}

void VisitMonitor::enableAddressUpdater(bool on)
{
    if (!on)
        Timer2->stop();
    else if (!Timer2->isActive())
        Timer2->start();
}
