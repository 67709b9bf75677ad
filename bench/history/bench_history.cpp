// History benchmark. Generates VISITS stored visits (default 1,000,000) spread evenly over the
// last 365 days (5,000 pages with Zipf-like popularity, 200,000 addresses, 40 countries), then
// opens the history window on them (offscreen) and measures, best of three:
//   - opening the window until the newest visits show (its first range, the last 7 days), and
//     the same for "Everything" (every stored visit);
//   - the last 30 days until the top pages are shown (the scan with chart and top lists);
//   - a filter over everything, and a jump to the middle of a million rows.
// The baseline, in the same run, is the plain SQL a simpler design would run on one table with an
// index on the time: the newest 100 rows, and GROUP BY page over 30 days.
//
//   bench_history [VISITS] [FILE]
#include "history/HistoryTableModel.h"
#include "history/HistoryWriter.h"
#include "history/Sqlite.h"
#include "history/frmHistory.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr qint64 DayMs = 86400LL * 1000;

struct Generated
{
    std::vector<QString> pages, addresses, countries;
};

Generated names()
{
    Generated g;
    const char *sections[] = { "blog", "shop", "docs", "news", "about" };
    for (int i = 0; i < 5000; ++i)
        g.pages.push_back(QStringLiteral("https://www.example.org/%1/article-%2.html")
                              .arg(QString::fromLatin1(sections[i % 5]))
                              .arg(i));
    QRandomGenerator random(7);
    for (int i = 0; i < 200000; ++i)
        g.addresses.push_back(QStringLiteral("%1.%2.%3.%4")
                                  .arg(random.bounded(1, 224))
                                  .arg(random.bounded(256))
                                  .arg(random.bounded(256))
                                  .arg(random.bounded(1, 255)));
    const char *countries[] = { "United States", "Germany", "France", "United Kingdom", "Netherlands", "Japan",
        "Brazil", "India", "Canada", "Spain", "Italy", "Poland", "Sweden", "Norway", "Denmark", "Finland", "Austria",
        "Switzerland", "Belgium", "Ireland", "Portugal", "Greece", "Czech Republic", "Hungary", "Romania", "Turkey",
        "Russian Federation", "China", "Korea, Republic of", "Australia", "New Zealand", "Mexico", "Argentina", "Chile",
        "South Africa", "Egypt", "Israel", "Singapore", "Indonesia", "" };
    for (const char *c : countries)
        g.countries.push_back(QString::fromUtf8(c));
    return g;
}

double generate(const QString &file, int visits, qint64 nowMs)
{
    const Generated g = names();
    // Zipf-like popularity: page i with weight 1 / (i + 1).
    std::vector<double> cumulative(g.pages.size());
    double sum = 0;
    for (std::size_t i = 0; i < g.pages.size(); ++i)
        cumulative[i] = sum += 1.0 / double(i + 1);
    QRandomGenerator random(42);
    HistoryWriter writer(file);
    QElapsedTimer timer;
    timer.start();
    const qint64 span = 365 * DayMs;
    std::vector<HistoryVisit> batch;
    for (int i = 0; i < visits; ++i) {
        const double r = random.generateDouble() * sum;
        const std::size_t page
            = std::size_t(std::lower_bound(cumulative.begin(), cumulative.end(), r) - cumulative.begin());
        HistoryVisit visit;
        visit.timeMs = nowMs - span + span * i / visits;
        visit.page = g.pages[std::min(page, g.pages.size() - 1)];
        visit.address = g.addresses[random.bounded(quint32(g.addresses.size()))];
        visit.country = g.countries[std::min<std::size_t>(
            std::size_t(std::floor(std::pow(random.generateDouble(), 2.5) * double(g.countries.size()))),
            g.countries.size() - 1)];
        visit.tls = random.bounded(3) == 0;
        batch.push_back(std::move(visit));
        if (batch.size() == 50000 || i == visits - 1) {
            const HistoryWriter::Outcome outcome = writer.write(batch, QDate::currentDate());
            if (!outcome.ok) {
                std::fprintf(stderr, "generation failed: %s\n", qPrintable(outcome.failure));
                std::exit(1);
            }
            batch.clear();
        }
    }
    return double(timer.elapsed());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double best(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

// Plain SQL on one wide table with an index on the time: what the window would cost without the
// key layout and the text tables.
void baseline(const QString &file, int visits, qint64 nowMs, double *newestMs, double *topMs)
{
    const QString flat = file + QStringLiteral(".flat");
    QFile::remove(flat);
    SqliteDatabase db;
    db.open(flat, SqliteDatabase::Mode::ReadWriteCreate);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec("CREATE TABLE visits(id INTEGER PRIMARY KEY, time INTEGER, address TEXT, country TEXT, page TEXT,"
            " tls INTEGER); CREATE INDEX visits_time ON visits(time)");
    db.exec(QByteArray("ATTACH '" + file.toUtf8() + "' AS h").constData());
    db.exec("INSERT INTO visits(time, address, country, page, tls) SELECT v.key / 1024, a.text, c.text, p.text, v.tls"
            " FROM h.visits v JOIN h.pages p ON p.id = v.page JOIN h.addresses a ON a.id = v.address"
            " JOIN h.countries c ON c.id = v.country ORDER BY v.key");
    db.exec("DETACH h");
    Q_UNUSED(visits);
    std::vector<double> newest, top;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        SqliteStatement q = db.prepare("SELECT time, address, country, page, tls FROM visits WHERE time >= ?1"
                                       " ORDER BY time DESC LIMIT 100");
        q.bind(1, nowMs - 7 * DayMs);
        while (q.step()) { }
        newest.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        SqliteStatement t = db.prepare("SELECT page, count(*) AS n FROM visits WHERE time >= ?1 GROUP BY page"
                                       " ORDER BY n DESC LIMIT 10");
        t.bind(1, nowMs - 30 * DayMs);
        while (t.step()) { }
        top.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    *newestMs = best(newest);
    *topMs = best(top);
    db.close();
    QFile::remove(flat);
    QFile::remove(flat + QStringLiteral("-wal"));
    QFile::remove(flat + QStringLiteral("-shm"));
}

bool waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 120000);
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int visits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;
    QTemporaryDir dir;
    const QString file = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(file + suffix);

    std::printf("History: %d stored visits over 365 days (5,000 pages, 200,000 addresses, 40 countries)\n", visits);
    const double generatedMs = generate(file, visits, nowMs);
    std::printf("  generated and written in %.1f s (%.0f visits/s), file %.1f MB\n", generatedMs / 1000,
        visits / (generatedMs / 1000), double(QFileInfo(file).size()) / 1e6);
    std::fflush(stdout);

    std::vector<double> open7, finish7, openAll, finishAll, top30, filtered, jump;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        auto *window = new frmHistory(file);
        HistoryTableModel &model = window->model();
        bool firstRows = false;
        QObject::connect(&model, &HistoryTableModel::rowsLoaded, window, [&](int first, int) {
            if (first == 0)
                firstRows = true;
        });
        bool finished = false;
        QObject::connect(window, &frmHistory::scanFinished, window, [&] { finished = true; });
        window->show();
        waitFor([&] { return firstRows; });
        open7.push_back(double(timer.nsecsElapsed()) / 1e6);
        waitFor([&] { return finished; });
        finish7.push_back(double(timer.nsecsElapsed()) / 1e6);

        auto *range = window->findChild<QComboBox *>(QStringLiteral("cboRange"));
        const auto choose = [&](HistoryRange::Preset preset) {
            firstRows = finished = false;
            timer.restart();
            range->setCurrentIndex(int(preset));
            emit range->activated(int(preset));
        };
        choose(HistoryRange::Preset::Everything);
        waitFor([&] { return firstRows; });
        openAll.push_back(double(timer.nsecsElapsed()) / 1e6);
        waitFor([&] { return finished; });
        finishAll.push_back(double(timer.nsecsElapsed()) / 1e6);

        // A jump to the middle of everything: until the rows there are loaded.
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblVisits"));
        const int middle = model.rowCount() / 2;
        bool middleLoaded = false;
        auto jumpConnection = QObject::connect(&model, &HistoryTableModel::rowsLoaded, window,
            [&](int first, int last) { middleLoaded = middleLoaded || (first <= middle && middle <= last); });
        timer.restart();
        table->scrollTo(model.index(middle, 0), QAbstractItemView::PositionAtTop);
        table->viewport()->repaint();
        waitFor([&] { return middleLoaded; });
        jump.push_back(double(timer.nsecsElapsed()) / 1e6);
        QObject::disconnect(jumpConnection);

        choose(HistoryRange::Preset::Last30Days);
        waitFor([&] { return finished; });
        top30.push_back(double(timer.nsecsElapsed()) / 1e6);
        const qint64 last30 = window->summary().total;

        auto *filter = window->findChild<QLineEdit *>(QStringLiteral("txtFilter"));
        choose(HistoryRange::Preset::Everything);
        waitFor([&] { return finished; });
        finished = false;
        filter->setText(QStringLiteral("article-12"));
        timer.restart();
        window->refresh();
        waitFor([&] { return finished; });
        filtered.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (run == 0)
            std::printf("  (last 30 days: %lld visits; filter \"article-12\" over everything: %d visits)\n",
                static_cast<long long>(last30), model.rowCount());
        delete window;
    }
    double flatNewest = 0, flatTop = 0;
    baseline(file, visits, nowMs, &flatNewest, &flatTop);

    std::printf("  %-58s %9s %9s\n", "", "best ms", "median ms");
    const auto row = [](const char *label, const std::vector<double> &v) {
        std::printf("  %-58s %9.1f %9.1f\n", label, best(v), median(v));
    };
    row("window opens, newest visits shown (last 7 days)", open7);
    row("  ... chart and top lists of the last 7 days shown", finish7);
    row("\"Everything\": newest visits shown", openAll);
    row("  ... all visits counted, chart and top lists shown", finishAll);
    row("\"Last 30 days\": top pages shown (with chart, countries)", top30);
    row("filter over everything: all matches, chart, top lists", filtered);
    row("jump to the middle row: its rows shown", jump);
    std::printf("  baseline, one wide table + time index: newest 100 rows %.1f ms, GROUP BY page 30 days %.1f ms\n",
        flatNewest, flatTop);
    const bool newestOk = best(open7) < 300 && best(openAll) < 300;
    const bool topOk = best(top30) < 200;
    std::printf("  goal newest visits < 300 ms: %s   goal top pages of 30 days < 200 ms: %s   ratio top30 / baseline "
                "%.2f\n",
        newestOk ? "met" : "NOT met", topOk ? "met" : "NOT met", best(top30) / flatTop);
    return 0;
}
