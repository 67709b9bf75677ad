#pragma once

#include <QObject>
#include <QString>

class SoundOutput;

// A window's preview play: the whole sound plays on the sound output's thread while the window
// goes on; the window is busy until its sound has ended (or was cut off), and a second start
// meanwhile is ignored. Several windows may preview through one output: each is told about the
// end of its own sound.
class PreviewPlay final : public QObject
{
    Q_OBJECT
public:
    // sound may be null: nothing plays and nothing is ever busy.
    explicit PreviewPlay(SoundOutput *sound, QObject *parent = nullptr);

    // Starts playing fileName unless a preview of this object still plays. True when started.
    bool start(const QString &fileName);
    bool isBusy() const { return m_busy; }

signals:
    void busyChanged(bool busy);

private:
    void onFinished();

    SoundOutput *m_sound;
    bool m_busy = false;
};
