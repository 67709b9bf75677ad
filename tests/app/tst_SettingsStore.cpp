#include "core/PrivateFiles.h"
#include "core/SettingsStore.h"
#include "tests/mock/LogRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}
} // namespace

class tst_SettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void missingKeyGivesDefault();
    void keysIgnoreCase_data();
    void keysIgnoreCase();
    void valuesSurviveReopen();
    void specialTexts_data();
    void specialTexts();
    void readsWhatQSettingsWrote_data();
    void readsWhatQSettingsWrote();
    void fileIsPrivate();
    void userStoreLocation();
    void handEditsAreSeen();
    void damagedFileIsSetAside_data();
    void damagedFileIsSetAside();
    void onlyARegularFileGetsItsModeFixed();
    void filesAreReplacedNeverWrittenThroughLinks();
    void batchWritesOnce();
    void removedAndOutsideKeys();
};

void tst_SettingsStore::missingKeyGivesDefault()
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("s.conf")));
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")), QStringLiteral("80"));
    QCOMPARE(store.GetSetting(QStringLiteral("usedyndns")), QString());
    QVERIFY(!store.contains(QStringLiteral("usedyndns")));
    store.SaveSetting(QStringLiteral("dyname"), QString());
    QVERIFY(store.contains(QStringLiteral("DYNAME")));
    QCOMPARE(store.GetSetting(QStringLiteral("dyname"), QStringLiteral(" ")), QString());
}

void tst_SettingsStore::keysIgnoreCase_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("rewritten");
    QTest::addColumn<QString>("read");
    QTest::newRow("same case") << "Contains0"
                               << "Contains0"
                               << "Contains0";
    QTest::newRow("read lower") << "Contains0"
                                << "Contains0"
                                << "contains0";
    QTest::newRow("rewrite other case") << "CSound3"
                                        << "Csound3"
                                        << "CSOUND3";
}

void tst_SettingsStore::keysIgnoreCase()
{
    QFETCH(QString, written);
    QFETCH(QString, rewritten);
    QFETCH(QString, read);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    {
        SettingsStore store(path);
        store.SaveSetting(written, QStringLiteral("first"));
        store.SaveSetting(rewritten, QStringLiteral("second"));
        QCOMPARE(store.GetSetting(read), QStringLiteral("second"));
    }
    SettingsStore reopened(path);
    QCOMPARE(reopened.GetSetting(read), QStringLiteral("second"));
    // One value remains in the file.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll().toLower();
    QCOMPARE(content.count(QByteArray(written.toLower().toUtf8() + '=')), 1);
}

void tst_SettingsStore::valuesSurviveReopen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    {
        SettingsStore store(path);
        store.SaveSetting(QStringLiteral("ListenPort"), QStringLiteral("8080"));
    }
    SettingsStore store(path);
    QCOMPARE(store.GetSetting(QStringLiteral("listenport"), QStringLiteral("80")), QStringLiteral("8080"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("[Settings]"));
}

void tst_SettingsStore::specialTexts_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("comma") << "a,b";
    QTest::newRow("blank only") << " ";
    QTest::newRow("leading and trailing blanks") << "  x  ";
    QTest::newRow("quotes and semicolon") << "\"q\";x=1";
    QTest::newRow("unicode") << QString::fromUtf8("Zürich \xe2\x82\xac");
    QTest::newRow("path") << "/home/u/My Sounds/door bell.wav";
    QTest::newRow("line break") << "a\nb";
}

void tst_SettingsStore::specialTexts()
{
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    {
        SettingsStore store(path);
        store.SaveSetting(QStringLiteral("DefaultSnd"), value);
    }
    SettingsStore store(path);
    QCOMPARE(store.GetSetting(QStringLiteral("DefaultSnd")), value);
}

void tst_SettingsStore::readsWhatQSettingsWrote_data()
{
    specialTexts_data();
    QTest::newRow("leading at sign") << "@home";
    QTest::newRow("escapes") << QString::fromUtf8("tab\there \\ \"x\" \x01 end ");
}

void tst_SettingsStore::readsWhatQSettingsWrote()
{
    // Files of earlier versions were written by QSettings, and users may still read ours with it.
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    {
        QSettings qt(path, QSettings::IniFormat);
        qt.setValue(QStringLiteral("Other/key"), QStringLiteral("kept"));
        qt.setValue(QStringLiteral("Settings/DefaultSnd"), value);
    }
    {
        SettingsStore store(path);
        QCOMPARE(store.GetSetting(QStringLiteral("defaultsnd")), value);
        store.SaveSetting(QStringLiteral("Contains0"), value);
    }
    QSettings qt(path, QSettings::IniFormat);
    QCOMPARE(qt.status(), QSettings::NoError);
    QCOMPARE(qt.value(QStringLiteral("Settings/Contains0")).toString(), value);
    QCOMPARE(qt.value(QStringLiteral("Other/key")).toString(), QStringLiteral("kept"));
}

void tst_SettingsStore::fileIsPrivate()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/s.conf"));
    {
        SettingsStore store(path);
        store.SaveSetting(QStringLiteral("dypass"), QStringLiteral("secret"));
    }
    const QFileInfo info(path);
    QVERIFY(info.exists());
    QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());
    QVERIFY(info.permissions() & QFile::ReadOwner);
    QVERIFY(info.permissions() & QFile::WriteOwner);
}

void tst_SettingsStore::userStoreLocation()
{
    // CTest points XDG_CONFIG_HOME at a throwaway folder.
    SettingsStore store;
    QCOMPARE(store.fileName(), qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/RizidirUduzidodirer.conf"));
}

void tst_SettingsStore::handEditsAreSeen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    SettingsStore store(path);
    store.SaveSetting(QStringLiteral("ListenPort"), QStringLiteral("8080"));
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort")), QStringLiteral("8080"));

    // Edited in place, same length: only the modification time tells.
    const QDateTime modified = QFileInfo(path).lastModified();
    QByteArray content = readBytes(path);
    content.replace("8080", "8081");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(content);
        QVERIFY(file.setFileTime(modified.addSecs(1), QFileDevice::FileModificationTime));
    }
    QCOMPARE(store.GetSetting(QStringLiteral("listenport")), QStringLiteral("8081"));

    // Replaced by an editor that writes a new file.
    writeBytes(path + QStringLiteral(".new"), "[Settings]\nListenPort=9090\nusedyndns=0\n");
    QVERIFY(::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(), QFile::encodeName(path).constData())
        == 0);
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort")), QStringLiteral("9090"));
    QVERIFY(store.contains(QStringLiteral("usedyndns")));

    // A save keeps the hand edits.
    store.SaveSetting(QStringLiteral("dyname"), QStringLiteral("host.test"));
    SettingsStore other(path);
    QCOMPARE(other.GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
    QCOMPARE(other.GetSetting(QStringLiteral("dyname")), QStringLiteral("host.test"));

    // Removed: the defaults apply.
    QVERIFY(QFile::remove(path));
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")), QStringLiteral("80"));
}

void tst_SettingsStore::damagedFileIsSetAside_data()
{
    QTest::addColumn<QByteArray>("content"); // "<folder>": a folder in the file's place
    QTest::addColumn<QString>("reason");
    QByteArray random(4096, '\0');
    quint32 x = 12345;
    for (char &c : random) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    QTest::newRow("random bytes") << random << "binary data";
    QTest::newRow("not UTF-8") << QByteArray("[Settings]\nListenPort=8\xff\n") << "not UTF-8";
    QTest::newRow("not a setting") << QByteArray("[Settings]\nListenPort 8080\n") << "line 2 is not a setting";
    QTest::newRow("no key") << QByteArray("[Settings]\n=8080\n") << "line 2 has no key";
    QTest::newRow("too large") << QByteArray("[Settings]\n") + QByteArray(2 << 20, ';') << "larger than";
    QTest::newRow("folder") << QByteArray("<folder>") << "it is a folder";
}

void tst_SettingsStore::damagedFileIsSetAside()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    const bool folder = content == "<folder>";
    if (folder) {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0755) == 0);
    } else {
        writeBytes(path, content);
    }

    LogRecorder log;
    const QStringList &notices = log.lines;
    SettingsStore store(path);
    // The defaults apply, not a guess from the damaged file.
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")), QStringLiteral("80"));
    QCOMPARE(notices.size(), 1);
    const QString aside = path + QStringLiteral(".damaged");
    QVERIFY2(notices[0].contains(path) && notices[0].contains(aside) && notices[0].contains(reason)
            && notices[0].contains(QStringLiteral("default settings are used")),
        qPrintable(notices[0]));

    // Kept aside as it was; a fresh private file in its place.
    if (folder) {
        QVERIFY(QFileInfo(aside).isDir());
        QCOMPARE(modeOf(aside) & 07777, mode_t(0755));
    } else {
        QCOMPARE(readBytes(aside), content);
    }
    QVERIFY(S_ISREG(modeOf(path)));
    QCOMPARE(modeOf(path) & 0777, mode_t(0600));
    store.SaveSetting(QStringLiteral("ListenPort"), QStringLiteral("8080"));
    QCOMPARE(SettingsStore(path).GetSetting(QStringLiteral("ListenPort")), QStringLiteral("8080"));
    QCOMPARE(notices.size(), 1);

    // A second damaged file does not replace the first one kept aside.
    writeBytes(path, "garbage line\n");
    QCOMPARE(store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80")), QStringLiteral("80"));
    QCOMPARE(notices.size(), 2);
    QCOMPARE(readBytes(path + QStringLiteral(".damaged.2")), QByteArray("garbage line\n"));
}

void tst_SettingsStore::onlyARegularFileGetsItsModeFixed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    writeBytes(path, "[Settings]\nListenPort=8080\n");
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    QCOMPARE(SettingsStore(path).GetSetting(QStringLiteral("ListenPort")), QStringLiteral("8080"));
    QCOMPARE(modeOf(path) & 0777, mode_t(0600));

    // A link is read through, but the file it points at keeps its mode.
    const QString target = dir.filePath(QStringLiteral("dotfiles.conf"));
    const QString link = dir.filePath(QStringLiteral("linked.conf"));
    writeBytes(target, "[Settings]\nListenPort=8081\n");
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0644) == 0);
    QVERIFY(QFile::link(target, link));
    QCOMPARE(SettingsStore(link).GetSetting(QStringLiteral("ListenPort")), QStringLiteral("8081"));
    QCOMPARE(modeOf(target) & 0777, mode_t(0644));
}

void tst_SettingsStore::filesAreReplacedNeverWrittenThroughLinks()
{
    QTemporaryDir dir;
    // A link placed where the settings file belongs: the save replaces the link.
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeBytes(victim, "[Settings]\nsecret=1\n");
    const QString path = dir.filePath(QStringLiteral("new/deeper/s.conf"));
    QVERIFY(PrivateFiles::makeDir(dir.filePath(QStringLiteral("new/deeper"))));
    QVERIFY(QFile::link(victim, path));
    {
        SettingsStore store(path);
        store.SaveSetting(QStringLiteral("dypass"), QStringLiteral("pw"));
    }
    QCOMPARE(readBytes(victim), QByteArray("[Settings]\nsecret=1\n"));
    QVERIFY(S_ISREG(modeOf(path)));
    QCOMPARE(modeOf(path) & 0777, mode_t(0600));
    QVERIFY(readBytes(path).contains("dypass=pw"));

    // The folders the program creates are its owner's only.
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("new"))) & 0777, mode_t(0700));
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("new/deeper"))) & 0777, mode_t(0700));
    const QString third = dir.filePath(QStringLiteral("a/b/c.conf"));
    SettingsStore created(third);
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("a"))) & 0777, mode_t(0700));
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("a/b"))) & 0777, mode_t(0700));

    // A dangling link is replaced just the same, and nothing appears at its target.
    const QString dangling = dir.filePath(QStringLiteral("dangling.txt"));
    const QString nowhere = dir.filePath(QStringLiteral("nowhere.txt"));
    QVERIFY(QFile::link(nowhere, dangling));
    QVERIFY(PrivateFiles::writeFile(dangling, "1.2.3.4\r\n"));
    QVERIFY(!QFileInfo::exists(nowhere));
    QCOMPARE(readBytes(dangling), QByteArray("1.2.3.4\r\n"));
    // No temporary file is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QStringList { QStringLiteral("*.tmp") }, QDir::Files), QStringList());
}

void tst_SettingsStore::batchWritesOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    SettingsStore store(path);
    {
        SettingsStore::Batch batch(store);
        for (int i = 0; i <= 100; ++i) {
            store.SaveSetting(QStringLiteral("Contains") + QString::number(i), QStringLiteral("page"));
            store.SaveSetting(QStringLiteral("CSound") + QString::number(i), QStringLiteral("ding.wav"));
        }
        QCOMPARE(store.GetSetting(QStringLiteral("contains100")), QStringLiteral("page"));
        QVERIFY(!readBytes(path).contains("Contains0"));
    }
    QVERIFY(readBytes(path).contains("Contains100=page"));
}

// A removed key leaves the file, also in another letter case and within a batch; a key kept
// outside the file (the keyring's password) is read and saved through the store, never written.
void tst_SettingsStore::removedAndOutsideKeys()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.conf"));
    SettingsStore store(path);
    store.SaveSetting(QStringLiteral("Contains1"), QStringLiteral("a"));
    store.SaveSetting(QStringLiteral("dypass"), QStringLiteral("from the file"));
    {
        const SettingsStore::Batch batch(store);
        store.removeSetting(QStringLiteral("CONTAINS1"));
        QVERIFY(!store.contains(QStringLiteral("contains1")));
    }
    QVERIFY(!SettingsStore(path).contains(QStringLiteral("Contains1")));

    QStringList saved;
    store.removeSetting(QStringLiteral("dypass"));
    store.keepOutsideFile(QStringLiteral("dypass"), QStringLiteral("kept"), [&](const QString &v) { saved << v; });
    QCOMPARE(store.GetSetting(QStringLiteral("DyPass")), QStringLiteral("kept"));
    store.SaveSetting(QStringLiteral("dypass"), QStringLiteral("new secret"));
    QCOMPARE(saved, QStringList { QStringLiteral("new secret") });
    QCOMPARE(store.GetSetting(QStringLiteral("dypass")), QStringLiteral("new secret"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("secret"));
}

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_SettingsStore.moc"
