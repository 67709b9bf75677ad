#include "core/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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
    void fileIsPrivate();
    void userStoreLocation();
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

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_SettingsStore.moc"
