#include "alerts/AlsaMixer.h"
#include "alerts/Form1.h"
#include "dialogs/MessageBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

// The volume window on the real mixer path of a Debian desktop: ALSA's "default" mixer through
// the pulse plugin to a PulseAudio server of the test's own (run_pulse.py starts it, with a null
// sink "vnull", and sets PULSE_SERVER). What the window set is read back with pactl.
class tst_MasterVolumeOnPulse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void rangeSetAndSlider();
    void reopeningOpensTheMixerAgain();
    void noServerNoMixer();

private:
    static QList<long> sinkVolume()
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), { QStringLiteral("get-sink-volume"), QStringLiteral("vnull") });
        if (!pactl.waitForFinished(10'000))
            return {};
        QList<long> volumes;
        const QString out = QString::fromUtf8(pactl.readAllStandardOutput());
        static const QRegularExpression channel(QStringLiteral(":\\s*(\\d+)\\s*/"));
        for (const QRegularExpressionMatch &m : channel.globalMatch(out))
            volumes << m.captured(1).toLong();
        return volumes;
    }
    static std::unique_ptr<Form1> openForm()
    {
        auto form = std::make_unique<Form1>(std::make_unique<AlsaMixer>(), nullptr, [] { return QString(); });
        form->show();
        QSignalSpy loaded(form.get(), &Form1::loaded);
        form->load();
        if (!loaded.wait(10'000))
            qFatal("the volume window did not load its mixer");
        return form;
    }
};

void tst_MasterVolumeOnPulse::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("PULSE_SERVER"), "run through tests/alerts/run_pulse.py");
    QCOMPARE(sinkVolume().size(), 2);
}

void tst_MasterVolumeOnPulse::rangeSetAndSlider()
{
    // The window opens on the volume the desktop has now.
    QCOMPARE(QProcess::execute(QStringLiteral("pactl"),
                 { QStringLiteral("set-sink-volume"), QStringLiteral("vnull"), QStringLiteral("20000") }),
        0);
    QTRY_COMPARE(sinkVolume(), QList<long>({ 20000, 20000 }));
    auto form = openForm();
    QCOMPARE(form->volumeControl().element, QStringLiteral("Master"));
    QCOMPARE(form->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("0 to 65536"));
    auto *slider = form->findChild<QSlider *>(QStringLiteral("Slider1"));
    QCOMPARE(slider->maximum(), 65536);
    QCOMPARE(slider->value(), 20000);

    auto *text = form->findChild<QLineEdit *>(QStringLiteral("Text1"));
    auto *set = form->findChild<QPushButton *>(QStringLiteral("Command1"));
    text->setText(QStringLiteral("32768"));
    set->click();
    QTRY_COMPARE(sinkVolume(), QList<long>({ 32768, 32768 }));
    text->setText(QStringLiteral("65536"));
    set->click();
    QTRY_COMPARE(sinkVolume(), QList<long>({ 65536, 65536 }));
    // Outside the range: refused, the volume stays.
    MessageBox::setNextAnswer(QMessageBox::Ok);
    text->setText(QStringLiteral("70000"));
    set->click();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("Enter a whole number from 0 to 65536."));
    QCOMPARE(sinkVolume(), QList<long>({ 65536, 65536 }));

    slider->setValue(16384);
    QTRY_COMPARE(sinkVolume(), QList<long>({ 16384, 16384 }));
    QTest::keyClick(slider, Qt::Key_PageUp); // a tenth of the range up
    QTRY_COMPARE(sinkVolume(), QList<long>({ 16384 + 6553, 16384 + 6553 }));
    QCOMPARE(text->text(), QString::number(16384 + 6553));
}

void tst_MasterVolumeOnPulse::reopeningOpensTheMixerAgain()
{
    for (long value : { 1000L, 2000L, 3000L }) {
        auto form = openForm();
        QVERIFY(form->volumeControl().isValid());
        form->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QString::number(value));
        form->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        QTRY_COMPARE(sinkVolume(), QList<long>({ value, value }));
    }
}

void tst_MasterVolumeOnPulse::noServerNoMixer()
{
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse/native");
    MessageBox::setNextAnswer(QMessageBox::Ok);
    auto form = openForm();
    qputenv("PULSE_SERVER", server);
    QCOMPARE(MessageBox::lastText(), QStringLiteral("Couldn't open the mixer."));
    QCOMPARE(form->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QString());
    form->findChild<QPushButton *>(QStringLiteral("Command1"))->click(); // nothing to set, no crash
    QVERIFY(form->isVisible());
}

QTEST_MAIN(tst_MasterVolumeOnPulse)
#include "tst_MasterVolumeOnPulse.moc"
