#pragma once

#include "alerts/SoundOutput.h"

#include <QSet>

#include <memory>

class SoundPlayer;

// The sound service on ALSA: files decoded by libsndfile, played on a thread of their own
// through the PCM device `deviceName`. Both uses share that thread, so a visit sound also cuts
// off a preview (which then reports previewFinished()).
class AlsaSoundOutput final : public SoundOutput
{
    Q_OBJECT
public:
    explicit AlsaSoundOutput(const QString &deviceName = QStringLiteral("default"), QObject *parent = nullptr);
    // Stops any sound at once and ends the playback thread.
    ~AlsaSoundOutput() override;

    void playAsync(const QString &fileName) override;
    void playPreview(const QString &fileName) override;

private:
    void onRequestDone(quint64 requestId);
    QSet<quint64> m_previews;
    std::unique_ptr<SoundPlayer> m_player;
};
