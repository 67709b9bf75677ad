#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <functional>
#include <optional>

class SettingsStore;

// The once-per-run update check and the update panel (panel 5, key "download", of the main
// window's status bar).
//
// run() starts the check on the user-interface thread: it shows "Checking for updates", reads the
// addresses of the status and version files from the store (UpdateStatusURL, UpdateVersionURL,
// CAFile), fetches both on a worker thread and, back on the user-interface thread, sets the
// panel and clears UpdateCheckPending. A failing fetch (transport error, time-out, certificate,
// an oversized answer or an answer that is not HTTP 2xx) leaves UpdateCheckPending set, empties
// the panel again with the reason in its tool tip and reports finished(false); the next run()
// tries again.
//
// The main window owns one instance, connects the three panel signals to its panel label and
// the panel's click to Panel_Click(), and gives it the desktop opener.
class UpdateCheck final : public QObject
{
    Q_OBJECT
public:
    // Opens an address with the desktop's handler.
    using OpenDocumentFn = std::function<void(const QUrl &)>;

    // settings: null for the program's store. UpdateCheckPending starts set (the main window
    // creates this when it starts loading).
    explicit UpdateCheck(SettingsStore *settings = nullptr, QObject *parent = nullptr);

    void setOpenDocument(OpenDocumentFn open) { m_openDocument = std::move(open); }
    // The time limit of each fetch (10 s normally).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // The running version text; by default that of the build.
    void setRunningVersion(const QString &version) { m_runningVersion = version; }
    QString runningVersion() const { return m_runningVersion; }

    bool UpdateCheckPending() const { return m_pending; }
    void setUpdateCheckPending(bool pending) { m_pending = pending; }
    bool isRunning() const { return m_running; }

    QString RemoteVersion() const { return m_remoteVersion; }
    QString DownloadAddress() const { return m_downloadAddress; }
    bool panelEnabled() const { return m_panelEnabled; }

    // "major.minor.revision" of the build, each a plain decimal number.
    static QString buildVersionText();
    // True when the remote version is newer than the running one: both are dot-separated decimal
    // numbers ("1.10.0"), compared number by number (1.10.0 is newer than 1.9.0; a missing part
    // counts as 0); blanks and line ends around them are ignored. A text that is not such a
    // version is never newer.
    static bool isNewer(const QString &remoteVersion, const QString &runningVersion);
    // The numbers of a version text without their leading zeros; nullopt when it is none.
    static std::optional<QList<QStringView>> versionNumbers(QStringView version);
    // The address the panel click may open: http or https with a host, blanks around it
    // removed; an invalid QUrl otherwise.
    static QUrl downloadUrl(const QString &downloadAddress);

public slots:
    // The update check. Does nothing while a check is already running.
    void run();
    // The update panel's click: opens DownloadAddress once the panel is enabled.
    void Panel_Click();

signals:
    void panelTextChanged(const QString &text);
    void panelToolTipChanged(const QString &toolTip);
    void panelEnabledChanged(bool enabled);
    // A check has ended: ok false when a fetch failed (UpdateCheckPending then stays set).
    void finished(bool ok);

private:
    struct Fetched
    {
        bool ok = false;
        QString remoteVersion;
        QString downloadAddress;
        QString error;
    };
    static Fetched fetch(const QString &statusUrl, const QString &versionUrl, const QString &caFile, int timeoutMs);
    void apply(const Fetched &fetched);
    void setPanel(const QString &text, const QString &toolTip, bool enabled);
    void log(const QString &text) const;

    SettingsStore *m_settings;
    OpenDocumentFn m_openDocument;
    int m_timeoutMs = 10000;
    QString m_runningVersion;

    bool m_pending = true;
    bool m_running = false;
    bool m_panelEnabled = false;
    QString m_remoteVersion;
    QString m_downloadAddress;
};
