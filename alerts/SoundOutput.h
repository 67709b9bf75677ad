#pragma once

#include <QObject>
#include <QString>

// The program's sound service. Visit processing plays through it, settings windows preview
// through it; tests substitute their own implementation.
//
// A file name is used as stored: a relative name is looked up in the user's data folder, then in
// the program's data folder. A missing or unreadable file plays the desktop's alert sound instead.
class SoundOutput : public QObject
{
    Q_OBJECT
public:
    explicit SoundOutput(QObject *parent = nullptr);
    ~SoundOutput() override;

    // Starts the sound and returns at once; a sound still playing is cut off and replaced.
    virtual void playAsync(const QString &fileName) = 0;
    // Plays the whole sound without blocking the caller; previewFinished() follows, on this
    // object's thread, once the sound has ended (or could not be played, or was replaced).
    virtual void playPreview(const QString &fileName) = 0;

signals:
    void previewFinished();
};
