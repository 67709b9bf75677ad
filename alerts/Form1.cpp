#include "alerts/Form1.h"

#include "alerts/AlertIcons.h"
#include "alerts/MixerSession.h"
#include "alerts/PreviewPlay.h"
#include "dialogs/MessageBox.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

Form1::Form1(std::unique_ptr<IMixer> mixer, SoundOutput *sound, std::function<QString()> selectedSound, QWidget *parent)
    : QDialog(parent)
    , m_mixer(new MixerSession(std::move(mixer), this))
    , m_selectedSound(std::move(selectedSound))
    , m_preview(new PreviewPlay(sound, this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Master Volume Control"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *rangeLabel = new QLabel(QStringLiteral("Range:"), this);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    rangeLabel->setBuddy(Label1);
    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setRange(0, 65535);
    Slider1->setAccessibleName(QStringLiteral("Master volume"));
    auto *valueLabel = new QLabel(QStringLiteral("Volume:"), this);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setMaxLength(64);
    valueLabel->setBuddy(Text1);
    Text1->setAccessibleName(QStringLiteral("Volume"));
    Command1 = new QPushButton(QStringLiteral("Set"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto *soundLabel = new QLabel(QStringLiteral("Sound:"), this);
    label2 = new QLineEdit(this);
    label2->setObjectName(QStringLiteral("label2"));
    label2->setReadOnly(true);
    soundLabel->setBuddy(label2);
    label2->setAccessibleName(QStringLiteral("Sound"));
    Command2 = new QToolButton(this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setIcon(AlertIcons::buttonIcon("media-playback-start"));
    Command2->setToolTip(QStringLiteral("Play Current Sound"));
    Command2->setAccessibleName(QStringLiteral("Play Current Sound"));
    Command2->setAutoRaise(true);
    Command3 = new QPushButton(QStringLiteral("Close"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    for (QPushButton *b : { Command1, Command3 })
        b->setAutoDefault(false);

    connect(m_mixer, &MixerSession::loaded, this, &Form1::showMixer);
    connect(m_mixer, &MixerSession::volumeSet, this, &Form1::volumeSet);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Text1, &QLineEdit::returnPressed, this, &Form1::Command1_Click);
    connect(Command2, &QToolButton::clicked, this, [this] { m_preview->start(label2->text()); });
    connect(Command3, &QPushButton::clicked, this, &QDialog::close);
    connect(m_preview, &PreviewPlay::busyChanged, this, [this](bool busy) {
        if (busy)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });

    auto *grid = new QGridLayout;
    grid->addWidget(rangeLabel, 0, 0);
    grid->addWidget(Label1, 0, 1, 1, 3);
    grid->addWidget(Slider1, 1, 0, 1, 4);
    grid->addWidget(valueLabel, 2, 0);
    grid->addWidget(Text1, 2, 1);
    grid->addWidget(Command1, 2, 2);
    grid->addWidget(soundLabel, 3, 0);
    grid->addWidget(label2, 3, 1, 1, 2);
    grid->addWidget(Command2, 3, 3);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command3);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    resize(420, sizeHint().height());
}

Form1::~Form1() = default; // the session closes the mixer on its thread

void Form1::load()
{
    m_mixer->load(Module1::MixerCard);
}

void Form1::showMixer(bool opened, const Module1::VolumeControl &control)
{
    if (!opened) {
        MessageBox::information(this, QStringLiteral("Vistelle"), QStringLiteral("Couldn't open the mixer."));
        emit loaded();
        return;
    }
    if (!control.isValid()) {
        emit loaded();
        return;
    }
    m_control = control;
    Label1->setText(Module1::rangeText(m_control.range));
    // The slider spans the control's range; placing it is no move of the user's.
    const QSignalBlocker blocker(Slider1);
    const auto toInt = [](long v) { return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX)); };
    Slider1->setRange(toInt(m_control.range.minimum), toInt(m_control.range.maximum));
    const int span = Slider1->maximum() - Slider1->minimum();
    Slider1->setSingleStep(std::max(1, span / 100));
    Slider1->setPageStep(std::max(1, span / 10));
    // The window opens on the volume in force, not on a value of its own.
    Slider1->setValue(toInt(m_control.current));
    Text1->setText(QString::number(m_control.current));
    emit loaded();
}

void Form1::Command1_Click()
{
    if (!m_control.isValid())
        return;
    const std::optional<long> value = Module1::volumeFromText(Text1->text(), m_control.range);
    if (!value) {
        // Nothing is set from a text that is no volume: a typing slip must not mute the desktop.
        QPointer<Form1> self(this);
        MessageBox::information(this, windowTitle(),
            QStringLiteral("Enter a whole number from %1.").arg(Module1::rangeText(m_control.range)), [self](auto) {
                if (self) {
                    self->Text1->setFocus();
                    self->Text1->selectAll();
                }
            });
        return;
    }
    {
        const QSignalBlocker blocker(Slider1);
        Slider1->setValue(static_cast<int>(std::clamp<long>(*value, INT_MIN, INT_MAX)));
    }
    m_mixer->setVolume(m_control, *value);
}

void Form1::Slider1_Change(int value)
{
    Text1->setText(QString::number(value));
    Command1_Click();
}

void Form1::refreshSoundFile()
{
    label2->setText(m_selectedSound ? m_selectedSound() : QString());
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshSoundFile();
    QDialog::changeEvent(event);
}

void Form1::showEvent(QShowEvent *event)
{
    refreshSoundFile();
    QDialog::showEvent(event);
}
