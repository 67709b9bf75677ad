#include "alerts/PreviewPlay.h"

#include "alerts/SoundOutput.h"

#include <QHash>
#include <QList>
#include <QPointer>

#include <functional>

namespace {
// Every preview of an output ends with one previewFinished(), in the order the previews were
// started (a later one cuts an earlier one off first). So the windows previewing through one
// output queue up, and each signal ends the busy state of the window at the front: a window's
// preview cut off by another window's leaves that other window busy.
QHash<const SoundOutput *, QList<QPointer<PreviewPlay>>> &queues()
{
    static QHash<const SoundOutput *, QList<QPointer<PreviewPlay>>> perOutput;
    return perOutput;
}

void enqueue(SoundOutput *sound, PreviewPlay *play, const std::function<void(PreviewPlay *)> &finish)
{
    auto &all = queues();
    if (!all.contains(sound)) {
        QObject::connect(sound, &SoundOutput::previewFinished, sound, [sound, finish] {
            QList<QPointer<PreviewPlay>> &queue = queues()[sound];
            if (queue.isEmpty())
                return;
            const QPointer<PreviewPlay> front = queue.takeFirst();
            if (front)
                finish(front);
        });
        QObject::connect(sound, &QObject::destroyed, [sound] { queues().remove(sound); });
    }
    all[sound].append(play);
}
} // namespace

PreviewPlay::PreviewPlay(SoundOutput *sound, QObject *parent)
    : QObject(parent)
    , m_sound(sound)
{ }

bool PreviewPlay::start(const QString &fileName)
{
    if (m_busy || !m_sound)
        return false;
    m_busy = true;
    emit busyChanged(true);
    enqueue(m_sound, this, [](PreviewPlay *play) { play->onFinished(); });
    m_sound->playPreview(fileName);
    return true;
}

void PreviewPlay::onFinished()
{
    if (!m_busy)
        return;
    m_busy = false;
    emit busyChanged(false);
}
