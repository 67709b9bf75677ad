#include "core/Paths.h"
#include "engine/CommandLine.h"

#include <QCoreApplication>
#include <QTest>

#include <vector>

Q_DECLARE_METATYPE(CommandLine::Action)

namespace {
// The raw arguments main() gets: the program's name, then these.
class Argv
{
public:
    explicit Argv(const QStringList &arguments)
    {
        m_bytes.push_back("vistelle");
        for (const QString &argument : arguments)
            m_bytes.push_back(argument.toLocal8Bit());
        for (const QByteArray &b : m_bytes)
            m_pointers.push_back(b.constData());
        m_pointers.push_back(nullptr);
    }
    int count() const { return int(m_bytes.size()); }
    const char *const *data() const { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_bytes;
    std::vector<const char *> m_pointers;
};
} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void needsNoDisplay_data();
    void needsNoDisplay();
    void preferredPlatform_data();
    void preferredPlatform();
    void helpNamesOptionsEnvironmentAndFolders();
    void versionText();
};

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CommandLine::Action>("action");
    QTest::addColumn<bool>("headless");
    using A = CommandLine::Action;
    QTest::newRow("nothing") << QStringList {} << A::Run << false;
    QTest::newRow("headless") << QStringList { "--headless" } << A::Run << true;
    QTest::newRow("help") << QStringList { "--help" } << A::ShowHelp << false;
    QTest::newRow("short help") << QStringList { "-h" } << A::ShowHelp << false;
    QTest::newRow("help with Qt's options") << QStringList { "--help-all" } << A::ShowHelp << false;
    QTest::newRow("version") << QStringList { "--version" } << A::ShowVersion << false;
    QTest::newRow("short version") << QStringList { "-v" } << A::ShowVersion << false;
    QTest::newRow("help wins over version") << QStringList { "--version", "--help" } << A::ShowHelp << false;
    QTest::newRow("headless and version") << QStringList { "--headless", "--version" } << A::ShowVersion << true;
    QTest::newRow("unknown option") << QStringList { "--port=80" } << A::Fail << false;
    QTest::newRow("single dash long name") << QStringList { "-headless" } << A::Fail << false;
    QTest::newRow("value for a flag") << QStringList { "--headless=1" } << A::Fail << false;
    QTest::newRow("stray argument") << QStringList { "page.html" } << A::Fail << false;
}

void tst_CommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(CommandLine::Action, action);
    QFETCH(bool, headless);
    arguments.prepend(QStringLiteral("/usr/bin/vistelle"));
    const CommandLine result = CommandLine::parse(arguments);
    QCOMPARE(result.action, action);
    if (action != CommandLine::Action::Fail)
        QCOMPARE(result.headless, headless);
    QCOMPARE(result.error.isEmpty(), action != CommandLine::Action::Fail);
    QVERIFY(!result.error.contains(u'\n'));
}

void tst_CommandLine::needsNoDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("expected");
    QTest::newRow("nothing") << QStringList {} << false;
    QTest::newRow("headless") << QStringList { "--headless" } << true;
    QTest::newRow("help after a Qt option") << QStringList { "-platform", "xcb", "--help" } << true;
    QTest::newRow("short help") << QStringList { "-h" } << true;
    QTest::newRow("question mark") << QStringList { "-?" } << true;
    QTest::newRow("version") << QStringList { "--version" } << true;
    QTest::newRow("a Qt option only") << QStringList { "-style", "fusion" } << false;
    QTest::newRow("near miss") << QStringList { "--headles" } << false;
}

void tst_CommandLine::preferredPlatform_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("qpa");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QString>("platform"); // null: Qt's own choice
    QTest::newRow("Wayland with XWayland")
        << QStringList {} << QByteArray() << QByteArray("wayland-0") << QByteArray(":0") << QStringLiteral("xcb");
    QTest::newRow("Wayland only") << QStringList {} << QByteArray() << QByteArray("wayland-0") << QByteArray()
                                  << QString();
    QTest::newRow("X11 only") << QStringList {} << QByteArray() << QByteArray() << QByteArray(":0") << QString();
    QTest::newRow("the user's variable") << QStringList {} << QByteArray("wayland") << QByteArray("wayland-0")
                                         << QByteArray(":0") << QString();
    QTest::newRow("the user's option") << QStringList { "-platform", "wayland" } << QByteArray()
                                       << QByteArray("wayland-0") << QByteArray(":0") << QString();
}

void tst_CommandLine::preferredPlatform()
{
    QFETCH(QStringList, arguments);
    const Argv argv(arguments);
    QFETCH(QByteArray, qpa);
    QFETCH(QByteArray, wayland);
    QFETCH(QByteArray, display);
    QFETCH(QString, platform);
    const std::optional<QString> chosen
        = CommandLine::preferredPlatform(argv.count(), argv.data(), qpa, wayland, display);
    QCOMPARE(chosen.value_or(QString()), platform);
}

void tst_CommandLine::needsNoDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, expected);
    const Argv argv(arguments);
    QCOMPARE(CommandLine::needsNoDisplay(argv.count(), argv.data()), expected);
}

void tst_CommandLine::helpNamesOptionsEnvironmentAndFolders()
{
    const QString text = CommandLine::helpText();
    for (const char *word : { "--headless", "--help", "--version", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME",
             "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "RizidirUduzidodirer.conf", "vistelle.lock" })
        QVERIFY2(text.contains(QLatin1String(word)), word);
    // The folders this very program searches: the user's first, then the one beside the binary.
    const int user = text.indexOf(Paths::userDataDir());
    const int installed = text.indexOf(Paths::installedDataDirs().constFirst());
    QVERIFY(user > 0);
    QVERIFY(installed > user);
    QVERIFY(text.endsWith(u'\n'));
}

void tst_CommandLine::versionText()
{
    QCoreApplication::setApplicationName(QStringLiteral("vistelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    QCOMPARE(CommandLine::versionText(),
        QStringLiteral(
            "vistelle 1.2.3\nCountry data: IP Geolocation by DB-IP, https://db-ip.com (CC BY 4.0)\n"
            "Crawler patterns: crawler-user-agents, https://github.com/monperrus/crawler-user-agents (MIT)\n"));
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
