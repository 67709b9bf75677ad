// The country file reader and its index against the slow first-match reading of the same file.
#include "tests/fuzz/FuzzSupport.h"

#include "capture/CountryLookup.h"
#include "tests/capture/CountryOracle.h"

#include <QFile>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    const QString path = Fuzz::scratchFile("GeoIPCountryWhois.csv");
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }
    CountryLookup::Limits limits;
    limits.maxFileBytes = qint64(1) << 20;
    limits.maxLineBytes = 1 << 20;
    limits.recheckIntervalMs = 0;
    CountryLookup lookup(path, limits);
    lookup.refresh();

    const QList<CountryOracle::Entry> entries = CountryOracle::parse(CountryOracle::readLines(path));
    // Numbers at and beside every bound the file names, the ends of the address range, and a few
    // taken from the input itself.
    QList<qint64> numbers = { 0, 1, 4294967295LL, -1, 16777216 };
    for (qsizetype i = 0; i < entries.size() && i < 64; ++i) {
        for (const double bound : { entries[i].first, entries[i].last }) {
            if (!std::isfinite(bound) || std::fabs(bound) > 8589934592.0)
                continue;
            const auto n = qint64(std::floor(bound));
            numbers << n - 1 << n << n + 1;
        }
    }
    for (size_t i = 0; i + 4 <= size && i < 64; i += 4)
        numbers << qint64(
            quint32(data[i]) << 24 | quint32(data[i + 1]) << 16 | quint32(data[i + 2]) << 8 | data[i + 3]);

    for (const qint64 number : numbers) {
        const QString indexed = lookup.countryForNumber(number);
        const QString oracle = CountryOracle::lookup(entries, double(number));
        if (indexed != oracle) {
            std::fprintf(stderr, "number %lld: index \"%s\", first match \"%s\"\n", static_cast<long long>(number),
                qPrintable(indexed), qPrintable(oracle));
        }
        FUZZ_CHECK(indexed == oracle);
    }
    return 0;
}
