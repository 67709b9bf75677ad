#include "alerts/Form2.h"

#include "alerts/AlertIcons.h"
#include "alerts/PreviewPlay.h"
#include "alerts/SoundFileDialog.h"
#include "alerts/SoundRules.h"
#include "alerts/frmSetNotifies.h"
#include "dialogs/MessageBox.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString Title = QStringLiteral("Vistelle");
}

Form2::Form2(frmSetNotifies &settingsWindow)
    : QDialog(&settingsWindow)
    , m_settingsWindow(settingsWindow)
    , m_preview(new PreviewPlay(settingsWindow.sound(), this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Add Page and Associated Sound"));
    setWindowModality(Qt::WindowModal);

    auto *label1 = new QLabel(QStringLiteral("If URL contains:"), this);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    label1->setBuddy(Text1);
    Text1->setAccessibleName(QStringLiteral("If URL contains"));
    auto *label2 = new QLabel(QStringLiteral("Play Sound:"), this);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    label2->setBuddy(Text2);
    Text2->setAccessibleName(QStringLiteral("Play Sound"));

    Command1 = new QPushButton(QStringLiteral(".."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(QStringLiteral("Add Sound File"));
    Command1->setAccessibleName(QStringLiteral("Add Sound File"));
    Command1->setFixedWidth(Command1->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    Command5 = new QToolButton(this);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setIcon(AlertIcons::buttonIcon("media-playback-start"));
    Command5->setToolTip(QStringLiteral("Play Current Sound"));
    Command5->setAccessibleName(QStringLiteral("Play Current Sound"));
    Command5->setAutoRaise(true);

    Command3 = new QPushButton(QStringLiteral("Add"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command2 = new QPushButton(QStringLiteral("Modify"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command4 = new QPushButton(QStringLiteral("Cancel"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    // Enter in a field must not press a button by chance.
    for (QPushButton *b : { Command1, Command3, Command2, Command4 })
        b->setAutoDefault(false);

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command5, &QToolButton::clicked, this, &Form2::Command5_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command4, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_preview, &PreviewPlay::busyChanged, this, [this](bool busy) {
        if (busy)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });

    auto *fields = new QGridLayout;
    fields->addWidget(label1, 0, 0);
    fields->addWidget(Text1, 0, 1, 1, 3);
    fields->addWidget(label2, 1, 0);
    fields->addWidget(Text2, 1, 1);
    fields->addWidget(Command1, 1, 2);
    fields->addWidget(Command5, 1, 3);
    fields->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Command3);
    buttons->addWidget(Command2);
    buttons->addStretch();
    buttons->addWidget(Command4);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    resize(480, sizeHint().height());
}

void Form2::showEvent(QShowEvent *event)
{
    if (m_settingsWindow.ruleCount() > 0) {
        Command2->setEnabled(true);
        if (const std::optional<int> row = m_settingsWindow.selectedRow()) {
            const UrlSoundRule rule = m_settingsWindow.rule(*row);
            Text1->setText(rule.contains);
            Text2->setText(rule.soundFile);
        }
    } else {
        Command2->setEnabled(false);
    }
    QDialog::showEvent(event);
}

void Form2::Command1_Click()
{
    QPointer<Form2> self(this);
    SoundFileDialog::open(this, QStringLiteral("Seelct Sound File"), [self](const QString &fileName) {
        if (self && !fileName.isEmpty())
            self->Text2->setText(fileName);
    });
}

void Form2::Command5_Click()
{
    m_preview->start(Text2->text());
}

void Form2::Command3_Click()
{
    QPointer<Form2> self(this);
    if (m_settingsWindow.ruleCount() >= SoundRules::MaxRules) {
        MessageBox::information(this, Title, QStringLiteral("Page limit is 100. Can't add"));
        return;
    }
    if (Text1->text().trimmed().isEmpty()) {
        MessageBox::information(this, Title, QStringLiteral("No URL or string given"), [self](auto) {
            if (self)
                self->Text1->setFocus();
        });
        return;
    }
    if (Text2->text().trimmed().isEmpty()) {
        MessageBox::information(this, Title, QStringLiteral("No sound file given"), [self](auto) {
            if (self)
                self->Text2->setFocus();
        });
        return;
    }
    m_settingsWindow.setListButtonsEnabled(true);
    m_settingsWindow.appendRule({ Text1->text(), Text2->text() });
}

void Form2::Command2_Click()
{
    // A rule without a text would never play: refused as Add refuses it.
    if (Text1->text().trimmed().isEmpty()) {
        QPointer<Form2> self(this);
        MessageBox::information(this, Title, QStringLiteral("No URL or string given"), [self](auto) {
            if (self)
                self->Text1->setFocus();
        });
        return;
    }
    if (const std::optional<int> row = m_settingsWindow.selectedRow())
        m_settingsWindow.setRule(*row, { Text1->text(), Text2->text() });
}
