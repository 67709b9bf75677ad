#pragma once

#include "alerts/Mixer.h"
#include "alerts/Module1.h"

#include <QObject>

#include <memory>

class QThread;

// One volume window's mixer, worked on a thread of its own: opening the mixer, finding the
// master volume and setting it never wait on the caller's thread, so a sound server that does
// not answer stalls this thread only, never the window. Requests run in the order they were made;
// of several volume settings still waiting only the newest is carried out (a slider drag).
class MixerSession final : public QObject
{
    Q_OBJECT
public:
    explicit MixerSession(std::unique_ptr<IMixer> mixer, QObject *parent = nullptr);
    // Closes the mixer on its thread, which then ends; nothing here waits for it.
    ~MixerSession() override;

    // Opens the card's mixer and looks for the master volume; loaded() tells the outcome.
    void load(const QString &card);
    // Sets the control to value (clamped into its range); volumeSet() tells the outcome.
    void setVolume(const Module1::VolumeControl &control, long value);

signals:
    // opened: the mixer could be opened; control: the master volume, not valid when none.
    void loaded(bool opened, const Module1::VolumeControl &control);
    void volumeSet(bool done);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr; // lives on m_thread
};
