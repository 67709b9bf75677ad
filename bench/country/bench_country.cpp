// Country lookup benchmark: the flat index of CountryLookup against a linear scan of the file
// (the lookup done line by line from the top for every address) and against libmaxminddb on an
// .mmdb database of the same ranges. Prints times per lookup, load time, memory and ratios; then
// the same for IPv6 (--mmdb6: a database built from the IPv6 file's ranges, see run.sh).
//
//   bench_country [--csv FILE] [--mmdb FILE] [--csv6 FILE] [--mmdb6 FILE] [--lookups N] [--linear N]

#include "capture/CountryLookup.h"
#include "capture/VisitorAddress.h"
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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

// The IPv6 half: index load, lookups from text and from the number, libmaxminddb on a database of
// the same ranges, and whether both give the same country for every sampled address.
int benchIpv6(const QString &csv6, const QString &mmdb6, int lookups)
{
    std::printf("\nIPv6 country lookup\n  file: %s (%lld bytes)\n", qPrintable(csv6),
        static_cast<long long>(QFile(csv6).size()));
    std::vector<double> loads;
    for (int i = 0; i < 3; ++i) {
        CountryLookup fresh(QStringLiteral("/nonexistent"));
        fresh.setIpv6FileName(csv6);
        const auto start = BenchClock::now();
        fresh.countryForIpv6(Ipv6Number { 0x2001ULL << 48, 1 });
        loads.push_back(secondsSince(start));
    }
    std::sort(loads.begin(), loads.end());
    CountryLookup lookup(QStringLiteral("/nonexistent"));
    lookup.setIpv6FileName(csv6);
    lookup.refresh();
    std::printf("  lines read %lld, pieces %lld, names %lld\n", static_cast<long long>(lookup.ipv6LineCount()),
        static_cast<long long>(lookup.ipv6PieceCount()), static_cast<long long>(lookup.ipv6Names().size()));
    std::printf("  load time (median of 3)                      %9.1f ms\n", loads[1] * 1e3);
    std::printf("  index memory                                 %9.2f MB\n", lookup.ipv6IndexBytes() / 1048576.0);

    // Ranges of the file, to sample addresses inside them, and the code of each name.
    struct Range
    {
        Ipv6Number first;
        Ipv6Number last;
    };
    std::vector<Range> ranges;
    QHash<QString, QString> codeOfName;
    {
        QFile file(csv6);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> f = line.split(',');
                if (f.size() < 4)
                    continue;
                const auto first = VisitorAddress::parseIpv6(QString::fromLatin1(f[0]).remove(u'"'));
                const auto last = VisitorAddress::parseIpv6(QString::fromLatin1(f[1]).remove(u'"'));
                if (first && last)
                    ranges.push_back({ *first, *last });
                codeOfName.insert(QString::fromUtf8(f.last()).trimmed(), QString::fromUtf8(f[2]).remove(u'"'));
            }
        }
    }
    if (ranges.empty()) {
        std::printf("  no ranges read: IPv6 rows skipped\n");
        return 0;
    }
    // Half the addresses inside a random range (a random offset in its low 64 bits, or one of its
    // bounds), half anywhere in 2000::/3, where the ranges lie.
    QRandomGenerator random(6464);
    std::vector<Ipv6Number> numbers(size_t(std::max(lookups, 1)));
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i % 2 == 0) {
            const Range &range = ranges[size_t(random.bounded(int(ranges.size())))];
            Ipv6Number n = range.first;
            switch (i % 8) {
            case 0:
                break;
            case 2:
                n = range.last;
                break;
            default:
                if (range.first.hi == range.last.hi)
                    n.lo = range.first.lo
                        + random.generate64()
                            % (range.last.lo - range.first.lo + 1 ? range.last.lo - range.first.lo + 1 : 1);
                else
                    n.lo = random.generate64();
            }
            numbers[i] = n;
        } else {
            numbers[i] = Ipv6Number { (quint64(0x2000) << 48) | (random.generate64() >> 3), random.generate64() };
        }
    }
    std::vector<QString> texts;
    std::vector<QByteArray> latin;
    texts.reserve(numbers.size());
    latin.reserve(numbers.size());
    for (const Ipv6Number &n : numbers) {
        texts.push_back(VisitorAddress::ipv6Text(n));
        latin.push_back(texts.back().toLatin1());
    }

    std::printf("\nTime per IPv6 lookup (%d addresses)\n", lookups);
    qint64 sink = 0;
    auto start = BenchClock::now();
    for (const Ipv6Number &n : numbers)
        sink += lookup.nameIndexForIpv6(n);
    const double indexNumber = secondsSince(start) / double(numbers.size());
    start = BenchClock::now();
    for (const QString &t : texts)
        sink += lookup.nameIndexForIpv6(VisitorAddress::parseIpv6(t).value_or(Ipv6Number()));
    const double indexText = secondsSince(start) / double(texts.size());
    start = BenchClock::now();
    const size_t withStat = std::min<size_t>(texts.size(), 200000);
    for (size_t i = 0; i < withStat; ++i)
        sink += lookup.getcountry(texts[i]).size();
    const double getcountry = secondsSince(start) / double(withStat);
    row("index: 128-bit number -> name", indexNumber);
    row("index: IPv6 text -> name", indexText);
    row("getcountry (file rechecked once a second)", getcountry);

    double mmdbText = 0;
    double mmdbNumber = 0;
#ifdef HAVE_MAXMINDDB
    if (!mmdb6.isEmpty()) {
        MMDB_s db;
        if (MMDB_open(QFile::encodeName(mmdb6).constData(), MMDB_MODE_MMAP, &db) != MMDB_SUCCESS) {
            std::printf("  libmaxminddb: cannot open %s: row skipped\n", qPrintable(mmdb6));
        } else {
            const auto codeOf = [](MMDB_lookup_result_s &result) {
                MMDB_entry_data_s data;
                if (result.found_entry && MMDB_get_value(&result.entry, &data, "country_code", nullptr) == MMDB_SUCCESS
                    && data.has_data && data.type == MMDB_DATA_TYPE_UTF8_STRING)
                    return QString::fromUtf8(data.utf8_string, int(data.data_size));
                return QString();
            };
            start = BenchClock::now();
            for (const QByteArray &ip : latin) {
                int gaiError = 0;
                int mmdbError = 0;
                MMDB_lookup_result_s result = MMDB_lookup_string(&db, ip.constData(), &gaiError, &mmdbError);
                MMDB_entry_data_s data;
                if (result.found_entry && MMDB_get_value(&result.entry, &data, "country_code", nullptr) == MMDB_SUCCESS)
                    sink += data.data_size;
            }
            mmdbText = secondsSince(start) / double(latin.size());
            std::vector<sockaddr_in6> addresses(numbers.size());
            for (size_t i = 0; i < numbers.size(); ++i) {
                addresses[i] = sockaddr_in6 {};
                addresses[i].sin6_family = AF_INET6;
                const auto bytes = numbers[i].toBytes();
                std::memcpy(addresses[i].sin6_addr.s6_addr, bytes.data(), 16);
            }
            start = BenchClock::now();
            for (const sockaddr_in6 &address : addresses) {
                int mmdbError = 0;
                MMDB_lookup_result_s result
                    = MMDB_lookup_sockaddr(&db, reinterpret_cast<const sockaddr *>(&address), &mmdbError);
                MMDB_entry_data_s data;
                if (result.found_entry && MMDB_get_value(&result.entry, &data, "country_code", nullptr) == MMDB_SUCCESS)
                    sink += data.data_size;
            }
            mmdbNumber = secondsSince(start) / double(addresses.size());
            row("libmaxminddb: IPv6 text -> country code", mmdbText);
            row("libmaxminddb: sockaddr -> country code", mmdbNumber);
            int same = 0;
            int named = 0;
            for (size_t i = 0; i < latin.size(); ++i) {
                int gaiError = 0;
                int mmdbError = 0;
                MMDB_lookup_result_s result = MMDB_lookup_string(&db, latin[i].constData(), &gaiError, &mmdbError);
                const QString code = codeOf(result);
                const QString name = lookup.getcountry(texts[i]);
                same += codeOfName.value(name) == code ? 1 : 0;
                named += name.isEmpty() ? 0 : 1;
            }
            std::printf("  libmaxminddb and index agree on %d of %zu addresses (%d with a country): %s\n", same,
                latin.size(), named, same == int(latin.size()) ? "all" : "NOT all");
            MMDB_close(&db);
        }
    } else {
        std::printf("  libmaxminddb: no .mmdb file given (--mmdb6): row skipped\n");
    }
#else
    (void)mmdb6;
    std::printf("  libmaxminddb: not built in (libmaxminddb-dev missing): row skipped\n");
#endif
    std::printf("\nIPv6 ratios\n");
    if (mmdbText > 0) {
        std::printf("  libmaxminddb / index (text)     %14.2f x   goal >= 1 (no slower): %s\n", mmdbText / indexText,
            mmdbText >= indexText ? "met" : "NOT met");
        std::printf("  libmaxminddb / index (number)   %14.2f x\n", mmdbNumber / indexNumber);
        std::printf("  libmaxminddb (text) / getcountry%14.2f x\n", mmdbText / getcountry);
    }
    std::printf("  (checksum %lld)\n", static_cast<long long>(sink));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString csv = Paths::findDataFile(CountryLookup::defaultFileName());
    QString mmdb;
    QString csv6 = Paths::findDataFile(CountryLookup::defaultIpv6FileName());
    QString mmdb6;
    int lookups = 2'000'000;
    int linear = 40;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--csv")
            csv = args[++i];
        else if (args[i] == u"--mmdb")
            mmdb = args[++i];
        else if (args[i] == u"--csv6")
            csv6 = args[++i];
        else if (args[i] == u"--mmdb6")
            mmdb6 = args[++i];
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
    return benchIpv6(csv6, mmdb6, lookups);
}
