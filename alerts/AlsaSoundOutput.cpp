#include "alerts/AlsaSoundOutput.h"

#include "alerts/AlsaPcmSink.h"
#include "alerts/SoundPlayer.h"

#include <QFile>

AlsaSoundOutput::AlsaSoundOutput(const QString &deviceName, QObject *parent)
    : SoundOutput(parent)
{
    const std::string device = QFile::encodeName(deviceName).toStdString();
    SoundPlayer::Options options;
    options.sinkFactory = [device] { return std::make_unique<AlsaPcmSink>(device); };
    // Posted to this object's thread; a post still queued when this object goes is dropped by Qt.
    // The player is destroyed first and calls nothing after that.
    m_player = std::make_unique<SoundPlayer>(std::move(options), [this](quint64 id) {
        QMetaObject::invokeMethod(
            this, [this, id] { onRequestDone(id); }, Qt::QueuedConnection);
    });
}

AlsaSoundOutput::~AlsaSoundOutput() = default;

void AlsaSoundOutput::playAsync(const QString &fileName)
{
    m_player->play(fileName);
}

void AlsaSoundOutput::playPreview(const QString &fileName)
{
    m_previews.insert(m_player->play(fileName));
}

void AlsaSoundOutput::onRequestDone(quint64 requestId)
{
    if (m_previews.remove(requestId))
        emit previewFinished();
}
