// The history window on a history of its own: visits of the last 30 days with the rhythm of a
// small site (quiet nights, busier weekdays), so the window can be looked at and photographed.
//   history_demo FILE
// Fills FILE (replacing it), opens the window on "Last 7 days" and prints
// "READY x y" (the window's position) when it has shown its first query.
#include "history/HistoryWriter.h"
#include "history/frmHistory.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: history_demo FILE\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(file + suffix);

    const QStringList pages = { QStringLiteral("https://www.fernweh-reisen.example/"),
        QStringLiteral("https://www.fernweh-reisen.example/angebote/island-rundreise.html"),
        QStringLiteral("https://www.fernweh-reisen.example/angebote/lofoten-herbst.html"),
        QStringLiteral("https://www.fernweh-reisen.example/blog/polarlichter-fotografieren.html"),
        QStringLiteral("https://www.fernweh-reisen.example/kontakt.html"),
        QStringLiteral("https://www.fernweh-reisen.example/angebote/schottland-highlands.html"),
        QStringLiteral("https://www.fernweh-reisen.example/blog/packliste-winter.html"),
        QStringLiteral("https://www.fernweh-reisen.example/ueber-uns.html"),
        QStringLiteral("https://www.fernweh-reisen.example/angebote/?ziel=norwegen&monat=10"),
        QStringLiteral("https://www.fernweh-reisen.example/impressum.html") };
    const QStringList countries = { QStringLiteral("Germany"), QStringLiteral("Germany"), QStringLiteral("Germany"),
        QStringLiteral("Austria"), QStringLiteral("Switzerland"), QStringLiteral("Netherlands"),
        QStringLiteral("United States"), QStringLiteral("Norway"), QStringLiteral("Iceland"), QString() };
    QRandomGenerator random(2026);
    std::vector<HistoryVisit> visits;
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start = QDateTime(now.date().addDays(-29), QTime(0, 0));
    for (QDateTime hour = start; hour < now; hour = hour.addSecs(3600)) {
        // Few visits at night, most in the evening, fewer at weekends.
        const double h = hour.time().hour();
        double rate
            = 2.0 + 9.0 * std::exp(-std::pow((h - 20.0) / 3.5, 2)) + 5.0 * std::exp(-std::pow((h - 11.0) / 2.5, 2));
        if (hour.date().dayOfWeek() >= 6)
            rate *= 0.6;
        const int count = int(rate * (0.6 + 0.8 * random.generateDouble()));
        for (int i = 0; i < count; ++i) {
            HistoryVisit visit;
            visit.timeMs = hour.addSecs(random.bounded(3600)).toMSecsSinceEpoch();
            if (visit.timeMs > now.toMSecsSinceEpoch())
                continue;
            const double r = random.generateDouble();
            visit.page = pages[std::min<int>(int(r * r * r * pages.size()), int(pages.size()) - 1)];
            visit.country = countries[random.bounded(int(countries.size()))];
            visit.address = QStringLiteral("%1.%2.%3.%4")
                                .arg(random.bounded(2, 223))
                                .arg(random.bounded(256))
                                .arg(random.bounded(256))
                                .arg(random.bounded(1, 255));
            visit.tls = random.bounded(4) != 0;
            // Browsers mostly; now and then a search engine's crawler or the owner's own look.
            const int kind = random.bounded(20);
            visit.kind = kind == 0 ? VisitKind::Crawler : kind == 1 ? VisitKind::Own : VisitKind::Visit;
            visit.agent = visit.kind == VisitKind::Crawler
                ? QStringLiteral("Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)")
                : QStringLiteral("Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0");
            visits.push_back(visit);
        }
    }
    std::sort(visits.begin(), visits.end(), [](const auto &a, const auto &b) { return a.timeMs < b.timeMs; });
    const HistoryWriter::Outcome outcome = HistoryWriter(file).write(visits, now.date());
    if (!outcome.ok) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], qPrintable(outcome.failure));
        return 1;
    }

    frmHistory window(file);
    bool announced = false;
    QObject::connect(&window, &frmHistory::scanFinished, &window, [&] {
        if (announced)
            return;
        announced = true;
        // A moment for the chart's first paint.
        QTimer::singleShot(500, &window, [&] {
            std::printf("READY %d %d\n", window.x(), window.y());
            std::fflush(stdout);
        });
    });
    window.move(10, 10);
    window.show();
    return QApplication::exec();
}
