#include "capture/RequestParsing.h"
#include "capture/VisitProcessor.h"
#include "core/SettingsStore.h"
#include "tests/mock/ManualClock.h"
#include "tests/mock/RecordingVisitEffects.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Row
{
    QDateTime time;
    QString address;
    QString page;
    VisitKind kind = VisitKind::Visit;
};

class FakeList final : public IVisitList
{
public:
    int addVisit(const QDateTime &time, const QString &address, const QString &page, VisitKind kind) override
    {
        rows.push_back({ time, address, page, kind });
        return int(rows.size()) - 1;
    }
    void appendCountry(int row, const QString &country) override { rows[size_t(row)].address += u' ' + country; }
    void makeNewestRowCurrent() override { current = int(rows.size()) - 1; }
    std::vector<Row> rows;
    int current = -1;
};

class Recorder final : public IVisitRecorder
{
public:
    void recordVisit(const RecordedVisit &visit) override { visits.append(visit); }
    QList<RecordedVisit> visits;
};

QString request(const QString &referer, const QString &host = QStringLiteral("me.example"), const QString &agent = {})
{
    QString r = QStringLiteral("GET /t.gif HTTP/1.1\r\nHost: ") + host + QStringLiteral("\r\n");
    if (!agent.isEmpty())
        r += QStringLiteral("User-Agent: ") + agent + QStringLiteral("\r\n");
    if (!referer.isNull())
        r += QStringLiteral("Referer: ") + referer + QStringLiteral("\r\n");
    return r + QStringLiteral("\r\n");
}

struct Harness
{
    Harness()
        : settings(dir.filePath(QStringLiteral("s.conf")))
    {
        effects.countryOf
            = [](const QString &ip) { return ip.startsWith(u"1.") ? QStringLiteral("Australia") : QString(); };
        processor = std::make_unique<VisitProcessor>(settings, list, effects, clock);
    }
    QTemporaryDir dir;
    SettingsStore settings;
    FakeList list;
    ManualClock clock { QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)) };
    std::unique_ptr<VisitProcessor> processor;
    RecordingVisitEffects effects;
    QStringList &log = effects.log;
    QStringList &sounds = effects.sounds;
    QStringList &popups = effects.popups;
    QList<bool> &tray = effects.tray;
    bool &stopRepeatVisible = effects.stopRepeatVisible;
    QString &stopRepeatTip = effects.stopRepeatTip;
    bool &countryFile = effects.countryFile;
};
} // namespace

class tst_VisitProcessor : public QObject
{
    Q_OBJECT
private slots:
    void fullVisit();
    void repeatSuppressed_data();
    void repeatSuppressed();
    void manyVisitorsOnePage();
    void notHttpIgnored_data();
    void notHttpIgnored();
    void sendipIgnored_data();
    void sendipIgnored();
    void page_data();
    void page();
    void untrustedPage_data();
    void untrustedPage();
    void unknownHeaderDumpIsCut();
    void soundRules_data();
    void soundRules();
    void country_data();
    void country();
    void trayRestoredAfterLatestAlert();
    void burst();
    void settingsReadOncePerTurn();
    void crawlerListMatchesItsExamples();
    void kinds_data();
    void kinds();
};

void tst_VisitProcessor::fullVisit()
{
    Harness h;
    h.processor->WS_Close(request(QStringLiteral("http://site.example/dir/a.html")), QStringLiteral("1.2.3.4"));
    QCOMPARE(h.log, QStringList { u"Visit: 1.2.3.4 -> http://site.example/dir/a.html"_qs });
    QCOMPARE(h.list.rows.size(), size_t(1));
    QCOMPARE(h.list.rows[0].address, QStringLiteral("1.2.3.4 Australia"));
    QCOMPARE(h.list.rows[0].page, QStringLiteral("http://site.example/dir/a.html"));
    QCOMPARE(h.list.rows[0].time, h.clock.currentDateTime());
    QCOMPARE(h.list.current, 0);
    QCOMPARE(h.sounds, QStringList { u"doorbell.wav"_qs });
    QCOMPARE(h.popups, QStringList { u"Australia|Visited page: http://site.example/  dir/a.html"_qs });
    QCOMPARE(h.tray, QList<bool> { true });
}

void tst_VisitProcessor::repeatSuppressed_data()
{
    QTest::addColumn<QString>("popupAlert");
    QTest::addColumn<int>("afterMs");
    QTest::addColumn<QString>("secondAddress");
    QTest::addColumn<QString>("secondReferer");
    QTest::addColumn<int>("expectedRows");
    QTest::addColumn<QString>("tip");
    const QString page = QStringLiteral("http://site.example/a.html");
    const QString same = QStringLiteral("1.2.3.4");
    const QString other = QStringLiteral("5.6.7.8");
    QTest::newRow("same visitor, same page within 2 s")
        << "1" << 500 << same << page << 1 << "Stopped Repeat Request: 1.5 sec.";
    QTest::newRow("blanks around do not matter")
        << "1" << 1000 << same << (u"  "_qs + page) << 1 << "Stopped Repeat Request: 1 sec.";
    QTest::newRow("popups off: still a repeat")
        << "0" << 100 << same << page << 1 << "Stopped Repeat Request: 1.9 sec.";
    QTest::newRow("after 2 s") << "1" << 2000 << same << page << 2 << "";
    QTest::newRow("other page") << "1" << 100 << same << "http://site.example/b.html" << 2 << "";
    QTest::newRow("letter case differs") << "1" << 100 << same << "http://site.example/A.html" << 2 << "";
    QTest::newRow("other visitor, same page") << "1" << 100 << other << page << 2 << "";
    QTest::newRow("other visitor, popups off") << "0" << 100 << other << page << 2 << "";
    QTest::newRow("no referer never repeats the last one") << "1" << 100 << same << QString() << 2 << "";
}

void tst_VisitProcessor::repeatSuppressed()
{
    QFETCH(QString, popupAlert);
    QFETCH(int, afterMs);
    QFETCH(QString, secondAddress);
    QFETCH(QString, secondReferer);
    QFETCH(int, expectedRows);
    QFETCH(QString, tip);
    Harness h;
    QLocale::setDefault(QLocale::c());
    h.settings.SaveSetting(QStringLiteral("PopupAlert"), popupAlert);
    h.processor->WS_Close(request(QStringLiteral("http://site.example/a.html")), QStringLiteral("1.2.3.4"));
    const QStringList logBefore = h.log;
    h.clock.advance(afterMs);
    h.processor->WS_Close(request(secondReferer), secondAddress);
    QCOMPARE(int(h.list.rows.size()), expectedRows);
    QCOMPARE(h.stopRepeatVisible, !tip.isEmpty());
    if (!tip.isEmpty()) {
        QCOMPARE(h.stopRepeatTip, tip);
        QCOMPARE(h.log, logBefore);
        QCOMPARE(h.sounds.size(), 1);
        // A repeat does not move the visitor's window: 2 s after the first visit the page counts again.
        h.clock.advance(2000 - afterMs);
        h.processor->WS_Close(request(QStringLiteral("http://site.example/a.html")), secondAddress);
        QCOMPARE(int(h.list.rows.size()), 2);
        QVERIFY(!h.stopRepeatVisible);
    }
}

void tst_VisitProcessor::manyVisitorsOnePage()
{
    Harness h;
    for (int i = 0; i < 30; ++i) {
        h.processor->WS_Close(
            request(QStringLiteral("http://site.example/a.html")), QStringLiteral("10.0.0.%1").arg(i));
        h.clock.advance(50);
    }
    QCOMPARE(h.list.rows.size(), size_t(30));
    QCOMPARE(h.popups.size(), 30);
    // Visitors whose 2 s have passed are forgotten.
    QCOMPARE(h.processor->recentVisitorCount(), 30);
    h.clock.advance(2000);
    h.processor->WS_Close(request(QString()), QStringLiteral("10.0.1.1"));
    QCOMPARE(h.processor->recentVisitorCount(), 1);
}

void tst_VisitProcessor::notHttpIgnored_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("visit");
    QTest::newRow("scanner bytes") << u"\u0000\u0001garbage\r\n\r\n"_qs << false;
    QTest::newRow("TLS record") << u"\u0016\u0003\u0001\u0002\u0000"_qs << false;
    QTest::newRow("no version") << u"GET /t.gif\r\n\r\n"_qs << false;
    QTest::newRow("two blanks") << u"GET  /t.gif HTTP/1.1\r\n\r\n"_qs << false;
    QTest::newRow("SSH greeting") << u"SSH-2.0-OpenSSH_9.2\r\n"_qs << false;
    QTest::newRow("HTTP/1.0") << u"GET / HTTP/1.0\r\n\r\n"_qs << true;
    QTest::newRow("LF only, other method") << u"HEAD /p?q=1 HTTP/1.1\nHost: x\n\n"_qs << true;
    QTest::newRow("cut before the line end") << u"GET /t.gif HTTP/1.1"_qs << true;
}

void tst_VisitProcessor::notHttpIgnored()
{
    QFETCH(QString, request);
    QFETCH(bool, visit);
    Harness h;
    h.processor->WS_Close(request, QStringLiteral("9.9.9.9"));
    QCOMPARE(h.list.rows.size(), size_t(visit ? 1 : 0));
    QCOMPARE(h.sounds.size() + h.popups.size() > 0, visit);
    if (visit)
        return;
    const QString note = QStringLiteral("Ignored a request that is not HTTP from 9.9.9.9");
    QCOMPARE(h.log, QStringList { note });
    // At most once a minute.
    h.clock.advance(59'000);
    h.processor->WS_Close(request, QStringLiteral("9.9.9.9"));
    QCOMPARE(h.log.size(), 1);
    h.clock.advance(1'000);
    h.processor->WS_Close(request, QStringLiteral("9.9.9.9"));
    QCOMPARE(h.log, (QStringList { note, note }));
}

void tst_VisitProcessor::sendipIgnored_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("lower") << "/sendip.asp?ip=1.2.3.4";
    QTest::newRow("mixed case") << "/SendIP.ASP";
    QTest::newRow("inside another word") << "/x-sendip.aspx";
}

void tst_VisitProcessor::sendipIgnored()
{
    QFETCH(QString, path);
    Harness h;
    h.processor->WS_Close(QStringLiteral("GET ") + path + QStringLiteral(" HTTP/1.1\r\nHost: localhost\r\n\r\n"),
        QStringLiteral("127.0.0.1"));
    QVERIFY(h.log.isEmpty());
    QVERIFY(h.list.rows.empty());
    QVERIFY(h.sounds.isEmpty());
    QVERIFY(h.tray.isEmpty());
}

void tst_VisitProcessor::page_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("headerLogged");
    QTest::newRow("referer") << request(QStringLiteral("http://a.example/")) << "http://a.example/" << false;
    QTest::newRow("localhost") << request(QString(), QStringLiteral("localhost")) << "Local Page" << false;
    QTest::newRow("localhost with port") << request(QString(), QStringLiteral("localhost:8080")) << "Unknown" << true;
    QTest::newRow("referer wins over localhost")
        << request(QStringLiteral("http://b.example/x"), QStringLiteral("localhost")) << "http://b.example/x" << false;
    QTest::newRow("neither") << request(QString()) << "Unknown" << true;
    QTest::newRow("path never used") << u"GET /http://c.example/ HTTP/1.1\r\n\r\n"_qs << "Unknown" << true;
}

void tst_VisitProcessor::page()
{
    QFETCH(QString, request);
    QFETCH(QString, page);
    QFETCH(bool, headerLogged);
    Harness h;
    h.processor->WS_Close(request, QStringLiteral("9.9.9.9"));
    QCOMPARE(h.list.rows.at(0).page, page);
    QCOMPARE(h.log.at(0), QStringLiteral("Visit: 9.9.9.9 -> ") + page);
    if (headerLogged) {
        QCOMPARE(h.log.mid(1),
            (QStringList { u"Wiinsock returned 'Unknown' for page URL"_qs,
                u"The following is complete header received:"_qs, request }));
    } else {
        QCOMPARE(h.log.size(), 1);
    }
}

void tst_VisitProcessor::untrustedPage_data()
{
    QTest::addColumn<QString>("referer");
    QTest::addColumn<QString>("page");
    const QString longPage = u"http://a.example/"_qs + QString(60'000, u'x');
    QTest::newRow("first 4,096 characters") << longPage << longPage.left(4096);
    QTest::newRow("controls and bidi overrides") << u"http://a.example/\x1b]0;t\x07\u009b2J\u202egnp.exe"_qs
                                                 << u"http://a.example/\ufffd]0;t\ufffd\ufffd2J\ufffdgnp.exe"_qs;
}

void tst_VisitProcessor::untrustedPage()
{
    QFETCH(QString, referer);
    QFETCH(QString, page);
    Harness h;
    h.processor->WS_Close(request(referer), QStringLiteral("1.2.3.4"));
    QCOMPARE(h.list.rows.at(0).page, page);
    QCOMPARE(h.log, QStringList { u"Visit: 1.2.3.4 -> "_qs + page });
    QString shown = page;
    RequestParsing::sepurl(shown);
    QCOMPARE(h.popups, QStringList { u"Australia|Visited page: "_qs + shown });
}

void tst_VisitProcessor::unknownHeaderDumpIsCut()
{
    Harness h;
    const QString header = u"GET / HTTP/1.1\r\nX: "_qs + QString(20'000, u'h') + u"\r\n\r\n"_qs;
    h.processor->WS_Close(header, QStringLiteral("1.2.3.4"));
    QCOMPARE(h.log.size(), 4);
    QCOMPARE(h.log[3],
        header.left(VisitProcessor::HeaderDumpLimit)
            + QStringLiteral(" [... %1 more characters left out]").arg(header.size() - 8192));
}

void tst_VisitProcessor::soundRules_data()
{
    QTest::addColumn<QStringList>("settings"); // key=value pairs
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("sound");
    QTest::newRow("defaults") << QStringList {} << "http://s.example/"
                              << "doorbell.wav";
    QTest::newRow("highest matching rule wins")
        << QStringList { u"Contains0=shop"_qs, u"CSound0=a.wav"_qs, u"Contains1=shop/cart"_qs, u"CSound1=b.wav"_qs }
        << "http://s.example/shop/cart.htm"
        << "b.wav";
    QTest::newRow("lower rule only") << QStringList { u"Contains0=shop"_qs, u"CSound0=a.wav"_qs,
        u"Contains1=shop/cart"_qs, u"CSound1=b.wav"_qs }
                                     << "http://s.example/shop/list.htm"
                                     << "a.wav";
    QTest::newRow("empty rules are skipped, later ones apply") << QStringList { u"Contains0="_qs, u"Contains1=shop"_qs,
        u"CSound1=b.wav"_qs, u"Contains2= "_qs, u"CSound2=c.wav"_qs, u"DefaultSnd=d.wav"_qs }
                                                               << "http://s.example/shop/"
                                                               << "b.wav";
    QTest::newRow("case-sensitive") << QStringList { u"Contains0=Shop"_qs, u"CSound0=a.wav"_qs }
                                    << "http://s.example/shop/"
                                    << "doorbell.wav";
    QTest::newRow("matching rule without sound plays nothing")
        << QStringList { u"Contains0=shop"_qs } << "http://s.example/shop/"
        << "";
    QTest::newRow("sound off") << QStringList { u"SoundAlert=0"_qs, u"Contains0=shop"_qs, u"CSound0=a.wav"_qs }
                               << "http://s.example/shop/"
                               << "";
    QTest::newRow("sound switch not a truth value") << QStringList { u"SoundAlert=maybe"_qs } << "http://s.example/"
                                                    << "";
    QTest::newRow("sound switch True") << QStringList { u"SoundAlert=True"_qs } << "http://s.example/"
                                       << "doorbell.wav";
    QTest::newRow("keys in other case") << QStringList { u"contains0=shop"_qs, u"csound0=a.wav"_qs }
                                        << "http://s.example/shop/"
                                        << "a.wav";
    QTest::newRow("rule 100 is read, 101 is not") <<
        [] {
            QStringList s;
            for (int i = 0; i <= 101; ++i)
                s << u"Contains%1=x"_qs.arg(i) << u"CSound%1=s%1.wav"_qs.arg(i);
            return s;
        }() << "http://x.example/"
                                                  << "s100.wav";
}

void tst_VisitProcessor::soundRules()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, page);
    QFETCH(QString, sound);
    Harness h;
    for (const QString &pair : settings)
        h.settings.SaveSetting(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QCOMPARE(h.processor->soundFor(page), sound);
    h.processor->WS_Close(request(page), QStringLiteral("1.2.3.4"));
    QCOMPARE(h.sounds, sound.isEmpty() ? QStringList() : QStringList { sound });
}

void tst_VisitProcessor::country_data()
{
    QTest::addColumn<bool>("countryFile");
    QTest::addColumn<QString>("popupAlert");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("popup");
    QTest::newRow("found") << true << "1"
                           << "1.0.0.1"
                           << "1.0.0.1 Australia"
                           << "Australia|Visited page: http://p.example/  ";
    QTest::newRow("not in the file") << true << "1"
                                     << "8.8.8.8"
                                     << "8.8.8.8"
                                     << "Visitor: 8.8.8.8|Visited page: http://p.example/  ";
    QTest::newRow("no country file") << false << "1"
                                     << "1.0.0.1"
                                     << "1.0.0.1"
                                     << "Visitor: 1.0.0.1|Visited page: http://p.example/  ";
    // The list shows the country whatever the popup setting.
    QTest::newRow("popups off") << true << "0"
                                << "1.0.0.1"
                                << "1.0.0.1 Australia"
                                << "";
    QTest::newRow("popup switch not a truth value") << true << "x"
                                                    << "1.0.0.1"
                                                    << "1.0.0.1 Australia"
                                                    << "";
}

void tst_VisitProcessor::country()
{
    QFETCH(bool, countryFile);
    QFETCH(QString, popupAlert);
    QFETCH(QString, ip);
    QFETCH(QString, popup);
    Harness h;
    h.countryFile = countryFile;
    h.settings.SaveSetting(QStringLiteral("PopupAlert"), popupAlert);
    h.processor->WS_Close(request(QStringLiteral("http://p.example/")), ip);
    QTEST(h.list.rows.at(0).address, "cell");
    QCOMPARE(h.popups, popup.isEmpty() ? QStringList() : QStringList { popup });
}

void tst_VisitProcessor::trayRestoredAfterLatestAlert()
{
    Harness h;
    h.processor->WS_Close(request(QStringLiteral("http://a.example/")), QStringLiteral("1.2.3.4"));
    QVERIFY(h.processor->trayAlertShown());
    h.clock.advance(1500); // across midnight: the visit came at 23:59:59
    h.processor->WS_Close(request(QStringLiteral("http://b.example/")), QStringLiteral("1.2.3.4"));
    h.clock.advance(600);
    h.processor->restoreTrayIfDue();
    QVERIFY(h.processor->trayAlertShown()); // only 0.6 s after the latest alert
    h.clock.advance(1400);
    h.processor->restoreTrayIfDue();
    QVERIFY(!h.processor->trayAlertShown());
    QCOMPARE(h.tray, (QList<bool> { true, true, false }));
    h.processor->restoreTrayIfDue();
    QCOMPARE(h.tray.size(), 3);
}

void tst_VisitProcessor::burst()
{
    Harness h;
    h.settings.SaveSetting(QStringLiteral("PopupAlert"), QStringLiteral("0"));
    for (int i = 0; i < 10'000; ++i)
        h.processor->WS_Close(request(QStringLiteral("http://b.example/%1").arg(i)),
            QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256));
    QCOMPARE(h.list.rows.size(), size_t(10'000));
    QCOMPARE(h.log.size(), 10'000);
    QCOMPARE(h.list.rows.back().page, QStringLiteral("http://b.example/9999"));
}

// The settings file is looked at once per turn of the event loop: what another program wrote to it
// counts from the next turn on.
void tst_VisitProcessor::settingsReadOncePerTurn()
{
    Harness h;
    h.processor->WS_Close(request(u"http://s.example/1"_qs), u"1.0.0.1"_qs);
    QCOMPARE(h.popups.size(), 1);
    {
        SettingsStore other(h.dir.filePath(QStringLiteral("s.conf")));
        other.SaveSetting(QStringLiteral("PopupAlert"), QStringLiteral("0"));
    }
    h.processor->WS_Close(request(u"http://s.example/2"_qs), u"1.0.0.2"_qs);
    QCOMPARE(h.popups.size(), 2); // the same turn: the settings as read at its start
    QCoreApplication::processEvents();
    h.processor->WS_Close(request(u"http://s.example/3"_qs), u"1.0.0.3"_qs);
    QCOMPARE(h.popups.size(), 2);
}

// Every example User-Agent the shipped list gives for its patterns is a crawler; browsers are not.
void tst_VisitProcessor::crawlerListMatchesItsExamples()
{
    const QString file = VisitClassifier::defaultPatternFile();
    QString error;
    const std::optional<CrawlerPatterns> patterns = CrawlerPatterns::load(file, &error);
    QVERIFY2(patterns, qPrintable(error));
    QFile json(file);
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonArray entries = QJsonDocument::fromJson(json.readAll()).array();
    QCOMPARE(patterns->patternCount(), entries.size());
    int examples = 0;
    for (const QJsonValue &entry : entries) {
        for (const QJsonValue &instance : entry.toObject().value(u"instances"_qs).toArray()) {
            QVERIFY2(patterns->matches(instance.toString()), qPrintable(instance.toString()));
            ++examples;
        }
    }
    QVERIFY(examples > 1000);
    for (const char *browser : { "Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0",
             "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 "
             "Safari/537.36 Edg/131.0.0.0",
             "Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
             "Version/18.1 Mobile/15E148 Safari/604.1" })
        QVERIFY2(!patterns->matches(QString::fromLatin1(browser)), browser);
}

void tst_VisitProcessor::kinds_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("agent");
    QTest::addColumn<QString>("crawlerAlerts");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("logPrefix");
    const QString chromium = QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                                            "Chrome/131.0.0.0 Safari/537.36");
    const int visit = int(VisitKind::Visit), own = int(VisitKind::Own), crawler = int(VisitKind::Crawler);
    QTest::newRow("a visitor with Chromium") << "1.2.3.4" << chromium << "" << visit << "Visit: ";
    QTest::newRow("the PC's public address") << "203.0.113.7" << chromium << "" << own << "Own visit: ";
    QTest::newRow("an ignored IPv4 address") << "198.51.100.9" << chromium << "" << own << "Own visit: ";
    QTest::newRow("next to the ignored address") << "198.51.100.10" << chromium << "" << visit << "Visit: ";
    QTest::newRow("in an ignored IPv6 /64") << "2001:db8:1:0:abcd::1"
                                            << ""
                                            << "" << own << "Own visit: ";
    QTest::newRow("outside that /64") << "2001:db8:1:1::1"
                                      << ""
                                      << "" << visit << "Visit: ";
    QTest::newRow("the public IPv6 address") << "2001:db8:9::7"
                                             << ""
                                             << "" << own << "Own visit: ";
    QTest::newRow("own wins over crawler") << "203.0.113.7"
                                           << "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)"
                                           << "" << own << "Own visit: ";
    QTest::newRow("Googlebot") << "66.249.66.1"
                               << "Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; Googlebot/2.1; "
                                  "+http://www.google.com/bot.html) Chrome/131.0.6778.69 Safari/537.36"
                               << "" << crawler << "Crawler visit: ";
    QTest::newRow("bingbot") << "40.77.167.1"
                             << "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)"
                             << "" << crawler << "Crawler visit: ";
    QTest::newRow("crawler alerts on") << "40.77.167.1"
                                       << "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)"
                                       << "1" << crawler << "Crawler visit: ";
}

void tst_VisitProcessor::kinds()
{
    QFETCH(QString, address);
    QFETCH(QString, agent);
    QFETCH(QString, crawlerAlerts);
    QFETCH(int, kind);
    QFETCH(QString, logPrefix);
    Harness h;
    Recorder recorder;
    h.processor->setRecorder(&recorder);
    h.settings.SaveSetting(u"IgnoreAddresses"_qs, u"198.51.100.9, 2001:db8:1::/64; not-an-address"_qs);
    if (!crawlerAlerts.isEmpty())
        h.settings.SaveSetting(u"CrawlerAlerts"_qs, crawlerAlerts);
    h.processor->classifier().setOwnAddress(address.contains(u':') ? u"2001:db8:9:0::7"_qs : u"203.0.113.7"_qs);
    h.processor->WS_Close(request(u"http://site.example/a.html"_qs, u"me.example"_qs, agent), address);

    const VisitKind expected = VisitKind(kind);
    QCOMPARE(h.log, QStringList { logPrefix + address + u" -> http://site.example/a.html"_qs });
    QCOMPARE(h.list.rows.size(), size_t(1));
    QCOMPARE(h.list.rows[0].kind, expected);
    QCOMPARE(recorder.visits.size(), 1);
    QCOMPARE(recorder.visits[0].kind, expected);
    QCOMPARE(recorder.visits[0].agent, agent);
    // Only visitors, and crawlers when asked for, ring and pop up.
    const bool alerts = expected == VisitKind::Visit || crawlerAlerts == u"1";
    QCOMPARE(h.sounds.size(), alerts ? 1 : 0);
    QCOMPARE(h.popups.size(), alerts ? 1 : 0);
    QCOMPARE(h.tray.size(), alerts ? 1 : 0);
}

QTEST_GUILESS_MAIN(tst_VisitProcessor)
#include "tst_VisitProcessor.moc"
