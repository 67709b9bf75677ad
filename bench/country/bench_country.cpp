// Country lookup benchmark: the flat index of CountryLookup against a linear scan of the file
// (the lookup done line by line from the top for every address) and against libmaxminddb on an
// .mmdb database of the same ranges. Prints times per lookup, load time, memory and ratios.
//
//   bench_country [--csv FILE] [--mmdb FILE] [--lookups N] [--linear N]

#include "capture/CountryLookup.h"
#include "core/Conversions.h"
#include "core/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QStringList>
#include <QTextStream>

#ifdef HAVE_MAXMINDDB
#include <maxminddb.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <vector>

namespace {

using BenchClock = std::chrono::steady_clock;

double secondsSince(BenchClock::time_point start)
{
    return std::chrono::duration<double>(BenchClock::now() - start).count();
}

long statusKb(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double field(const char *text, qsizetype size)
{
    if (size >= 2 && text[0] == '"' && text[size - 1] == '"') {
        ++text;
        size -= 2;
    }
    qint64 value = 0;
    bool plain = size > 0 && size <= 15;
    for (qsizetype i = 0; plain && i < size; ++i) {
        if (text[i] < '0' || text[i] > '9')
            plain = false;
        else
            value = value * 10 + (text[i] - '0');
    }
    return plain ? double(value) : Conversions::leadingNumber(QString::fromUtf8(text, size));
}

// The lookup without an index: open the file, read it line by line from the top, take fields 3
// and 4 of each line and stop at the first range that holds the address. Byte-level and buffered,
// so the baseline is as fast as a plain pass over the file gets.
QString linearLookup(const QString &path, const QString &ip)
{
    const double number = CountryLookup::IpToNumber(ip);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    double first = 0;
    double last = 0;
    char line[4096];
    for (;;) {
        qint64 length = file.readLine(line, sizeof line);
        if (length <= 0)
            return {};
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            --length;
        const char *commas[4];
        int found = 0;
        const char *from = line;
        const char *end = line + length;
        while (found < 4) {
            const char *at = static_cast<const char *>(std::memchr(from, ',', size_t(end - from)));
            if (!at)
                break;
            commas[found++] = at;
            from = at + 1;
        }
        if (found == 4) {
            first = field(commas[1] + 1, commas[2] - commas[1] - 1);
            last = field(commas[2] + 1, commas[3] - commas[2] - 1);
        }
        if (first <= number && number <= last) {
            const char *lastComma = end;
            while (lastComma > line && lastComma[-1] != ',')
                --lastComma;
            return QString::fromUtf8(lastComma, end - lastComma);
        }
    }
}

QString dotted(quint32 n)
{
    return QStringLiteral("%1.%2.%3.%4").arg(n >> 24).arg((n >> 16) & 255).arg((n >> 8) & 255).arg(n & 255);
}

void row(const char *what, double seconds, const char *note = "")
{
    std::printf("  %-44s %12.4f us %s\n", what, seconds * 1e6, note);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString csv = Paths::findDataFile(CountryLookup::defaultFileName());
    QString mmdb;
    int lookups = 2'000'000;
    int linear = 40;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--csv")
            csv = args[++i];
        else if (args[i] == u"--mmdb")
            mmdb = args[++i];
        else if (args[i] == u"--lookups")
            lookups = args[++i].toInt();
        else if (args[i] == u"--linear")
            linear = args[++i].toInt();
    }
    std::printf("Country lookup benchmark\n  file: %s (%lld bytes)\n", qPrintable(csv),
        static_cast<long long>(QFile(csv).size()));

    // Index load.
    malloc_trim(0);
    const long rssBefore = statusKb("VmRSS");
    const long peakBefore = statusKb("VmHWM");
    std::vector<double> loads;
    qsizetype indexBytes = 0;
    qsizetype pieces = 0;
    qsizetype lines = 0;
    for (int i = 0; i < 5; ++i) {
        CountryLookup fresh(csv);
        const auto start = BenchClock::now();
        fresh.refresh();
        loads.push_back(secondsSince(start));
        indexBytes = fresh.indexBytes();
        pieces = fresh.pieceCount();
        lines = fresh.lineCount();
    }
    std::sort(loads.begin(), loads.end());
    malloc_trim(0);
    const long rssEmpty = statusKb("VmRSS");
    CountryLookup lookup(csv);
    lookup.refresh();
    malloc_trim(0);
    const long rssAfter = statusKb("VmRSS");
    std::printf("\nIndex\n  lines read %lld, pieces %lld, names %lld\n", static_cast<long long>(lines),
        static_cast<long long>(pieces), static_cast<long long>(lookup.names().size()));
    std::printf("  load time (median of 5)                      %9.1f ms   goal < 150 ms: %s\n", loads[2] * 1e3,
        loads[2] < 0.150 ? "met" : "NOT met");
    std::printf("  index memory                                 %9.2f MB   goal < 10 MB: %s\n", indexBytes / 1048576.0,
        indexBytes < 10 * 1048576 ? "met" : "NOT met");
    std::printf("  process RSS growth with one index loaded     %9.2f MB\n", (rssAfter - rssEmpty) / 1024.0);
    std::printf("  peak RSS growth while building (VmHWM)       %9.2f MB\n", (statusKb("VmHWM") - peakBefore) / 1024.0);
    (void)rssBefore;

    // Addresses spread over the whole number line (fixed seed).
    QRandomGenerator random(4242);
    std::vector<quint32> numbers(size_t(std::max(lookups, 1)));
    for (quint32 &n : numbers)
        n = random.generate();
    std::vector<QString> texts;
    texts.reserve(numbers.size());
    for (quint32 n : numbers)
        texts.push_back(dotted(n));

    // Index lookups.
    std::printf("\nTime per lookup (%d random addresses)\n", lookups);
    qint64 sink = 0;
    auto start = BenchClock::now();
    for (quint32 n : numbers)
        sink += lookup.nameIndexForNumber(qint64(n));
    const double indexNumber = secondsSince(start) / double(numbers.size());
    start = BenchClock::now();
    for (const QString &t : texts)
        sink += lookup.nameIndexForNumber(qint64(CountryLookup::IpToNumber(t)));
    const double indexText = secondsSince(start) / double(texts.size());
    start = BenchClock::now();
    const size_t withStat = std::min<size_t>(texts.size(), 200000);
    for (size_t i = 0; i < withStat; ++i)
        sink += lookup.getcountry(texts[i]).size();
    const double getcountry = secondsSince(start) / double(withStat);
    row("index: address number -> name", indexNumber);
    row("index: dotted text -> name (IpToNumber)", indexText);
    row("getcountry (file rechecked once a second)", getcountry);

    // Linear scan baseline.
    double linearTime = 0;
    int agree = 0;
    if (linear > 0) {
        start = BenchClock::now();
        for (int i = 0; i < linear; ++i) {
            const QString answer = linearLookup(csv, texts[size_t(i)]);
            agree += answer == lookup.getcountry(texts[size_t(i)]) ? 1 : 0;
        }
        linearTime = secondsSince(start) / linear;
        row("linear scan of the file (baseline)", linearTime);
        std::printf("  linear scan and index agree on %d of %d addresses\n", agree, linear);
    }

    // libmaxminddb.
    double mmdbTime = 0;
#ifdef HAVE_MAXMINDDB
    if (!mmdb.isEmpty()) {
        MMDB_s db;
        if (MMDB_open(QFile::encodeName(mmdb).constData(), MMDB_MODE_MMAP, &db) != MMDB_SUCCESS) {
            std::printf("  libmaxminddb: cannot open %s: row skipped\n", qPrintable(mmdb));
        } else {
            std::vector<QByteArray> latin;
            latin.reserve(texts.size());
            for (const QString &t : texts)
                latin.push_back(t.toLatin1());
            // Country code of each range, to compare answers.
            QHash<QString, QString> codeOfName;
            {
                QFile file(csv);
                if (file.open(QIODevice::ReadOnly)) {
                    for (const QByteArray &line : file.readAll().split('\n')) {
                        const QList<QByteArray> f = line.split(',');
                        if (f.size() >= 6)
                            codeOfName.insert(
                                QString::fromUtf8(f.last()), QString::fromUtf8(f[f.size() - 2]).remove(u'"'));
                    }
                }
            }
            int same = 0;
            int compared = 0;
            start = BenchClock::now();
            for (const QByteArray &ip : latin) {
                int gaiError = 0;
                int mmdbError = 0;
                MMDB_lookup_result_s result = MMDB_lookup_string(&db, ip.constData(), &gaiError, &mmdbError);
                if (result.found_entry) {
                    MMDB_entry_data_s data;
                    if (MMDB_get_value(&result.entry, &data, "country_code", nullptr) == MMDB_SUCCESS && data.has_data)
                        sink += data.data_size;
                }
            }
            mmdbTime = secondsSince(start) / double(latin.size());
            for (size_t i = 0; i < 20000 && i < latin.size(); ++i) {
                int gaiError = 0;
                int mmdbError = 0;
                MMDB_lookup_result_s result = MMDB_lookup_string(&db, latin[i].constData(), &gaiError, &mmdbError);
                QString code;
                if (result.found_entry) {
                    MMDB_entry_data_s data;
                    if (MMDB_get_value(&result.entry, &data, "country_code", nullptr) == MMDB_SUCCESS && data.has_data
                        && data.type == MMDB_DATA_TYPE_UTF8_STRING)
                        code = QString::fromUtf8(data.utf8_string, int(data.data_size));
                }
                const QString name = lookup.getcountry(texts[i]);
                ++compared;
                same += codeOfName.value(name) == code ? 1 : 0;
            }
            row("libmaxminddb: dotted text -> country code", mmdbTime);
            std::printf("  libmaxminddb and index agree on %d of %d addresses\n", same, compared);
            MMDB_close(&db);
        }
    } else {
        std::printf("  libmaxminddb: no .mmdb file given (--mmdb): row skipped\n");
    }
#else
    std::printf("  libmaxminddb: not built in (libmaxminddb-dev missing): row skipped\n");
#endif

    std::printf("\nRatios\n");
    if (linearTime > 0) {
        std::printf("  linear scan / index (text)      %14.0f x   goal >= 100,000 x: %s\n", linearTime / indexText,
            linearTime / indexText >= 100000 ? "met" : "NOT met");
        std::printf("  linear scan / getcountry        %14.0f x\n", linearTime / getcountry);
    }
    if (mmdbTime > 0) {
        std::printf("  libmaxminddb / index (text)     %14.2f x   goal >= 1 (no slower): %s\n", mmdbTime / indexText,
            mmdbTime >= indexText ? "met" : "NOT met");
        std::printf("  libmaxminddb / getcountry       %14.2f x\n", mmdbTime / getcountry);
    }
    std::printf("  (checksum %lld)\n", static_cast<long long>(sink));
    return 0;
}
