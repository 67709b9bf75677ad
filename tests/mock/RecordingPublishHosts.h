#pragma once

#include "publish/HostManagerHost.h"
#include "publish/SettingsWindowHost.h"
#include "tests/mock/LogRecorder.h"

#include <QStringList>

#include <memory>

// Records what the server settings window asked of the program around it, in order
// ("showMainWindow", "listenOnPort 8080", "enablePublisher", "restartRelay", "openHostManager",
// "openDocument <address>").
class RecordingSettingsWindowHost final : public ISettingsWindowHost
{
public:
    void showMainWindow() override { calls << QStringLiteral("showMainWindow"); }
    void listenOnPort(qint16 port) override { calls << QStringLiteral("listenOnPort %1").arg(port); }
    void enablePublisher() override { calls << QStringLiteral("enablePublisher"); }
    void restartRelay() override { calls << QStringLiteral("restartRelay"); }
    void openHostManager() override { calls << QStringLiteral("openHostManager"); }
    void openDocument(const QString &pathOrUrl) override { calls << QStringLiteral("openDocument ") + pathOrUrl; }

    QStringList calls;
};

// Records what the host manager set on the main window.
class RecordingHostManagerHost final : public IHostManagerHost
{
public:
    void setAddressLabel(const QString &text) override { labels << text; }

    QStringList labels;
    // The event log's lines meanwhile.
    std::shared_ptr<LogRecorder> recorder = std::make_shared<LogRecorder>();
    const QStringList &log() const { return recorder->lines; }
};
