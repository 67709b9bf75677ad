#include "capture/CountryLookup.h"
#include "core/LogSink.h"
#include "core/Paths.h"
#include "tests/capture/CountryOracle.h"
#include "tests/mock/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_CountryLookup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void IpToNumber_data();
    void IpToNumber();
    void getcountry_data();
    void getcountry();
    void absentFile();
    void fileAppearsAndDisappears();
    void rebuildOnChange();
    void noRebuildWithoutChange();
    void quotedExtractMatchesLinearScan();
    void quotedExtractKnownAnswers_data();
    void quotedExtractKnownAnswers();
    void shippedFileFromDataFolder();
    void shippedFileMatchesLinearScan();
    void userFileWins();
    void longLineStopsReading();
    void fileLimitStopsReading();
    void ipv6_data();
    void ipv6();
    void ipv6NeverReadAsIpv4Number();
    void ipv6ShippedFile_data();
    void ipv6ShippedFile();
    void ipv6ShippedFileMatchesLinearScan();
    void ipv6UserFileWins();
    void refusedOverRangeBound();
    void refusedOverNameBound();
    void firstLookupWaitsForTheFirstIndex();
    void backgroundBuildKeepsOldIndexUntilReady();
    void codesByName();

private:
    QString write(const QByteArray &content, const QString &name = QStringLiteral("GeoIPCountryWhois.csv"));
    static QString extractPath();
    QTemporaryDir m_dir;
};

void tst_CountryLookup::init()
{
    QVERIFY(m_dir.isValid());
}

QString tst_CountryLookup::write(const QByteArray &content, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(content);
    return path;
}

QString tst_CountryLookup::extractPath()
{
    return QStringLiteral(VISTELLE_CAPTURE_TESTDATA "/GeoIPCountryWhois-quoted-extract.csv");
}

void tst_CountryLookup::IpToNumber_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<double>("number");
    QTest::newRow("1.2.3.4") << QStringLiteral("1.2.3.4") << 16909060.0;
    QTest::newRow("zero") << QStringLiteral("0.0.0.0") << 0.0;
    QTest::newRow("highest") << QStringLiteral("255.255.255.255") << 4294967295.0;
    QTest::newRow("part modulo 256") << QStringLiteral("256.1.1.1") << 65793.0;
    QTest::newRow("part 300") << QStringLiteral("1.300.0.1") << (16777216.0 + 44 * 65536.0 + 1);
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << 16909056.0;
    QTest::newRow("one part") << QStringLiteral("7") << 7.0 * 16777216;
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << 16909060.0;
    QTest::newRow("country after blank") << QStringLiteral("1.2.3.4 Germany") << 16909060.0;
    QTest::newRow("leading blank") << QStringLiteral(" 1.2.3.4") << 16909060.0;
    QTest::newRow("exponent") << QStringLiteral("1e1.0.0.0") << 10.0 * 16777216;
    QTest::newRow("negative part keeps sign") << QStringLiteral("0.0.0.-1") << -1.0;
    QTest::newRow("fraction cut") << QStringLiteral("0.0.1.9.7") << 265.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("ipv6") << QStringLiteral("::1") << 0.0;
    QTest::newRow("empty parts") << QStringLiteral("1...4") << (16777216.0 + 4);
}

void tst_CountryLookup::IpToNumber()
{
    QFETCH(QString, ip);
    QFETCH(double, number);
    QCOMPARE(CountryLookup::IpToNumber(ip), number);
}

void tst_CountryLookup::getcountry_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("country");

    const QByteArray au = "\"1.0.0.0\",\"1.0.0.255\",16777216,16777471,\"AU\",Australia\n"
                          "\"1.0.1.0\",\"1.0.3.255\",16777472,16778239,\"CN\",China\n"
                          "\"1.0.8.0\",\"1.0.15.255\",16779264,16781311,\"CN\",China\n";
    QTest::newRow("first number") << au << QStringLiteral("1.0.0.0") << QStringLiteral("Australia");
    QTest::newRow("last number") << au << QStringLiteral("1.0.0.255") << QStringLiteral("Australia");
    QTest::newRow("next range") << au << QStringLiteral("1.0.1.0") << QStringLiteral("China");
    QTest::newRow("gap between ranges") << au << QStringLiteral("1.0.4.0") << QString();
    QTest::newRow("below all") << au << QStringLiteral("0.255.255.255") << QString();
    QTest::newRow("above all") << au << QStringLiteral("1.0.16.0") << QString();
    QTest::newRow("address with country") << au << QStringLiteral("1.0.2.7 China") << QStringLiteral("China");

    const QByteArray overlap = "a,b,100,200,X,Wide\n"
                               "a,b,150,160,Y,Narrow\n";
    QTest::newRow("overlap: top line wins") << overlap << QStringLiteral("0.0.0.155") << QStringLiteral("Wide");
    const QByteArray overlapReversed = "a,b,150,160,Y,Narrow\n"
                                       "a,b,100,200,X,Wide\n";
    QTest::newRow("overlap reversed: nested first")
        << overlapReversed << QStringLiteral("0.0.0.155") << QStringLiteral("Narrow");
    QTest::newRow("overlap reversed: outer part")
        << overlapReversed << QStringLiteral("0.0.0.161") << QStringLiteral("Wide");
    QTest::newRow("overlap reversed: outer start")
        << overlapReversed << QStringLiteral("0.0.0.100") << QStringLiteral("Wide");
    const QByteArray unsorted = "a,b,300,400,X,High\n"
                                "a,b,10,20,Y,Low\n";
    QTest::newRow("unsorted") << unsorted << QStringLiteral("0.0.0.15") << QStringLiteral("Low");

    QTest::newRow("quoted numbers") << QByteArray(
        "\"1.0.0.0\",\"1.0.0.255\",\"16777216\",\"16777471\",\"AU\",\"Australia\"\n")
                                    << QStringLiteral("1.0.0.9") << QStringLiteral("\"Australia\"");
    QTest::newRow("quoted with blanks") << QByteArray("a,b, \"10\" , \"20\" ,X,Name\n") << QStringLiteral("0.0.0.20")
                                        << QStringLiteral("Name");
    QTest::newRow("one-sided quote reads 0")
        << QByteArray("a,b,\"10,20,X,Name\n") << QStringLiteral("0.0.0.0") << QStringLiteral("Name");
    QTest::newRow("one-sided quote lower bound")
        << QByteArray("a,b,\"10,20,X,Name\n") << QStringLiteral("0.0.0.21") << QString();
    QTest::newRow("comma in name") << QByteArray("a,b,10,20,\"KR\",\"Korea, Republic of\"\n")
                                   << QStringLiteral("0.0.0.10") << QStringLiteral(" Republic of\"");
    QTest::newRow("name unchanged") << QByteArray("a,b,10,20,DE,Germany \n") << QStringLiteral("0.0.0.10")
                                    << QStringLiteral("Germany ");
    QTest::newRow("four commas: name is field 5")
        << QByteArray("a,b,10,20,Name\n") << QStringLiteral("0.0.0.11") << QStringLiteral("Name");
    QTest::newRow("CR LF line ends") << QByteArray("a,b,10,20,X,First\r\na,b,21,30,Y,Second\r\n")
                                     << QStringLiteral("0.0.0.25") << QStringLiteral("Second");
    QTest::newRow("CR line ends") << QByteArray("a,b,10,20,X,First\ra,b,21,30,Y,Second\r") << QStringLiteral("0.0.0.12")
                                  << QStringLiteral("First");
    QTest::newRow("no final line end") << QByteArray("a,b,10,20,X,First\na,b,21,30,Y,Last")
                                       << QStringLiteral("0.0.0.30") << QStringLiteral("Last");
    QTest::newRow("fractional bounds: inside")
        << QByteArray("a,b,1.5,3.5,X,Frac\n") << QStringLiteral("0.0.0.2") << QStringLiteral("Frac");
    QTest::newRow("fractional bounds: below")
        << QByteArray("a,b,1.5,3.5,X,Frac\n") << QStringLiteral("0.0.0.1") << QString();
    QTest::newRow("fractional bounds: above")
        << QByteArray("a,b,1.5,3.5,X,Frac\n") << QStringLiteral("0.0.0.4") << QString();
    QTest::newRow("text bounds read 0") << QByteArray("a,b,abc,xyz,X,Zero\n") << QStringLiteral("0.0.0.0")
                                        << QStringLiteral("Zero");
    QTest::newRow("empty range") << QByteArray("a,b,20,10,X,Never\n") << QStringLiteral("0.0.0.15") << QString();
    QTest::newRow("negative address") << QByteArray("a,b,-5,5,X,Around\n") << QStringLiteral("0.0.0.-3")
                                      << QStringLiteral("Around");
    QTest::newRow("UTF-8 name") << QByteArray("a,b,10,20,X,C\xc3\xb4te d'Ivoire\n") << QStringLiteral("0.0.0.10")
                                << QStringLiteral("C\u00f4te d'Ivoire");

    // A line with fewer than four commas reuses the bounds of the line before it; before the
    // first line they are 0 and 0.
    QTest::newRow("short first line: bounds 0 and 0")
        << QByteArray("header,text\na,b,10,20,X,A\n") << QStringLiteral("0.0.0.0") << QStringLiteral("text");
    QTest::newRow("short first line without comma")
        << QByteArray("Nocomma\na,b,10,20,X,A\n") << QStringLiteral("0.0.0.0") << QStringLiteral("Nocomma");
    QTest::newRow("short line: earlier equal range wins")
        << QByteArray("a,b,10,20,X,A\nshort,B\na,b,21,30,Y,C\n") << QStringLiteral("0.0.0.15") << QStringLiteral("A");
    QTest::newRow("short line: later lines still read")
        << QByteArray("a,b,10,20,X,A\nshort,B\na,b,21,30,Y,C\n") << QStringLiteral("0.0.0.21") << QStringLiteral("C");
    QTest::newRow("short line after empty range")
        << QByteArray("a,b,20,10,X,A\nthree,commas,here,B\n") << QStringLiteral("0.0.0.15") << QString();
    QTest::newRow("short line with a gap earlier")
        << QByteArray("a,b,5,6,X,A\na,b,10,20,X,Wide\nshort,B\n") << QStringLiteral("0.0.0.7") << QString();
    QTest::newRow("empty line") << QByteArray("\na,b,10,20,X,A\n") << QStringLiteral("0.0.0.0") << QString();
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("0.0.0.0") << QString();
}

void tst_CountryLookup::getcountry()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, ip);
    QFETCH(QString, country);
    const QString path = write(content);
    CountryLookup lookup(path);
    QCOMPARE(lookup.getcountry(ip), country);
    // The linear scan agrees.
    QCOMPARE(CountryOracle::lookup(CountryOracle::parse(CountryOracle::readLines(path)), CountryLookup::IpToNumber(ip)),
        country);
}

void tst_CountryLookup::absentFile()
{
    CountryLookup lookup(m_dir.filePath(QStringLiteral("missing.csv")));
    QVERIFY(!lookup.fileExists());
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.0.1")), QString());
    QVERIFY(!lookup.refresh());
}

void tst_CountryLookup::fileAppearsAndDisappears()
{
    const QString path = m_dir.filePath(QStringLiteral("late.csv"));
    ManualClock clock;
    CountryLookup lookup(path, CountryLookup::Limits(), clock);
    QVERIFY(!lookup.fileExists());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QString());
    QCOMPARE(write("a,b,10,20,X,Here\n", QStringLiteral("late.csv")), path);
    // Within the recheck interval the last check stands; once it has passed the file is seen.
    clock.advance(999);
    QVERIFY(!lookup.fileExists());
    clock.advance(1);
    QVERIFY(lookup.fileExists());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Here"));
    QVERIFY(QFile::remove(path));
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Here"));
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QString());
    QVERIFY(!lookup.fileExists());
}

void tst_CountryLookup::rebuildOnChange()
{
    const QString path = write("a,b,10,20,X,Before\n");
    ManualClock clock;
    CountryLookup lookup(path, CountryLookup::Limits(), clock);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Before"));
    const QDateTime stamp = QFileInfo(path).lastModified();

    // Same size, newer time.
    write("a,b,10,20,X,Later!\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(stamp.addSecs(5), QFileDevice::FileModificationTime));
    }
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Later!"));

    // Other size, the same time as before.
    write("a,b,10,20,X,Changed again\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(stamp.addSecs(5), QFileDevice::FileModificationTime));
    }
    // refresh() checks at once, whatever the interval.
    QVERIFY(lookup.refresh());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Changed again"));
    QCOMPARE(lookup.buildCount(), 3);
}

void tst_CountryLookup::noRebuildWithoutChange()
{
    const QString path = write("a,b,10,20,X,Same\n");
    ManualClock clock;
    CountryLookup lookup(path, CountryLookup::Limits(), clock);
    for (int i = 0; i < 50; ++i, clock.advance(400))
        QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.") + QString::number(i)),
            (i >= 10 && i <= 20) ? QStringLiteral("Same") : QString());
    QCOMPARE(lookup.buildCount(), 1);
}

void tst_CountryLookup::quotedExtractMatchesLinearScan()
{
    const QStringList lines = CountryOracle::readLines(extractPath());
    QVERIFY(lines.size() > 2000);
    const QList<CountryOracle::Entry> entries = CountryOracle::parse(lines);
    CountryLookup lookup(extractPath());
    QVERIFY(lookup.refresh());
    QVERIFY(lookup.names().size() > 50);
    // Every bound of every range and its neighbours: where first-match decisions change.
    int checked = 0;
    for (const QString &line : lines) {
        const QStringList fields = line.split(u',');
        const double first = CountryOracle::field(fields.at(2));
        const double last = CountryOracle::field(fields.at(3));
        QVERIFY2(first > 0, qPrintable(line));
        for (double n : { first - 1, first, first + 1, last - 1, last, last + 1 }) {
            const QString expected = CountryOracle::lookup(entries, n);
            const QString actual = lookup.countryForNumber(qint64(n));
            if (actual != expected)
                QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3").arg(n).arg(actual, expected)));
            ++checked;
        }
    }
    QVERIFY(checked > 12000);
    QCOMPARE(lookup.buildCount(), 1);
}

void tst_CountryLookup::quotedExtractKnownAnswers_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("country");
    QTest::newRow("first line") << QStringLiteral("1.0.0.0") << QStringLiteral("\"Australia\"");
    // 2.58.197.15 has a line of its own (Belgium), after the German range that holds it.
    QTest::newRow("nested line loses") << QStringLiteral("2.58.197.15") << QStringLiteral("\"Germany\"");
    QTest::newRow("comma name") << QStringLiteral("1.11.0.1") << QStringLiteral(" Republic of\"");
}

void tst_CountryLookup::quotedExtractKnownAnswers()
{
    QFETCH(QString, ip);
    QFETCH(QString, country);
    CountryLookup lookup(extractPath());
    QCOMPARE(lookup.getcountry(ip), country);
}

void tst_CountryLookup::shippedFileFromDataFolder()
{
    CountryLookup lookup;
    QVERIFY2(lookup.fileExists(), qPrintable(lookup.fileName()));
    QVERIFY(!lookup.fileName().startsWith(Paths::userDataDir()));
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.0.0")), QStringLiteral("Australia"));
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.1.255")), QStringLiteral("China"));
    QVERIFY(lookup.lineCount() > 300000);
    QCOMPARE(lookup.getcountry(QStringLiteral("81.2.69.160")), QStringLiteral("United Kingdom"));
    // Special-purpose addresses have no country.
    for (const char *address : { "0.0.0.1", "10.1.2.3", "100.64.0.1", "127.0.0.1", "169.254.1.1", "172.16.0.1",
             "192.0.2.5", "192.168.1.1", "198.51.100.7", "203.0.113.9", "224.0.0.1", "255.255.255.255" })
        QVERIFY2(lookup.getcountry(QString::fromLatin1(address)).isEmpty(), address);
}

void tst_CountryLookup::shippedFileMatchesLinearScan()
{
    CountryLookup lookup;
    const QList<CountryOracle::Entry> entries = CountryOracle::parse(CountryOracle::readLines(lookup.fileName()));
    QVERIFY(entries.size() > 300000);
    QRandomGenerator random(20261207);
    int named = 0;
    for (int i = 0; i < 60; ++i) {
        const quint32 n = random.generate();
        const QString ip
            = QStringLiteral("%1.%2.%3.%4").arg(n >> 24).arg((n >> 16) & 255).arg((n >> 8) & 255).arg(n & 255);
        const QString expected = CountryOracle::lookup(entries, double(n));
        QCOMPARE(lookup.getcountry(ip), expected);
        named += expected.isEmpty() ? 0 : 1;
    }
    QVERIFY(named > 20);
}

void tst_CountryLookup::userFileWins()
{
    const QString userDir = Paths::userDataDir();
    QVERIFY(QDir().mkpath(userDir));
    const QString userFile = userDir + QStringLiteral("/GeoIPCountryWhois.csv");
    ManualClock clock;
    CountryLookup lookup(QString(), CountryLookup::Limits(), clock);
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.0.0")), QStringLiteral("Australia"));
    {
        QFile file(userFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("a,b,16777216,16777216,X,Mine\n");
    }
    QCOMPARE(lookup.fileName(), userFile);
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.0.0")), QStringLiteral("Mine"));
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.1.0")), QString());
    QVERIFY(QFile::remove(userFile));
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("1.0.1.0")), QStringLiteral("China"));
}

void tst_CountryLookup::longLineStopsReading()
{
    QByteArray content = "a,b,10,20,X,First\n";
    content += "a,b,30,40,X," + QByteArray(5000, 'n') + '\n';
    content += "a,b,50,60,X,After\n";
    CountryLookup::Limits limits;
    limits.maxLineBytes = 1000;
    CountryLookup lookup(write(content), limits);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("First"));
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.35")), QString());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.55")), QString());
}

void tst_CountryLookup::fileLimitStopsReading()
{
    QByteArray content;
    for (int i = 0; i < 1000; ++i)
        content += "a,b," + QByteArray::number(i * 10) + ',' + QByteArray::number(i * 10 + 9) + ",X,N"
            + QByteArray::number(i) + '\n';
    CountryLookup::Limits limits;
    limits.maxFileBytes = 4096;
    CountryLookup lookup(write(content), limits);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.5")), QStringLiteral("N0"));
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.39.0")), QString()); // 9984: line 999, beyond the limit
    QVERIFY(lookup.lineCount() > 100);
    QVERIFY(lookup.lineCount() < 300);
}

void tst_CountryLookup::ipv6_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("country");

    const QByteArray file = "\"2001:200::\",\"2001:218:2000:51:ffff:ffff:ffff:ffff\",\"AU\",Australia\n"
                            "\"2a02:8100::\",\"2a02:8107:ffff:ffff:ffff:ffff:ffff:ffff\",\"NL\",Netherlands\n"
                            "\"2a02:8108::\",\"2a02:8109:ffff:ffff:ffff:ffff:ffff:ffff\",\"DE\",Germany\n";
    QTest::newRow("inside") << file << QStringLiteral("2a02:8108::5") << QStringLiteral("Germany");
    QTest::newRow("first address") << file << QStringLiteral("2a02:8108::") << QStringLiteral("Germany");
    QTest::newRow("last address") << file << QStringLiteral("2a02:8109:ffff:ffff:ffff:ffff:ffff:ffff")
                                  << QStringLiteral("Germany");
    QTest::newRow("adjacent range") << file << QStringLiteral("2a02:8107:ffff::1") << QStringLiteral("Netherlands");
    QTest::newRow("gap") << file << QStringLiteral("2a02:810a::1") << QString();
    QTest::newRow("below all") << file << QStringLiteral("::1") << QString();
    QTest::newRow("above all") << file << QStringLiteral("ffff::1") << QString();
    QTest::newRow("long form, upper case")
        << file << QStringLiteral("2A02:8108:0000:0000:0000:0000:0000:0005") << QStringLiteral("Germany");
    QTest::newRow("country after blank") << file << QStringLiteral("2a02:8108::5 Germany") << QStringLiteral("Germany");
    QTest::newRow("blanks around") << file << QStringLiteral("  2a02:8108::5 ") << QStringLiteral("Germany");
    QTest::newRow("zone is no address") << file << QStringLiteral("2a02:8108::5%eth0") << QString();
    QTest::newRow("bad text") << file << QStringLiteral("2a02:8108:::5") << QString();
    QTest::newRow("colon only") << file << QStringLiteral(":") << QString();
    QTest::newRow("too many fields") << file << QStringLiteral("1:2:3:4:5:6:7:8:9") << QString();
    QTest::newRow("non-ASCII") << file << QStringLiteral("2a02:8108::\u0665") << QString();
    QTest::newRow("embedded IPv4 part") << file << QStringLiteral("2a02:8108::1.2.3.4") << QStringLiteral("Germany");

    const QByteArray nested = "2001:db8::,2001:db8:ffff:ffff:ffff:ffff:ffff:ffff,XA,Wide\n"
                              "2001:db8:1::,2001:db8:1:ffff:ffff:ffff:ffff:ffff,XB,Narrow\n";
    QTest::newRow("overlap: top line wins") << nested << QStringLiteral("2001:db8:1::9") << QStringLiteral("Wide");
    const QByteArray reversed = "2001:db8:1::,2001:db8:1:ffff:ffff:ffff:ffff:ffff,XB,Narrow\n"
                                "2001:db8::,2001:db8:ffff:ffff:ffff:ffff:ffff:ffff,XA,Wide\n";
    QTest::newRow("overlap reversed: nested")
        << reversed << QStringLiteral("2001:db8:1::9") << QStringLiteral("Narrow");
    QTest::newRow("overlap reversed: outer") << reversed << QStringLiteral("2001:db8:2::") << QStringLiteral("Wide");

    const QByteArray top = "\"ffff::\",\"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\",\"XT\",Top\n"
                           "\"::\",\"::ffff\",\"XL\",Low\n";
    QTest::newRow("last address of the space")
        << top << QStringLiteral("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff") << QStringLiteral("Top");
    QTest::newRow("first address of the space") << top << QStringLiteral("::") << QStringLiteral("Low");

    // MaxMind's legacy IPv6 layout: blanks after the commas, numbers, the name in quotes (kept).
    const QByteArray legacy = "\"2001:200::\", \"2001:200:ffff:ffff:ffff:ffff:ffff:ffff\", "
                              "\"42540528726795050063891204319802818560\", "
                              "\"42540528806023212578155541913346768895\", \"JP\", \"Japan\"\n";
    QTest::newRow("legacy layout") << legacy << QStringLiteral("2001:200::1") << QStringLiteral(" \"Japan\"");

    QTest::newRow("header line skipped") << QByteArray("first,last,code,name\n2001:db8::,2001:db8::ff,X,Doc\n")
                                         << QStringLiteral("2001:db8::7") << QStringLiteral("Doc");
    QTest::newRow("empty range skipped") << QByteArray("2001:db8::ff,2001:db8::1,X,Never\n")
                                         << QStringLiteral("2001:db8::7") << QString();
    QTest::newRow("IPv4 texts are no IPv6 range")
        << QByteArray("1.0.0.0,1.0.0.255,X,Never\n") << QStringLiteral("::1.0.0.7") << QString();
    QTest::newRow("one field only") << QByteArray("2001:db8::\n") << QStringLiteral("2001:db8::") << QString();
}

void tst_CountryLookup::ipv6()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, ip);
    QFETCH(QString, country);
    CountryLookup lookup(write("a,b,0,4294967295,ZZ,Every IPv4 address\n"));
    lookup.setIpv6FileName(write(content, QStringLiteral("v6.csv")));
    QCOMPARE(lookup.getcountry(ip), country);
}

void tst_CountryLookup::ipv6NeverReadAsIpv4Number()
{
    // "2a02:8108::5" read as a dotted address would be the number 2 × 16777216, a US range.
    CountryLookup lookup(write("a,b,0,4294967295,US,United States\n"));
    lookup.setIpv6FileName(m_dir.filePath(QStringLiteral("no-ipv6-file.csv")));
    QCOMPARE(lookup.getcountry(QStringLiteral("2a02:8108::5")), QString());
    QCOMPARE(lookup.getcountry(QStringLiteral("::1")), QString());
    // An IPv4 visitor seen through an IPv6 socket is looked up in the IPv4 file.
    QCOMPARE(lookup.getcountry(QStringLiteral("::ffff:192.0.2.1")), QStringLiteral("United States"));
    QCOMPARE(lookup.countryForIpv6(*VisitorAddress::parseIpv6(u"::ffff:c000:201")), QStringLiteral("United States"));
}

void tst_CountryLookup::ipv6ShippedFile_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("country");
    QTest::newRow("the German range of the report") << QStringLiteral("2a02:8108::5") << QStringLiteral("Germany");
    // Where the networks are used, not the registry's default for their region.
    QTest::newRow("WIDE") << QStringLiteral("2001:200::1") << QStringLiteral("Japan");
    QTest::newRow("CERNET") << QStringLiteral("2001:da8:8000::1") << QStringLiteral("China");
    QTest::newRow("documentation") << QStringLiteral("2001:db8::1") << QString();
    QTest::newRow("loopback") << QStringLiteral("::1") << QString();
    QTest::newRow("link-local") << QStringLiteral("fe80::1") << QString();
    QTest::newRow("unique local") << QStringLiteral("fd00::1") << QString();
    QTest::newRow("mapped IPv4 address") << QStringLiteral("::ffff:1.0.0.1") << QStringLiteral("Australia");
}

void tst_CountryLookup::ipv6ShippedFile()
{
    QFETCH(QString, ip);
    QFETCH(QString, country);
    CountryLookup lookup;
    QVERIFY2(QFile::exists(lookup.ipv6FileName()), qPrintable(lookup.ipv6FileName()));
    QVERIFY(!lookup.ipv6FileName().startsWith(Paths::userDataDir()));
    QCOMPARE(lookup.getcountry(ip), country);
}

namespace {

struct V6Entry
{
    Ipv6Number first;
    Ipv6Number last;
    QString name;
};

// The IPv6 lookup done the slow way: the first line whose range holds the address.
QList<V6Entry> parseV6(const QString &path)
{
    QList<V6Entry> entries;
    for (const QString &line : CountryOracle::readLines(path)) {
        const QStringList fields = line.split(u',');
        if (fields.size() < 3)
            continue;
        const auto strip = [](QString text) { return text.remove(u'"').trimmed(); };
        const std::optional<Ipv6Number> first = VisitorAddress::parseIpv6(strip(fields[0]));
        const std::optional<Ipv6Number> last = VisitorAddress::parseIpv6(strip(fields[1]));
        if (first && last)
            entries.append({ *first, *last, fields.last() });
    }
    return entries;
}

} // namespace

void tst_CountryLookup::ipv6ShippedFileMatchesLinearScan()
{
    CountryLookup lookup;
    const QList<V6Entry> entries = parseV6(lookup.ipv6FileName());
    QVERIFY(entries.size() > 200000);
    QRandomGenerator random(20261208);
    int named = 0;
    for (int i = 0; i < 400; ++i) {
        // Addresses near the bounds of random ranges, and random addresses in 2000::/3.
        Ipv6Number address;
        const V6Entry &entry = entries.at(random.bounded(int(entries.size())));
        switch (i % 4) {
        case 0:
            address = entry.first;
            break;
        case 1:
            address = entry.last;
            break;
        case 2:
            address = Ipv6Number { entry.last.hi, entry.last.lo + 1 };
            break;
        default:
            address = Ipv6Number { (quint64(0x2000) << 48) | (random.generate64() >> 3), random.generate64() };
        }
        QString expected;
        for (const V6Entry &e : entries) {
            if (!(address < e.first) && !(e.last < address)) {
                expected = e.name;
                break;
            }
        }
        const QString text = VisitorAddress::ipv6Text(address);
        QCOMPARE(lookup.getcountry(text), expected);
        named += expected.isEmpty() ? 0 : 1;
    }
    QVERIFY(named > 250);
    QCOMPARE(lookup.ipv6BuildCount(), 1);
}

void tst_CountryLookup::ipv6UserFileWins()
{
    const QString userDir = Paths::userDataDir();
    QVERIFY(QDir().mkpath(userDir));
    const QString userFile = userDir + QStringLiteral("/GeoIPv6CountryWhois.csv");
    ManualClock clock;
    CountryLookup lookup(QString(), CountryLookup::Limits(), clock);
    QCOMPARE(lookup.getcountry(QStringLiteral("2a02:8108::5")), QStringLiteral("Germany"));
    {
        QFile file(userFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("2a02:8108::,2a02:8108::ffff,X,Mine\n");
    }
    QCOMPARE(lookup.ipv6FileName(), userFile);
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("2a02:8108::5")), QStringLiteral("Mine"));
    QCOMPARE(lookup.getcountry(QStringLiteral("2001:200::1")), QString());
    QVERIFY(QFile::remove(userFile));
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("2001:200::1")), QStringLiteral("Japan"));
}

void tst_CountryLookup::refusedOverRangeBound()
{
    CountryLookup::Limits limits;
    limits.maxRanges = 3;
    const QByteArray three = "a,b,10,19,X,A\na,b,20,29,X,B\na,b,30,39,X,C\n";
    {
        CountryLookup lookup(write(three), limits);
        QSignalSpy notices(&Logger::instance(), &Logger::messageAdded);
        QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.35")), QStringLiteral("C"));
        QCOMPARE(notices.size(), 0);
    }
    // One range more, even an overlapping one: the file is not used at all, and says so once.
    const QString path = write(three + "a,b,0,100,X,D\n");
    ManualClock clock;
    CountryLookup lookup(path, limits, clock);
    QSignalSpy notices(&Logger::instance(), &Logger::messageAdded);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QString());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.50")), QString());
    clock.advance(5000);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QString());
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.at(0).at(0).toString(),
        QStringLiteral("Country file %1 not used: it holds more than 3 ranges").arg(path));
    QCOMPARE(lookup.pieceCount(), 0);

    // The same bound for IPv6 files.
    lookup.setIpv6FileName(write("::1,::1,X,A\n::2,::2,X,B\n::3,::3,X,C\n::4,::4,X,D\n", QStringLiteral("v6.csv")));
    QCOMPARE(lookup.getcountry(QStringLiteral("::1")), QString());
    QCOMPARE(notices.size(), 2);
    QVERIFY(notices.at(1).at(0).toString().endsWith(QStringLiteral("v6.csv not used: it holds more than 3 ranges")));
}

void tst_CountryLookup::refusedOverNameBound()
{
    CountryLookup::Limits limits;
    limits.maxNameBytes = 100;
    // Repeated names count once.
    QByteArray content;
    for (int i = 0; i < 50; ++i)
        content += "a,b," + QByteArray::number(i * 10) + ',' + QByteArray::number(i * 10 + 9) + ",X,"
            + QByteArray(40, char('a' + i % 2)) + '\n';
    CountryLookup used(write(content), limits);
    QCOMPARE(used.getcountry(QStringLiteral("0.0.0.15")), QString(40, u'b'));
    content += "a,b,1000,1001,X," + QByteArray(40, 'c') + '\n';
    CountryLookup refused(write(content, QStringLiteral("names.csv")), limits);
    QSignalSpy notices(&Logger::instance(), &Logger::messageAdded);
    QCOMPARE(refused.getcountry(QStringLiteral("0.0.0.15")), QString());
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.at(0).at(0).toString().contains(QStringLiteral("names take more than 100 bytes")));
}

void tst_CountryLookup::firstLookupWaitsForTheFirstIndex()
{
    // A visit right after the start gets its country although the index is still being built.
    const QString path = write("a,b,10,20,X,First\n");
    ManualClock clock;
    CountryLookup lookup(path, CountryLookup::Limits(), clock);
    lookup.setIpv6FileName(m_dir.filePath(QStringLiteral("none.csv")));
    lookup.setBuilding(CountryLookup::Building::InBackground);
    lookup.checkFiles();
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("First"));
}

void tst_CountryLookup::backgroundBuildKeepsOldIndexUntilReady()
{
    const QString path = write("a,b,10,20,X,Old\n");
    ManualClock clock;
    CountryLookup lookup(path, CountryLookup::Limits(), clock);
    lookup.setIpv6FileName(m_dir.filePath(QStringLiteral("none.csv")));
    lookup.setBuilding(CountryLookup::Building::InBackground);
    QSignalSpy replaced(&lookup, &CountryLookup::indexReplaced);
    lookup.checkFiles();
    QTRY_VERIFY(!lookup.isBuilding());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Old"));

    // The new file is a pipe that delivers its lines only when the test says so: the build
    // waits for them on its thread, and lookups meanwhile get the old index's answer.
    const QString pipe = m_dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QVERIFY(::rename(QFile::encodeName(pipe).constData(), QFile::encodeName(path).constData()) == 0);
    clock.advance(1000);
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Old"));
    QVERIFY(lookup.isBuilding());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("Old"));

    const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY);
    QVERIFY(writer >= 0);
    const QByteArray next = "a,b,10,20,X,New\n";
    QCOMPARE(::write(writer, next.constData(), size_t(next.size())), ssize_t(next.size()));
    ::close(writer);
    QTRY_VERIFY(!lookup.isBuilding());
    QCOMPARE(lookup.getcountry(QStringLiteral("0.0.0.15")), QStringLiteral("New"));
    QVERIFY(replaced.size() >= 2);
}

// The relay's country codes: from both file forms, names with quotes, lines that are no range.
void tst_CountryLookup::codesByName()
{
    const QString v4 = write("\"1.0.0.0\",\"1.0.0.255\",16777216,16777471,\"AU\",Australia\r\n"
                             "\"1.0.1.0\",\"1.0.1.255\",16777472,16777727,\"AU\",Australia\n"
                             "not a range\n"
                             "\"2.0.0.0\",\"2.0.0.255\",33554432,33554687,\"KR\",\"Korea, Republic of\"\n",
        QStringLiteral("codes-v4.csv"));
    const QString v6
        = write("\"2001:2::\",\"2001:2:0:ffff:ffff:ffff:ffff:ffff\",\"JP\",Japan\n", QStringLiteral("codes-v6.csv"));
    QHash<QString, QString> codes = CountryLookup::codesByName(v4);
    codes.insert(CountryLookup::codesByName(v6));
    const QHash<QString, QString> expected { { QStringLiteral("Australia"), QStringLiteral("AU") },
        { QStringLiteral("Korea, Republic of"), QStringLiteral("KR") },
        { QStringLiteral("Japan"), QStringLiteral("JP") } };
    QCOMPARE(codes, expected);
    QVERIFY(CountryLookup::codesByName(m_dir.filePath(QStringLiteral("absent.csv"))).isEmpty());
}

QTEST_GUILESS_MAIN(tst_CountryLookup)
#include "tst_CountryLookup.moc"
