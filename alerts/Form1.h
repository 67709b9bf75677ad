#pragma once

#include "alerts/Mixer.h"
#include "alerts/Module1.h"

#include <QDialog>

#include <functional>
#include <memory>

class MixerSession;
class PreviewPlay;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;
class SoundOutput;

// "Master Volume Control": the master output volume on the mixer, and a test play of the
// selected rule's sound. The mixer is opened by load() and closed with the window; the window
// deletes itself when closed.
class Form1 final : public QDialog
{
    Q_OBJECT
public:
    // selectedSound: the sound file of the rule selected in the settings window.
    Form1(std::unique_ptr<IMixer> mixer, SoundOutput *sound, std::function<QString()> selectedSound,
        QWidget *parent = nullptr);
    ~Form1() override;

    // Opens the mixer and finds the master volume, on the mixer's own thread; then loaded().
    // "Couldn't open the mixer." when it cannot be opened; no master volume leaves Label1 empty,
    // without a message.
    void load();

    const Module1::VolumeControl &volumeControl() const { return m_control; }

signals:
    // The mixer was opened, or could not be, and the window shows what it found.
    void loaded();
    // A volume setting was carried out (done) or refused by the mixer.
    void volumeSet(bool done);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Command1_Click();
    void Slider1_Change(int value);
    void refreshSoundFile();

    void showMixer(bool opened, const Module1::VolumeControl &control);

    MixerSession *m_mixer = nullptr;
    std::function<QString()> m_selectedSound;
    PreviewPlay *m_preview;
    Module1::VolumeControl m_control;

    QSlider *Slider1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr; // "Set"
    QLabel *Label1 = nullptr; // the range
    QLineEdit *label2 = nullptr; // the selected rule's sound file
    QToolButton *Command2 = nullptr; // "Play Current Sound"
    QPushButton *Command3 = nullptr; // "Close"
};
