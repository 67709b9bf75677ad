#include "alerts/AlsaSoundOutput.h"
#include "alerts/SoundFiles.h"
#include "core/Paths.h"
#include "tests/alerts/WavFiles.h"
#include "tests/common/TestUtil.h"

#include <sndfile.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Real playback through ALSA: the "file" PCM writes what it is given to a WAV file (its slave is
// the null device), so what the program played can be compared with what the file holds.
class tst_AlsaSoundOutput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void previewPlaysTheFileAndThenSignals();
    void visitPlayReturnsAtOnceAndPlays();
    void missingOrUnreadableFilePlaysTheBell_data();
    void missingOrUnreadableFilePlaysTheBell();
    void relativeNameUsesTheUsersFileFirst();
    void noDeviceNeitherCrashesNorBlocks_data();
    void noDeviceNeitherCrashesNorBlocks();

private:
    QString deviceFor(const QString &outFile) const
    {
        return QStringLiteral("file:FILE=") + outFile + QStringLiteral(",FORMAT=wav");
    }
    static WavFiles::Sound decoded(const QString &path)
    {
        WavFiles::Sound s;
        SF_INFO info {};
        SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        if (!f)
            return s;
        s.rate = info.samplerate;
        s.channels = info.channels;
        std::vector<std::int16_t> chunk(size_t(4096 * info.channels));
        sf_count_t n;
        while ((n = sf_readf_short(f, chunk.data(), 4096)) > 0)
            s.samples.insert(s.samples.end(), chunk.begin(), chunk.begin() + n * info.channels);
        sf_close(f);
        return s;
    }
    static void compareSounds(const WavFiles::Sound &played, const WavFiles::Sound &expected)
    {
        QCOMPARE(played.rate, expected.rate);
        QCOMPARE(played.channels, expected.channels);
        QCOMPARE(played.frames(), expected.frames());
        QVERIFY(played.samples == expected.samples);
    }

    QTemporaryDir m_dir;
    QString m_out;
    QString m_doorbell;
    int m_runs = 0;
};

void tst_AlsaSoundOutput::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_doorbell = TestUtil::sourceRoot() + QStringLiteral("/data/doorbell.wav");
    QVERIFY(QFile::exists(m_doorbell));
    QVERIFY2(QFile::exists(SoundFiles::desktopAlertSound()), "sound-theme-freedesktop is not installed");
}

void tst_AlsaSoundOutput::init()
{
    m_out = m_dir.filePath(QStringLiteral("played-%1.wav").arg(++m_runs));
    QFile::remove(m_out);
    QDir(Paths::userDataDir()).removeRecursively();
    QDir().mkpath(Paths::userDataDir());
}

void tst_AlsaSoundOutput::previewPlaysTheFileAndThenSignals()
{
    AlsaSoundOutput output(deviceFor(m_out));
    QSignalSpy finished(&output, &SoundOutput::previewFinished);
    output.playPreview(m_doorbell);
    QVERIFY(finished.wait(10'000));
    QCOMPARE(finished.count(), 1);
    // Compared with the shipped file read without libsndfile: 22050 Hz mono, sample for sample.
    const WavFiles::Sound shipped = WavFiles::read(m_doorbell);
    QCOMPARE(shipped.rate, 22050);
    compareSounds(WavFiles::read(m_out), shipped);
}

void tst_AlsaSoundOutput::visitPlayReturnsAtOnceAndPlays()
{
    const QString stereo = m_dir.filePath(QStringLiteral("stereo.wav"));
    const WavFiles::Sound sound = WavFiles::tone(500, 0.4, 44100, 2);
    QVERIFY(WavFiles::write(stereo, sound));
    {
        AlsaSoundOutput output(deviceFor(m_out));
        QSignalSpy finished(&output, &SoundOutput::previewFinished);
        output.playAsync(stereo);
        // The file is complete once the device has been closed after the sound.
        QTRY_VERIFY_WITH_TIMEOUT(WavFiles::read(m_out).frames() == sound.frames(), 10'000);
        QCOMPARE(finished.count(), 0);
    }
    compareSounds(WavFiles::read(m_out), sound);
}

void tst_AlsaSoundOutput::missingOrUnreadableFilePlaysTheBell_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // written to name in the temporary folder when set
    QTest::newRow("missing absolute") << QStringLiteral("/nonexistent/doorbell.wav") << QByteArray();
    QTest::newRow("missing relative") << QStringLiteral("no-such-sound.wav") << QByteArray();
    QTest::newRow("unreadable") << QStringLiteral("broken.wav") << QByteArray("RIFF....WAVEjunkjunkjunk");
}

void tst_AlsaSoundOutput::missingOrUnreadableFilePlaysTheBell()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    if (!content.isEmpty()) {
        name = m_dir.filePath(name);
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    AlsaSoundOutput output(deviceFor(m_out));
    QSignalSpy finished(&output, &SoundOutput::previewFinished);
    output.playPreview(name);
    QVERIFY(finished.wait(10'000));
    const WavFiles::Sound bell = decoded(SoundFiles::desktopAlertSound());
    QVERIFY(bell.frames() > 1000);
    compareSounds(WavFiles::read(m_out), bell);
}

void tst_AlsaSoundOutput::relativeNameUsesTheUsersFileFirst()
{
    {
        AlsaSoundOutput output(deviceFor(m_out));
        QSignalSpy finished(&output, &SoundOutput::previewFinished);
        output.playPreview(QStringLiteral("doorbell.wav"));
        QVERIFY(finished.wait(10'000));
        compareSounds(WavFiles::read(m_out), WavFiles::read(m_doorbell));
    }
    const WavFiles::Sound own = WavFiles::tone(700, 0.2, 16000, 1);
    QVERIFY(WavFiles::write(Paths::userDataDir() + QStringLiteral("/doorbell.wav"), own));
    QFile::remove(m_out);
    AlsaSoundOutput output(deviceFor(m_out));
    QSignalSpy finished(&output, &SoundOutput::previewFinished);
    output.playPreview(QStringLiteral("doorbell.wav"));
    QVERIFY(finished.wait(10'000));
    compareSounds(WavFiles::read(m_out), own);
}

void tst_AlsaSoundOutput::noDeviceNeitherCrashesNorBlocks_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("unknown device") << QStringLiteral("vistelle_no_such_device");
    QTest::newRow("absent card") << QStringLiteral("hw:CARD=VistelleNone,DEV=0");
    QTest::newRow("unwritable file") << QStringLiteral("file:FILE=/nonexistent/dir/out.wav,FORMAT=wav");
    QTest::newRow("this machine's default") << QStringLiteral("default");
}

void tst_AlsaSoundOutput::noDeviceNeitherCrashesNorBlocks()
{
    QFETCH(QString, device);
    QElapsedTimer timer;
    timer.start();
    {
        AlsaSoundOutput output(device);
        QSignalSpy finished(&output, &SoundOutput::previewFinished);
        output.playAsync(m_doorbell);
        output.playAsync(QStringLiteral("/nonexistent.wav"));
        output.playPreview(m_doorbell);
        QVERIFY(timer.elapsed() < 1000); // the calls themselves never wait
        QVERIFY(finished.wait(10'000));
        QCOMPARE(finished.count(), 1);
        output.playAsync(m_doorbell);
    } // destroyed while a sound may still play on a real default device
    QVERIFY(timer.elapsed() < 10'000);
}

QTEST_GUILESS_MAIN(tst_AlsaSoundOutput)
#include "tst_AlsaSoundOutput.moc"
