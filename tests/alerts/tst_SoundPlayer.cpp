#include "alerts/SoundFiles.h"
#include "alerts/SoundPlayer.h"
#include "core/Paths.h"
#include "tests/alerts/WavFiles.h"
#include "tests/common/TestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

// What the fake device received, shared between the test and the playback thread.
struct DeviceLog
{
    struct Stream
    {
        int rate = 0;
        int channels = 0;
        std::vector<std::int16_t> samples;
        bool drained = false;
        bool aborted = false;
    };
    std::mutex mutex;
    std::vector<Stream> streams;
    bool openFails = false;
    long allowance = -1; // frames the device still takes; -1: any number
    std::vector<quint64> done;

    Stream stream(size_t i)
    {
        std::lock_guard lock(mutex);
        return i < streams.size() ? streams[i] : Stream {};
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return streams.size();
    }
    std::vector<quint64> doneIds()
    {
        std::lock_guard lock(mutex);
        return done;
    }
    void setAllowance(long frames)
    {
        std::lock_guard lock(mutex);
        allowance = frames;
    }
};

// A device that takes samples only as fast as the test allows.
class GatedSink final : public PcmSink
{
public:
    explicit GatedSink(std::shared_ptr<DeviceLog> log)
        : m_log(std::move(log))
    { }
    bool open(int rate, int channels) override
    {
        std::lock_guard lock(m_log->mutex);
        if (m_log->openFails)
            return false;
        m_index = m_log->streams.size();
        m_log->streams.push_back({ rate, channels, {}, false, false });
        m_channels = channels;
        return true;
    }
    long write(const std::int16_t *samples, long frames, int waitMs) override
    {
        {
            std::lock_guard lock(m_log->mutex);
            const long take = m_log->allowance < 0 ? frames : std::min(frames, m_log->allowance);
            if (take > 0) {
                auto &out = m_log->streams[m_index].samples;
                out.insert(out.end(), samples, samples + take * m_channels);
                if (m_log->allowance > 0)
                    m_log->allowance -= take;
                return take;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return 0;
    }
    bool drain(int) override
    {
        std::lock_guard lock(m_log->mutex);
        m_log->streams[m_index].drained = true;
        return true;
    }
    void abort() override
    {
        std::lock_guard lock(m_log->mutex);
        m_log->streams[m_index].aborted = true;
    }

private:
    std::shared_ptr<DeviceLog> m_log;
    size_t m_index = 0;
    int m_channels = 1;
};

std::unique_ptr<SoundPlayer> makePlayer(
    const std::shared_ptr<DeviceLog> &log, const QString &fallback, int stallLimitMs = 2000)
{
    SoundPlayer::Options options;
    options.stallLimitMs = stallLimitMs;
    options.sinkFactory = [log] { return std::make_unique<GatedSink>(log); };
    options.fallbackFile = fallback;
    return std::make_unique<SoundPlayer>(std::move(options), [log](quint64 id) {
        std::lock_guard lock(log->mutex);
        log->done.push_back(id);
    });
}

} // namespace

class tst_SoundPlayer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void playsTheWholeFile_data();
    void playsTheWholeFile();
    void newSoundReplacesThePlayingOne();
    void everyRequestEnds();
    void unplayableFilePlaysTheFallback_data();
    void unplayableFilePlaysTheFallback();
    void noFallbackEither();
    void relativeNameLookupOrder();
    void resolve_data();
    void resolve();
    void deviceThatCannotOpenEndsTheRequest();
    void stalledDeviceIsGivenUp();
    void destructionStopsAStalledSoundAtOnce();

private:
    QTemporaryDir m_dir;
    QString m_fallback;
    WavFiles::Sound m_fallbackSound;
};

void tst_SoundPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_fallback = m_dir.filePath(QStringLiteral("fallback.wav"));
    m_fallbackSound = WavFiles::tone(880, 0.05);
    QVERIFY(WavFiles::write(m_fallback, m_fallbackSound));
    QVERIFY(QDir().mkpath(Paths::userDataDir()));
}

void tst_SoundPlayer::cleanup()
{
    QDir(Paths::userDataDir()).removeRecursively();
    QDir().mkpath(Paths::userDataDir());
}

void tst_SoundPlayer::playsTheWholeFile_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    QTest::newRow("8 kHz mono") << 8000 << 1 << 0.3;
    QTest::newRow("44.1 kHz stereo") << 44100 << 2 << 0.25;
    QTest::newRow("shorter than one chunk") << 22050 << 1 << 0.01;
}

void tst_SoundPlayer::playsTheWholeFile()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    const WavFiles::Sound sound = WavFiles::tone(440, seconds, rate, channels);
    const QString path = m_dir.filePath(QStringLiteral("whole.wav"));
    QVERIFY(WavFiles::write(path, sound));
    auto log = std::make_shared<DeviceLog>();
    auto player = makePlayer(log, m_fallback);
    const quint64 id = player->play(path);
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds() == std::vector<quint64> { id }, 5000);
    QCOMPARE(log->count(), size_t(1));
    const DeviceLog::Stream stream = log->stream(0);
    QCOMPARE(stream.rate, rate);
    QCOMPARE(stream.channels, channels);
    QVERIFY(stream.samples == sound.samples);
    QVERIFY(stream.drained);
    QVERIFY(!stream.aborted);
}

void tst_SoundPlayer::newSoundReplacesThePlayingOne()
{
    const WavFiles::Sound first = WavFiles::tone(440, 2.0);
    const WavFiles::Sound second = WavFiles::tone(660, 0.2);
    const QString firstPath = m_dir.filePath(QStringLiteral("first.wav"));
    const QString secondPath = m_dir.filePath(QStringLiteral("second.wav"));
    QVERIFY(WavFiles::write(firstPath, first));
    QVERIFY(WavFiles::write(secondPath, second));

    auto log = std::make_shared<DeviceLog>();
    log->setAllowance(3000); // the device plays the first 3000 frames, then "is busy playing"
    auto player = makePlayer(log, m_fallback);
    QElapsedTimer call;
    call.start();
    player->play(firstPath);
    QTRY_VERIFY_WITH_TIMEOUT(log->stream(0).samples.size() == 3000, 5000);
    player->play(secondPath); // must not wait for the first sound
    QVERIFY(call.elapsed() < 5000);
    log->setAllowance(-1);
    QTRY_VERIFY_WITH_TIMEOUT(log->count() == 2 && log->stream(1).drained, 5000);

    const DeviceLog::Stream cut = log->stream(0);
    QVERIFY(cut.aborted);
    QVERIFY(!cut.drained);
    QCOMPARE(cut.samples.size(), size_t(3000));
    QVERIFY(std::equal(cut.samples.begin(), cut.samples.end(), first.samples.begin()));
    const DeviceLog::Stream replacement = log->stream(1);
    QVERIFY(replacement.samples == second.samples);
    QVERIFY(!replacement.aborted);
}

void tst_SoundPlayer::everyRequestEnds()
{
    const QString path = m_dir.filePath(QStringLiteral("long.wav"));
    QVERIFY(WavFiles::write(path, WavFiles::tone(300, 1.0)));
    auto log = std::make_shared<DeviceLog>();
    log->setAllowance(0);
    auto player = makePlayer(log, m_fallback);
    std::vector<quint64> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(player->play(path));
    log->setAllowance(-1);
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == ids.size(), 5000);
    std::vector<quint64> done = log->doneIds();
    std::sort(done.begin(), done.end());
    QVERIFY(done == ids);
    // Only the last one was heard to its end.
    QTRY_VERIFY_WITH_TIMEOUT(log->count() >= 1 && log->stream(log->count() - 1).drained, 5000);
}

void tst_SoundPlayer::unplayableFilePlaysTheFallback_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing absolute") << QStringLiteral("/nonexistent/vistelle/none.wav");
    QTest::newRow("missing relative") << QStringLiteral("no-such-sound.wav");
    QTest::newRow("empty name") << QString();
    QTest::newRow("not a sound") << QStringLiteral("GARBAGE");
    QTest::newRow("a folder") << QStringLiteral("FOLDER");
    QTest::newRow("truncated header") << QStringLiteral("TRUNCATED");
}

void tst_SoundPlayer::unplayableFilePlaysTheFallback()
{
    QFETCH(QString, name);
    if (name == QStringLiteral("GARBAGE")) {
        name = m_dir.filePath(QStringLiteral("garbage.wav"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    } else if (name == QStringLiteral("FOLDER")) {
        name = m_dir.path();
    } else if (name == QStringLiteral("TRUNCATED")) {
        name = m_dir.filePath(QStringLiteral("truncated.wav"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF\x10\x00\x00\x00WAVEfmt ", 16);
    }
    auto log = std::make_shared<DeviceLog>();
    auto player = makePlayer(log, m_fallback);
    player->play(name);
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 1, 5000);
    QCOMPARE(log->count(), size_t(1));
    QVERIFY(log->stream(0).samples == m_fallbackSound.samples);
}

void tst_SoundPlayer::noFallbackEither()
{
    auto log = std::make_shared<DeviceLog>();
    auto player = makePlayer(log, m_dir.filePath(QStringLiteral("also-missing.wav")));
    player->play(QStringLiteral("/nonexistent.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 1, 5000);
    QCOMPARE(log->count(), size_t(0));
}

void tst_SoundPlayer::relativeNameLookupOrder()
{
    // The program's own doorbell first (nothing in the user's folder)...
    const WavFiles::Sound shipped = WavFiles::read(TestUtil::sourceRoot() + QStringLiteral("/data/doorbell.wav"));
    QVERIFY(shipped.frames() > 0);
    auto log = std::make_shared<DeviceLog>();
    auto player = makePlayer(log, m_fallback);
    player->play(QStringLiteral("doorbell.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 1, 5000);
    QVERIFY(log->stream(0).samples == shipped.samples);

    // ...then the user's own file of that name wins.
    const WavFiles::Sound own = WavFiles::tone(523, 0.1);
    QVERIFY(WavFiles::write(Paths::userDataDir() + QStringLiteral("/doorbell.wav"), own));
    player->play(QStringLiteral("doorbell.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 2, 5000);
    QVERIFY(log->stream(1).samples == own.samples);
}

void tst_SoundPlayer::resolve_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inUserFolder");
    QTest::addColumn<QString>("expected"); // USER/…, DATA/… or as is
    QTest::newRow("shipped") << QStringLiteral("doorbell.wav") << false << QStringLiteral("DATA/doorbell.wav");
    QTest::newRow("user's wins") << QStringLiteral("doorbell.wav") << true << QStringLiteral("USER/doorbell.wav");
    QTest::newRow("user only") << QStringLiteral("mine.wav") << true << QStringLiteral("USER/mine.wav");
    QTest::newRow("nowhere") << QStringLiteral("none.wav") << false << QStringLiteral("USER/none.wav");
    QTest::newRow("absolute") << QStringLiteral("/srv/sounds/x.wav") << false << QStringLiteral("/srv/sounds/x.wav");
    QTest::newRow("blank") << QStringLiteral("  ") << false << QString();
}

void tst_SoundPlayer::resolve()
{
    QFETCH(QString, name);
    QFETCH(bool, inUserFolder);
    QFETCH(QString, expected);
    if (inUserFolder)
        QVERIFY(WavFiles::write(Paths::userDataDir() + u'/' + name, m_fallbackSound));
    expected.replace(QStringLiteral("USER"), Paths::userDataDir());
    // The program's data folder: the first installed one holding the shipped sound.
    QString dataDir;
    const QStringList dirs = Paths::installedDataDirs();
    for (const QString &dir : dirs) {
        if (dataDir.isEmpty() && QFile::exists(dir + QStringLiteral("/doorbell.wav")))
            dataDir = dir;
    }
    expected.replace(QStringLiteral("DATA"), dataDir);
    QCOMPARE(SoundFiles::resolve(name), expected);
}

void tst_SoundPlayer::deviceThatCannotOpenEndsTheRequest()
{
    auto log = std::make_shared<DeviceLog>();
    log->openFails = true;
    auto player = makePlayer(log, m_fallback);
    player->play(TestUtil::sourceRoot() + QStringLiteral("/data/doorbell.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 1, 5000);

    // No device at all.
    SoundPlayer::Options options;
    options.sinkFactory = [] { return std::unique_ptr<PcmSink>(); };
    std::atomic<int> done { 0 };
    SoundPlayer bare(std::move(options), [&done](quint64) { ++done; });
    bare.play(QStringLiteral("doorbell.wav"));
    QTRY_COMPARE_WITH_TIMEOUT(done.load(), 1, 5000);
}

void tst_SoundPlayer::stalledDeviceIsGivenUp()
{
    const QString path = m_dir.filePath(QStringLiteral("stall.wav"));
    QVERIFY(WavFiles::write(path, WavFiles::tone(300, 1.0)));
    auto log = std::make_shared<DeviceLog>();
    log->setAllowance(0); // takes nothing, ever
    auto player = makePlayer(log, m_fallback, 150);
    player->play(path);
    // A preview waiting for its end is not left waiting for ever.
    QTRY_VERIFY_WITH_TIMEOUT(log->doneIds().size() == 1, 10'000);
    QVERIFY(log->stream(0).aborted);
}

void tst_SoundPlayer::destructionStopsAStalledSoundAtOnce()
{
    const QString path = m_dir.filePath(QStringLiteral("stall2.wav"));
    QVERIFY(WavFiles::write(path, WavFiles::tone(300, 1.0)));
    auto log = std::make_shared<DeviceLog>();
    log->setAllowance(0);
    auto player = makePlayer(log, m_fallback);
    player->play(path);
    QTRY_VERIFY_WITH_TIMEOUT(log->count() == 1, 5000);
    QElapsedTimer shutdown;
    shutdown.start();
    player.reset();
    // Generous bound: a hang would be seconds; the thread gives up within one device wait.
    QVERIFY2(shutdown.elapsed() < 400, qPrintable(QString::number(shutdown.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(log->stream(0).aborted, 2000);
    QVERIFY(log->doneIds().empty());
}

QTEST_GUILESS_MAIN(tst_SoundPlayer)
#include "tst_SoundPlayer.moc"
