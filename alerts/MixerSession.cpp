#include "alerts/MixerSession.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <mutex>
#include <optional>

struct MixerSession::Shared
{
    std::unique_ptr<IMixer> mixer; // used on the session's thread only

    std::mutex mutex;
    struct Wanted
    {
        Module1::VolumeControl control;
        long value = 0;
    };
    std::optional<Wanted> wanted; // the newest volume not yet set
};

namespace {
// Runs fn on the thread of the application object when the session still exists then.
template <typename Fn> void reply(const QPointer<MixerSession> &session, Fn fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return; // the program is ending
    QMetaObject::invokeMethod(
        app,
        [session, fn = std::move(fn)] {
            if (session)
                fn(session.data());
        },
        Qt::QueuedConnection);
}
} // namespace

MixerSession::MixerSession(std::unique_ptr<IMixer> mixer, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
    , m_thread(new QThread)
    , m_worker(new QObject)
{
    m_shared->mixer = std::move(mixer);
    m_thread->setObjectName(QStringLiteral("Mixer"));
    m_worker->moveToThread(m_thread);
    // Both go once the thread has ended, whenever that is.
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_thread->start();
}

MixerSession::~MixerSession()
{
    QMetaObject::invokeMethod(
        m_worker,
        [shared = m_shared, thread = m_thread] {
            if (shared->mixer)
                shared->mixer->close();
            thread->quit();
        },
        Qt::QueuedConnection);
}

void MixerSession::load(const QString &card)
{
    QMetaObject::invokeMethod(
        m_worker,
        [shared = m_shared, session = QPointer<MixerSession>(this), card] {
            Module1::VolumeControl control;
            const bool opened = shared->mixer && shared->mixer->open(card);
            if (opened)
                Module1::GetVolumeControl(*shared->mixer, control);
            reply(session, [opened, control](MixerSession *s) { emit s->loaded(opened, control); });
        },
        Qt::QueuedConnection);
}

void MixerSession::setVolume(const Module1::VolumeControl &control, long value)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        const bool queued = m_shared->wanted.has_value();
        m_shared->wanted = Shared::Wanted { control, value };
        if (queued)
            return; // the waiting request sets the newest value
    }
    QMetaObject::invokeMethod(
        m_worker,
        [shared = m_shared, session = QPointer<MixerSession>(this)] {
            std::optional<Shared::Wanted> wanted;
            {
                const std::lock_guard lock(shared->mutex);
                wanted.swap(shared->wanted);
            }
            if (!wanted)
                return;
            const bool done
                = shared->mixer && Module1::SetVolumeControl(*shared->mixer, wanted->control, wanted->value);
            reply(session, [done](MixerSession *s) { emit s->volumeSet(done); });
        },
        Qt::QueuedConnection);
}
