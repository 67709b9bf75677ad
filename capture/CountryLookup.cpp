#include "capture/CountryLookup.h"

#include "capture/LineReader.h"
#include "core/Conversions.h"
#include "core/Paths.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <queue>
#include <string_view>
#include <unordered_map>

namespace {

// Bounds are kept well inside the 64-bit range; address numbers lie within ±2^32.
constexpr double BoundLimit = 1099511627776.0; // 2^40

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Field 3 or 4 of a line: the leading-number rule, a field in double quotes read inside them.
double fieldNumber(QByteArrayView field)
{
    QByteArrayView inner = field;
    if (inner.size() >= 2 && inner.front() == '"' && inner.back() == '"')
        inner = inner.sliced(1, inner.size() - 2);
    if (!inner.isEmpty() && inner.size() <= 15 && std::all_of(inner.begin(), inner.end(), isDigit)) {
        qint64 value = 0;
        for (char c : inner)
            value = value * 10 + (c - '0');
        return double(value);
    }
    QString text = QString::fromUtf8(field).trimmed();
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.mid(1, text.size() - 2);
    return Conversions::leadingNumber(text);
}

// One part of a dotted address: read as a number, cut to its integer part, modulo 256.
double partValue(QStringView part)
{
    if (!part.isEmpty() && part.size() <= 3) {
        int value = 0;
        bool plain = true;
        for (QChar c : part) {
            if (c < u'0' || c > u'9') {
                plain = false;
                break;
            }
            value = value * 10 + (c.unicode() - u'0');
        }
        if (plain)
            return double(value % 256);
    }
    const double value = std::trunc(Conversions::leadingNumber(part.toString()));
    return std::fmod(value, 256.0);
}

struct Range
{
    qint64 lo;
    qint64 hi;
    qint32 name;
};

// Builds the flat piece list; adjacent pieces with the same value are merged.
class PieceWriter
{
public:
    PieceWriter(std::vector<qint64> &starts, std::vector<qint32> &values)
        : m_starts(starts)
        , m_values(values)
    { }

    void push(qint64 start, qint32 value)
    {
        if (!m_starts.empty() && m_starts.back() == start) {
            m_values.back() = value;
            const qint32 before = m_values.size() >= 2 ? m_values[m_values.size() - 2] : -1;
            if (before == value) {
                m_starts.pop_back();
                m_values.pop_back();
            }
            return;
        }
        const qint32 current = m_values.empty() ? -1 : m_values.back();
        if (current == value)
            return;
        m_starts.push_back(start);
        m_values.push_back(value);
    }

private:
    std::vector<qint64> &m_starts;
    std::vector<qint32> &m_values;
};

} // namespace

QString CountryLookup::defaultFileName()
{
    return QStringLiteral("GeoIPCountryWhois.csv");
}

CountryLookup::CountryLookup(QString fileName, Limits limits, const Clock &clock)
    : m_fileName(std::move(fileName))
    , m_encodedName(QFile::encodeName(m_fileName))
    , m_limits(limits)
    , m_clock(&clock)
{ }

namespace {

// "a.b.c.d" with 1 to 3 decimal digits in each part and nothing else: the address number, or
// -1 for any other text.
qint64 plainDottedNumber(const QString &ip)
{
    const QChar *p = ip.constData();
    const qsizetype n = ip.size();
    qsizetype i = 0;
    qint64 result = 0;
    for (int k = 0; k < 4; ++k) {
        int value = 0;
        int digits = 0;
        while (i < n && digits < 3 && p[i] >= u'0' && p[i] <= u'9') {
            value = value * 10 + (p[i].unicode() - u'0');
            ++i;
            ++digits;
        }
        if (digits == 0)
            return -1;
        if (k < 3) {
            if (i >= n || p[i] != u'.')
                return -1;
            ++i;
        }
        result = result * 256 + (value % 256);
    }
    return i == n ? result : -1;
}

} // namespace

double CountryLookup::IpToNumber(const QString &ip)
{
    const qint64 plain = plainDottedNumber(ip);
    if (plain >= 0)
        return double(plain);
    double result = 0.0;
    qsizetype previousDot = -1;
    bool ended = false;
    for (int i = 0; i < 4; ++i) {
        QStringView part;
        if (!ended) {
            qsizetype end = ip.size();
            if (i < 3) {
                const qsizetype dot = ip.indexOf(u'.', previousDot + 1);
                if (dot >= 0)
                    end = dot;
                else
                    ended = true;
            } else {
                ended = true;
            }
            part = QStringView(ip).sliced(previousDot + 1, end - previousDot - 1);
            previousDot = end;
        }
        result += partValue(part) * std::pow(256.0, 3 - i);
    }
    return result;
}

QString CountryLookup::fileName() const
{
    return m_fileName.isEmpty() ? Paths::findDataFile(defaultFileName()) : m_fileName;
}

bool CountryLookup::fileExists()
{
    refreshIfDue();
    return m_loaded.exists;
}

CountryLookup::FileStamp CountryLookup::currentStamp() const
{
    FileStamp stamp;
    stamp.path = fileName();
    struct stat info;
    const QByteArray encoded = m_fileName.isEmpty() ? QFile::encodeName(stamp.path) : m_encodedName;
    if (::stat(encoded.constData(), &info) == 0) {
        stamp.exists = true;
        stamp.size = qint64(info.st_size);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        stamp.inode = quint64(info.st_ino);
        stamp.device = quint64(info.st_dev);
    }
    return stamp;
}

void CountryLookup::refreshIfDue()
{
    const qint64 now = m_clock->monotonicMs();
    if (!m_hasStamp || now - m_lastCheckMs >= m_limits.recheckIntervalMs || now < m_lastCheckMs)
        refresh();
}

bool CountryLookup::refresh()
{
    m_lastCheckMs = m_clock->monotonicMs();
    const FileStamp stamp = currentStamp();
    if (!m_hasStamp || !(stamp == m_loaded)) {
        build(stamp);
        m_loaded = stamp;
        m_hasStamp = true;
    }
    return !m_starts.empty();
}

void CountryLookup::clearIndex()
{
    m_starts = {};
    m_values = {};
    m_buckets = {};
    m_names.clear();
    m_lines = 0;
}

void CountryLookup::build(const FileStamp &stamp)
{
    clearIndex();
    ++m_builds;
    if (!stamp.exists)
        return;

    // Keys point into nameBytes, whose elements keep their data where they are.
    std::unordered_map<std::string_view, qint32> nameIndex;
    QList<QByteArray> nameBytes;

    // Reads the file and hands each line's range (lines without one skipped) to onRange, in file
    // order, until onRange returns false. Returns false when the file could not be opened or
    // onRange stopped the reading.
    const auto readRanges = [&](const auto &onRange) {
        nameIndex.clear();
        nameBytes.clear();
        m_lines = 0;
        QFile file(stamp.path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        // Bounds of the line before: a line with fewer than four commas reuses them (0 and 0
        // before the first line).
        qint64 lo = 0;
        qint64 hi = 0;
        LineReader reader(file, m_limits.maxLineBytes, m_limits.maxFileBytes);
        QByteArrayView line;
        while (reader.next(line) == LineReader::Status::Line) {
            ++m_lines;
            const char *data = line.data();
            const qsizetype n = line.size();
            qsizetype commas[4] = {};
            int found = 0;
            for (qsizetype i = 0; i < n && found < 4; ++i) {
                if (data[i] == ',')
                    commas[found++] = i;
            }
            if (found == 4) {
                const double first = fieldNumber(line.sliced(commas[1] + 1, commas[2] - commas[1] - 1));
                const double last = fieldNumber(line.sliced(commas[2] + 1, commas[3] - commas[2] - 1));
                // Whole address numbers between first and last, both inclusive.
                lo = qint64(std::ceil(std::clamp(first, -BoundLimit, BoundLimit)));
                hi = qint64(std::floor(std::clamp(last, -BoundLimit, BoundLimit)));
            }
            if (lo > hi)
                continue; // a range no address number lies in
            qsizetype lastComma = n - 1;
            while (lastComma >= 0 && data[lastComma] != ',')
                --lastComma;
            const QByteArrayView name = line.sliced(lastComma + 1);
            const auto it = nameIndex.find(std::string_view(name.data(), size_t(name.size())));
            qint32 value;
            if (it == nameIndex.end()) {
                value = qint32(nameBytes.size());
                nameBytes.append(name.toByteArray());
                const QByteArray &stored = nameBytes.constLast();
                nameIndex.emplace(std::string_view(stored.constData(), size_t(stored.size())), value);
            } else {
                value = it->second;
            }
            if (!onRange(Range { lo, hi, value }))
                return false;
        }
        return true;
    };

    PieceWriter writer(m_starts, m_values);
    // Ranges in ascending, disjoint order (the shipped file) go straight into the pieces.
    bool haveLast = false;
    qint64 lastHi = 0;
    bool monotonic = true;
    readRanges([&](const Range &range) {
        if (haveLast && range.lo <= lastHi) {
            monotonic = false;
            return false;
        }
        haveLast = true;
        lastHi = range.hi;
        writer.push(range.lo, range.name);
        writer.push(range.hi + 1, -1);
        return true;
    });

    if (!monotonic) {
        // Overlapping or unsorted ranges: read them all, then sweep over their bounds; among the
        // ranges that hold a number, the one nearest the top of the file gives the name.
        m_starts.clear();
        m_values.clear();
        std::vector<Range> ranges;
        readRanges([&](const Range &range) {
            ranges.push_back(range);
            return true;
        });
        struct Event
        {
            qint64 at;
            qint32 range;
            bool start;
        };
        std::vector<Event> events;
        events.reserve(ranges.size() * 2);
        for (qsizetype k = 0; k < qsizetype(ranges.size()); ++k) {
            events.push_back({ ranges[k].lo, qint32(k), true });
            events.push_back({ ranges[k].hi + 1, qint32(k), false });
        }
        std::sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.at < b.at; });
        std::vector<bool> active(ranges.size(), false);
        std::priority_queue<qint32, std::vector<qint32>, std::greater<>> open;
        for (size_t i = 0; i < events.size();) {
            const qint64 at = events[i].at;
            for (; i < events.size() && events[i].at == at; ++i) {
                const Event &event = events[i];
                active[event.range] = event.start;
                if (event.start)
                    open.push(event.range);
            }
            while (!open.empty() && !active[open.top()])
                open.pop();
            writer.push(at, open.empty() ? -1 : ranges[open.top()].name);
        }
    }

    m_names.reserve(nameBytes.size());
    for (const QByteArray &bytes : std::as_const(nameBytes))
        m_names.append(QString::fromUtf8(bytes));

    m_starts.shrink_to_fit();
    m_values.shrink_to_fit();

    // Bucket b: the number of pieces that start at or below b * 65536.
    constexpr qint64 BucketCount = 65536;
    m_buckets.resize(BucketCount + 1);
    size_t piece = 0;
    for (qint64 b = 0; b <= BucketCount; ++b) {
        const qint64 at = b << 16;
        while (piece < m_starts.size() && m_starts[piece] <= at)
            ++piece;
        m_buckets[size_t(b)] = quint32(piece);
    }
}

int CountryLookup::nameIndexForNumber(qint64 number) const
{
    if (m_starts.empty())
        return -1;
    auto from = m_starts.begin();
    auto to = m_starts.end();
    if (number >= 0 && number < (qint64(1) << 32)) {
        // The first piece that starts above number lies between these two.
        const size_t bucket = size_t(number >> 16);
        from = m_starts.begin() + m_buckets[bucket];
        to = m_starts.begin() + m_buckets[bucket + 1];
    }
    const auto it = std::upper_bound(from, to, number);
    if (it == m_starts.begin())
        return -1;
    return m_values[size_t(it - m_starts.begin() - 1)];
}

QString CountryLookup::countryForNumber(qint64 number)
{
    refreshIfDue();
    const int index = nameIndexForNumber(number);
    return index < 0 ? QString() : m_names.at(index);
}

QString CountryLookup::getcountry(const QString &ip)
{
    return countryForNumber(qint64(IpToNumber(ip)));
}

qsizetype CountryLookup::indexBytes() const
{
    qsizetype bytes = qsizetype(m_starts.capacity() * sizeof(qint64) + m_values.capacity() * sizeof(qint32)
        + m_buckets.capacity() * sizeof(quint32));
    for (const QString &name : m_names)
        bytes += qsizetype(sizeof(QString)) + name.capacity() * 2;
    return bytes;
}
