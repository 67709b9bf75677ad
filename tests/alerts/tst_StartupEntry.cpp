#include "alerts/StartupEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The start-at-login entry: a valid desktop entry (checked by desktop-file-validate) whose Exec
// starts exactly the program path it was given, whatever characters that path holds; where GLib
// can, the entry is really launched (gio launch) and the program runs.
class tst_StartupEntry : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void writtenEntryIsValidAndStartsThePath_data();
    void writtenEntryIsValidAndStartsThePath();
    void readAndRemove();

private:
    // The Exec value unquoted as a desktop would: string escapes first, then the quoting, then "%%".
    static QString unquote(const QString &exec)
    {
        QString unescaped;
        for (qsizetype i = 0; i < exec.size(); ++i) {
            if (exec.at(i) == u'\\' && i + 1 < exec.size()) {
                const QChar c = exec.at(++i);
                unescaped += c == u'n' ? QChar(u'\n') : c == u't' ? QChar(u'\t') : c == u'r' ? QChar(u'\r') : c;
            } else {
                unescaped += exec.at(i);
            }
        }
        QString argument;
        if (unescaped.startsWith(u'"') && unescaped.endsWith(u'"')) {
            for (qsizetype i = 1; i + 1 < unescaped.size(); ++i) {
                if (unescaped.at(i) == u'\\')
                    ++i;
                argument += unescaped.at(i);
            }
        } else {
            argument = unescaped;
        }
        return argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
};

void tst_StartupEntry::init()
{
    QFile::remove(StartupEntry::fileName());
}

void tst_StartupEntry::writtenEntryIsValidAndStartsThePath_data()
{
    QTest::addColumn<QString>("folder"); // the program lies in <temporary folder>/<folder>/
    QTest::addColumn<bool>("launch"); // also started through GLib, as GNOME's session does
    QTest::newRow("plain") << QStringLiteral("bin") << true;
    QTest::newRow("blanks") << QStringLiteral("My Programs") << true;
    QTest::newRow("shell characters") << QStringLiteral("a$b\"c'd(e)&f;g|h*i?j#k~l<m>n") << true;
    QTest::newRow("equals sign, tab, not ASCII") << QStringLiteral("a=b\tzoë") << true;
    QTest::newRow("backslash") << QStringLiteral("back\\slash") << true;
    // Valid entries that GLib's launcher cannot start (it refuses backticks, and looks for the
    // program before it turns "%%" back into "%").
    QTest::newRow("backtick") << QStringLiteral("a`b") << false;
    QTest::newRow("percent") << QStringLiteral("100%u") << false;
}

void tst_StartupEntry::writtenEntryIsValidAndStartsThePath()
{
    QFETCH(QString, folder);
    QFETCH(bool, launch);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("started"));
    const QString path = dir.path() + u'/' + folder + QStringLiteral("/vistelle");
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile program(path);
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/../started\"\n");
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QVERIFY(StartupEntry::write(path));
    const QString file = StartupEntry::fileName();
    QCOMPARE(file,
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/autostart/vn.desktop"));

    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), { file });
    QVERIFY2(validate.waitForStarted(), "desktop-file-validate is missing: scripts/deps.sh --test");
    QVERIFY(validate.waitForFinished(10'000));
    const QString complaints = QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
    QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), qPrintable(complaints));

    const QString exec = StartupEntry::read();
    QCOMPARE(exec, StartupEntry::execValue(path));
    QCOMPARE(unquote(exec), path);

    if (launch) {
        QProcess gio;
        gio.start(QStringLiteral("gio"), { QStringLiteral("launch"), file });
        QVERIFY2(gio.waitForStarted(), "gio is missing: scripts/deps.sh --test");
        QVERIFY(gio.waitForFinished(10'000));
        QVERIFY2(gio.exitCode() == 0, gio.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10'000);
    }
}

void tst_StartupEntry::readAndRemove()
{
    QCOMPARE(StartupEntry::read(), QString());
    QVERIFY(StartupEntry::remove()); // nothing to remove is no failure
    QVERIFY(StartupEntry::write(QStringLiteral("/old/vistelle")));
    QVERIFY(StartupEntry::write(QStringLiteral("/new/vistelle")));
    QCOMPARE(StartupEntry::read(), QStringLiteral("/new/vistelle"));
    QVERIFY(StartupEntry::remove());
    QVERIFY(!QFileInfo::exists(StartupEntry::fileName()));
    QCOMPARE(StartupEntry::read(), QString());

    // An entry the desktop was told to skip counts as none.
    QFile file(StartupEntry::fileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nName=Vistelle\nExec=/usr/bin/vistelle\nHidden=true\n");
    file.close();
    QCOMPARE(StartupEntry::read(), QString());
}

QTEST_GUILESS_MAIN(tst_StartupEntry)
#include "tst_StartupEntry.moc"
