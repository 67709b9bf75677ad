#include "capture/CountryLookup.h"

#include "capture/LineReader.h"
#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/Paths.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <queue>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace {

// Bounds are kept well inside the 64-bit range; address numbers lie within ±2^32.
constexpr double BoundLimit = 1099511627776.0; // 2^40
constexpr qint64 BucketCount = 65536;

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

// The number after key, if there is one (the IPv6 number line ends at ffff:...:ffff).
std::optional<qint64> following(qint64 key)
{
    return key + 1;
}

std::optional<Ipv6Number> following(const Ipv6Number &key)
{
    if (key.lo != std::numeric_limits<quint64>::max())
        return Ipv6Number { key.hi, key.lo + 1 };
    if (key.hi != std::numeric_limits<quint64>::max())
        return Ipv6Number { key.hi + 1, 0 };
    return std::nullopt;
}

// The bucket of a number: its top 16 bits (IPv4 numbers outside 0 .. 2^32 - 1 have none).
qint64 bucketOf(qint64 number)
{
    return number >= 0 && number < (qint64(1) << 32) ? number >> 16 : -1;
}

qint64 bucketOf(const Ipv6Number &address)
{
    return qint64(address.hi >> 48);
}

qint64 bucketStart(qint64 bucket, qint64 *)
{
    return bucket << 16;
}

Ipv6Number bucketStart(qint64 bucket, Ipv6Number *)
{
    return Ipv6Number { quint64(bucket) << 48, 0 };
}

template <typename Key> struct Range
{
    Key lo;
    Key hi;
    qint32 name;
};

// The number line cut into pieces. Piece i covers the numbers from starts[i] up to
// starts[i + 1] - 1 (the last one up to the end of the line) and gives the name values[i], or
// none for -1. For a number in bucket b, the piece that holds it lies between buckets[b] - 1 and
// buckets[b + 1]: a search in a handful of pieces instead of all of them.
template <typename Key> struct Pieces
{
    std::vector<Key> starts;
    std::vector<qint32> values;
    std::vector<quint32> buckets;

    // Builds the piece list; adjacent pieces with the same value are merged.
    void push(const Key &start, qint32 value)
    {
        if (!starts.empty() && starts.back() == start) {
            values.back() = value;
            const qint32 before = values.size() >= 2 ? values[values.size() - 2] : -1;
            if (before == value) {
                starts.pop_back();
                values.pop_back();
            }
            return;
        }
        const qint32 current = values.empty() ? -1 : values.back();
        if (current == value)
            return;
        starts.push_back(start);
        values.push_back(value);
    }

    void finish()
    {
        starts.shrink_to_fit();
        values.shrink_to_fit();
        // Bucket b: the number of pieces that start at or below the first number of bucket b.
        buckets.resize(BucketCount + 1);
        size_t piece = 0;
        for (qint64 b = 0; b < BucketCount; ++b) {
            const Key at = bucketStart(b, static_cast<Key *>(nullptr));
            while (piece < starts.size() && starts[piece] <= at)
                ++piece;
            buckets[size_t(b)] = quint32(piece);
        }
        // The end of the last bucket: every piece that starts inside it.
        const Key last = bucketStart(BucketCount - 1, static_cast<Key *>(nullptr));
        while (piece < starts.size() && bucketOf(starts[piece]) == bucketOf(last))
            ++piece;
        buckets[size_t(BucketCount)] = quint32(piece);
    }

    int find(const Key &number) const
    {
        if (starts.empty())
            return -1;
        auto from = starts.begin();
        auto to = starts.end();
        const qint64 bucket = bucketOf(number);
        if (bucket >= 0) {
            // The first piece that starts above number lies between these two.
            from = starts.begin() + buckets[size_t(bucket)];
            to = starts.begin() + buckets[size_t(bucket) + 1];
        }
        const auto it = std::upper_bound(from, to, number);
        if (it == starts.begin())
            return -1;
        return values[size_t(it - starts.begin() - 1)];
    }

    qsizetype bytes() const
    {
        return qsizetype(starts.capacity() * sizeof(Key) + values.capacity() * sizeof(qint32)
            + buckets.capacity() * sizeof(quint32));
    }

    // Turns ranges read in file order into pieces: among the ranges that hold a number, the one
    // nearest the top of the file gives the name.
    void sweep(const std::vector<Range<Key>> &ranges)
    {
        struct Event
        {
            Key at;
            qint32 range;
            bool start;
        };
        std::vector<Event> events;
        events.reserve(ranges.size() * 2);
        for (qsizetype k = 0; k < qsizetype(ranges.size()); ++k) {
            events.push_back({ ranges[size_t(k)].lo, qint32(k), true });
            if (const std::optional<Key> end = following(ranges[size_t(k)].hi))
                events.push_back({ *end, qint32(k), false });
        }
        std::sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.at < b.at; });
        std::vector<bool> active(ranges.size(), false);
        std::priority_queue<qint32, std::vector<qint32>, std::greater<>> open;
        for (size_t i = 0; i < events.size();) {
            const Key at = events[i].at;
            for (; i < events.size() && events[i].at == at; ++i) {
                const Event &event = events[i];
                active[size_t(event.range)] = event.start;
                if (event.start)
                    open.push(event.range);
            }
            while (!open.empty() && !active[size_t(open.top())])
                open.pop();
            push(at, open.empty() ? -1 : ranges[size_t(open.top())].name);
        }
    }
};

} // namespace

// One file's index; built once, then only read (shared with the thread that built it).
class CountryTable final
{
public:
    Pieces<qint64> v4;
    Pieces<Ipv6Number> v6;
    QStringList names;
    qsizetype lines = 0;
    QString notice; // why the file was refused; empty when it was not

    qsizetype bytes() const
    {
        qsizetype total = v4.bytes() + v6.bytes();
        for (const QString &name : names)
            total += qsizetype(sizeof(QString)) + name.capacity() * 2;
        return total;
    }
};

namespace {

// Reads one file into a table. cancel is looked at for every line; a cancelled build returns
// whatever it has (the caller throws it away).
class TableBuilder
{
public:
    TableBuilder(const QString &path, bool ipv6, const CountryLookupLimits &limits, const std::atomic<bool> &cancel)
        : m_path(path)
        , m_ipv6(ipv6)
        , m_limits(limits)
        , m_cancel(cancel)
    { }

    std::shared_ptr<const CountryTable> build()
    {
        auto table = std::make_shared<CountryTable>();
        if (m_ipv6)
            buildPieces(table->v6, *table);
        else
            buildPieces(table->v4, *table);
        if (!table->notice.isEmpty()) {
            table->v4 = {};
            table->v6 = {};
            m_nameBytes.clear();
        }
        table->names.reserve(m_nameBytes.size());
        for (const QByteArray &bytes : std::as_const(m_nameBytes))
            table->names.append(QString::fromUtf8(bytes));
        if (table->notice.isEmpty()) {
            table->v4.finish();
            table->v6.finish();
        }
        return table;
    }

private:
    enum class Stop { No, Refused, Callback };

    // The name's position, adding it when new; -1 when the names would exceed their bound.
    qint32 nameIndex(QByteArrayView name)
    {
        const auto it = m_nameIndex.find(std::string_view(name.data(), size_t(name.size())));
        if (it != m_nameIndex.end())
            return it->second;
        m_totalNameBytes += name.size();
        if (m_totalNameBytes > m_limits.maxNameBytes)
            return -1;
        const qint32 value = qint32(m_nameBytes.size());
        m_nameBytes.append(name.toByteArray());
        const QByteArray &stored = m_nameBytes.constLast();
        m_nameIndex.emplace(std::string_view(stored.constData(), size_t(stored.size())), value);
        return value;
    }

    static QByteArrayView unquoted(QByteArrayView field)
    {
        field = field.trimmed();
        if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
            field = field.sliced(1, field.size() - 2).trimmed();
        return field;
    }

    // The range of one IPv4 line (bounds of the line before for a short line).
    bool rangeOf(QByteArrayView line, Range<qint64> &range)
    {
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
            m_lo = qint64(std::ceil(std::clamp(first, -BoundLimit, BoundLimit)));
            m_hi = qint64(std::floor(std::clamp(last, -BoundLimit, BoundLimit)));
        }
        range.lo = m_lo;
        range.hi = m_hi;
        return m_lo <= m_hi; // otherwise no address number lies in it
    }

    static bool rangeOf(QByteArrayView line, Range<Ipv6Number> &range)
    {
        const qsizetype first = line.indexOf(',');
        if (first < 0)
            return false;
        const qsizetype second = line.indexOf(',', first + 1);
        if (second < 0)
            return false;
        const QByteArrayView a = unquoted(line.first(first));
        const QByteArrayView b = unquoted(line.sliced(first + 1, second - first - 1));
        const std::optional<Ipv6Number> lo = VisitorAddress::parseIpv6(a.data(), a.size());
        const std::optional<Ipv6Number> hi = VisitorAddress::parseIpv6(b.data(), b.size());
        if (!lo || !hi || *hi < *lo)
            return false;
        range.lo = *lo;
        range.hi = *hi;
        return true;
    }

    // Reads the file and hands each line's range to onRange, in file order, until onRange
    // returns false (Stop::Callback). Stops with Stop::Refused when a bound is passed.
    template <typename Key, typename OnRange> Stop readRanges(CountryTable &table, const OnRange &onRange)
    {
        m_nameIndex.clear();
        m_nameBytes.clear();
        m_totalNameBytes = 0;
        m_lo = 0;
        m_hi = 0;
        table.lines = 0;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return Stop::No;
        qsizetype ranges = 0;
        LineReader reader(file, m_limits.maxLineBytes, m_limits.maxFileBytes);
        QByteArrayView line;
        while (reader.next(line) == LineReader::Status::Line) {
            if (m_cancel.load(std::memory_order_relaxed))
                return Stop::Callback;
            ++table.lines;
            Range<Key> range;
            if (!rangeOf(line, range))
                continue;
            if (++ranges > m_limits.maxRanges) {
                table.notice = QStringLiteral("Country file %1 not used: it holds more than %2 ranges")
                                   .arg(m_path, QString::number(m_limits.maxRanges));
                return Stop::Refused;
            }
            qsizetype lastComma = line.size() - 1;
            while (lastComma >= 0 && line.data()[lastComma] != ',')
                --lastComma;
            range.name = nameIndex(line.sliced(lastComma + 1));
            if (range.name < 0) {
                table.notice = QStringLiteral("Country file %1 not used: its country names take more than %2 bytes")
                                   .arg(m_path, QString::number(m_limits.maxNameBytes));
                return Stop::Refused;
            }
            if (!onRange(range))
                return Stop::Callback;
        }
        return Stop::No;
    }

    template <typename Key> void buildPieces(Pieces<Key> &pieces, CountryTable &table)
    {
        // Ranges in ascending, disjoint order (the shipped files) go straight into the pieces.
        bool haveLast = false;
        Key lastHi {};
        bool monotonic = true;
        Stop stop = readRanges<Key>(table, [&](const Range<Key> &range) {
            if (haveLast && range.lo <= lastHi) {
                monotonic = false;
                return false;
            }
            haveLast = true;
            lastHi = range.hi;
            pieces.push(range.lo, range.name);
            if (const std::optional<Key> end = following(range.hi))
                pieces.push(*end, -1);
            return true;
        });
        if (stop == Stop::Refused || monotonic || m_cancel.load())
            return;

        // Overlapping or unsorted ranges: read them all, then sweep over their bounds.
        pieces = {};
        std::vector<Range<Key>> ranges;
        stop = readRanges<Key>(table, [&](const Range<Key> &range) {
            ranges.push_back(range);
            return true;
        });
        if (stop == Stop::Refused || m_cancel.load())
            return;
        pieces.sweep(ranges);
    }

    QString m_path;
    bool m_ipv6;
    CountryLookupLimits m_limits;
    const std::atomic<bool> &m_cancel;
    // Keys point into m_nameBytes, whose elements keep their data where they are.
    std::unordered_map<std::string_view, qint32> m_nameIndex;
    QList<QByteArray> m_nameBytes;
    qsizetype m_totalNameBytes = 0;
    // Bounds of the IPv4 line before: a line with fewer than four commas reuses them (0 and 0
    // before the first line).
    qint64 m_lo = 0;
    qint64 m_hi = 0;
};

} // namespace

// A build on a worker thread.
class CountryBuild final
{
public:
    std::thread thread;
    std::atomic<bool> cancel { false };
    std::atomic<bool> done { false };
    std::shared_ptr<const CountryTable> table; // written by the worker before done
    QString stampPath;
    qint64 stampSize = 0;
    qint64 stampModifiedNs = 0;
    quint64 stampInode = 0;
    quint64 stampDevice = 0;
    bool stampExists = false;
};

QHash<QString, QString> CountryLookup::codesByName(const QString &fileName)
{
    // "1.0.0.0","1.0.0.255",16777216,16777471,"AU",Australia
    // "2001:2::","2001:2:0:ffff:ffff:ffff:ffff:ffff","JP",Japan
    // Read whole and scanned by hand: a file has hundreds of thousands of lines and some 250 names.
    QHash<QString, QString> codes;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxCodeFileBytes)
        return codes;
    const QByteArray data = file.readAll();
    const char *at = data.constData();
    const char *const end = at + data.size();
    QByteArrayView lastCode;
    while (at < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(at, '\n', std::size_t(end - at)));
        if (!lineEnd)
            lineEnd = end;
        // The code is the first field that is two capital letters in quotes (the fifth in the
        // IPv4 file, the third in the IPv6 one); the name is the rest of the line.
        const char *field = at;
        while (field && field < lineEnd) {
            const char *fieldEnd = static_cast<const char *>(std::memchr(field, ',', std::size_t(lineEnd - field)));
            if (!fieldEnd)
                break;
            const QByteArrayView quoted(field, fieldEnd - field);
            if (quoted.size() == 4 && quoted[0] == '"' && quoted[3] == '"'
                && std::isupper(static_cast<unsigned char>(quoted[1]))
                && std::isupper(static_cast<unsigned char>(quoted[2]))) {
                const QByteArrayView code = quoted.sliced(1, 2);
                if (code != lastCode) {
                    lastCode = code;
                    QByteArray name(fieldEnd + 1, lineEnd - fieldEnd - 1);
                    name.replace('"', QByteArray());
                    const QString text = QString::fromUtf8(name).trimmed();
                    if (!text.isEmpty() && codes.size() < 10'000)
                        codes.insert(text, QString::fromLatin1(code));
                }
                break;
            }
            field = fieldEnd + 1;
        }
        at = lineEnd + 1;
    }
    return codes;
}

QString CountryLookup::defaultFileName()
{
    return QStringLiteral("GeoIPCountryWhois.csv");
}

QString CountryLookup::defaultIpv6FileName()
{
    return QStringLiteral("GeoIPv6CountryWhois.csv");
}

CountryLookup::CountryLookup(QString fileName, Limits limits, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_limits(limits)
    , m_clock(&clock)
{
    m_sources[V4].fileName = std::move(fileName);
    m_sources[V4].defaultName = defaultFileName();
    m_sources[V6].defaultName = defaultIpv6FileName();
}

CountryLookup::~CountryLookup()
{
    for (Source &source : m_sources) {
        if (source.build) {
            source.build->cancel = true;
            source.build->thread.join();
        }
    }
}

void CountryLookup::setIpv6FileName(const QString &fileName)
{
    m_sources[V6].fileName = fileName;
    m_sources[V6].checked = false;
}

void CountryLookup::setBuilding(Building building)
{
    m_building = building;
}

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

QString CountryLookup::resolvedName(const Source &source) const
{
    return source.fileName.isEmpty() ? Paths::findDataFile(source.defaultName) : source.fileName;
}

QString CountryLookup::fileName() const
{
    return resolvedName(m_sources[V4]);
}

QString CountryLookup::ipv6FileName() const
{
    return resolvedName(m_sources[V6]);
}

bool CountryLookup::fileExists()
{
    refreshIfDue(V4);
    return m_sources[V4].seen.exists;
}

CountryLookup::FileStamp CountryLookup::currentStamp(const Source &source) const
{
    FileStamp stamp;
    stamp.path = resolvedName(source);
    struct stat info;
    if (::stat(QFile::encodeName(stamp.path).constData(), &info) == 0) {
        stamp.exists = true;
        stamp.size = qint64(info.st_size);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        stamp.inode = quint64(info.st_ino);
        stamp.device = quint64(info.st_dev);
    }
    return stamp;
}

void CountryLookup::refreshIfDue(Family family)
{
    collectBuilds(false);
    const Source &source = m_sources[family];
    const qint64 now = m_clock->monotonicMs();
    if (!source.checked || now - source.lastCheckMs >= m_limits.recheckIntervalMs || now < source.lastCheckMs)
        check(family, false);
    // Right after the start there is no index yet: a visit then waits for the first one (the
    // shipped file takes about 0.1 s) instead of going without a country, but never longer than
    // 2 s, so a file that cannot be read quickly does not hold the visits.
    if (!source.hasLoaded && source.build) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!source.build->done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        collectBuilds(false);
    }
}

void CountryLookup::check(Family family, bool wait)
{
    Source &source = m_sources[family];
    source.lastCheckMs = m_clock->monotonicMs();
    source.checked = true;
    source.seen = currentStamp(source);
    if (source.build) {
        if (!wait)
            return; // the next check after it has finished builds again if the file changed
        collectBuilds(true);
    }
    if (source.hasLoaded && source.seen == source.loaded)
        return;
    startBuild(family, source.seen, m_building == Building::InBackground && !wait);
}

void CountryLookup::startBuild(Family family, const FileStamp &stamp, bool background)
{
    Source &source = m_sources[family];
    ++m_builds[family];
    if (!stamp.exists) {
        install(family, stamp, std::make_shared<CountryTable>());
        return;
    }
    if (!background) {
        const std::atomic<bool> cancel { false };
        TableBuilder builder(stamp.path, family == V6, m_limits, cancel);
        install(family, stamp, builder.build());
        return;
    }
    auto build = std::make_unique<CountryBuild>();
    build->stampPath = stamp.path;
    build->stampExists = stamp.exists;
    build->stampSize = stamp.size;
    build->stampModifiedNs = stamp.modifiedNs;
    build->stampInode = stamp.inode;
    build->stampDevice = stamp.device;
    CountryBuild *job = build.get();
    const Limits limits = m_limits;
    const QString path = stamp.path;
    const bool ipv6 = family == V6;
    job->thread = std::thread([this, job, limits, path, ipv6] {
        TableBuilder builder(path, ipv6, limits, job->cancel);
        job->table = builder.build();
        job->done.store(true, std::memory_order_release);
        // The owner joins this thread before it goes, so it is still there.
        QMetaObject::invokeMethod(
            this, [this] { collectBuilds(false); }, Qt::QueuedConnection);
    });
    source.build = std::move(build);
}

void CountryLookup::collectBuilds(bool wait)
{
    for (int family = V4; family <= V6; ++family) {
        Source &source = m_sources[family];
        if (!source.build)
            continue;
        if (!wait && !source.build->done.load(std::memory_order_acquire))
            continue;
        std::unique_ptr<CountryBuild> build = std::move(source.build);
        build->thread.join();
        FileStamp stamp;
        stamp.path = build->stampPath;
        stamp.exists = build->stampExists;
        stamp.size = build->stampSize;
        stamp.modifiedNs = build->stampModifiedNs;
        stamp.inode = build->stampInode;
        stamp.device = build->stampDevice;
        install(Family(family), stamp, std::move(build->table));
    }
}

void CountryLookup::install(Family family, const FileStamp &stamp, std::shared_ptr<const CountryTable> table)
{
    Source &source = m_sources[family];
    source.table = std::move(table);
    source.loaded = stamp;
    source.hasLoaded = true;
    if (!source.table->notice.isEmpty())
        LogMsg(source.table->notice);
    emit indexReplaced();
}

bool CountryLookup::checkFiles()
{
    check(V4, false);
    check(V6, false);
    return pieceCount() > 0;
}

bool CountryLookup::refresh()
{
    check(V4, true);
    check(V6, true);
    collectBuilds(true);
    return pieceCount() > 0;
}

bool CountryLookup::isBuilding() const
{
    return m_sources[V4].build || m_sources[V6].build;
}

int CountryLookup::nameIndexForNumber(qint64 number) const
{
    const CountryTable *table = m_sources[V4].table.get();
    return table ? table->v4.find(number) : -1;
}

int CountryLookup::nameIndexForIpv6(const Ipv6Number &address) const
{
    const CountryTable *table = m_sources[V6].table.get();
    return table ? table->v6.find(address) : -1;
}

const QStringList &CountryLookup::names() const
{
    static const QStringList none;
    return m_sources[V4].table ? m_sources[V4].table->names : none;
}

const QStringList &CountryLookup::ipv6Names() const
{
    static const QStringList none;
    return m_sources[V6].table ? m_sources[V6].table->names : none;
}

QString CountryLookup::countryForNumber(qint64 number)
{
    refreshIfDue(V4);
    const int index = nameIndexForNumber(number);
    return index < 0 ? QString() : names().at(index);
}

QString CountryLookup::countryForIpv6(const Ipv6Number &address)
{
    if (address.isV4Mapped())
        return countryForNumber(qint64(address.mappedV4()));
    refreshIfDue(V6);
    const int index = nameIndexForIpv6(address);
    return index < 0 ? QString() : ipv6Names().at(index);
}

QString CountryLookup::getcountry(const QString &ip)
{
    const qsizetype colon = ip.indexOf(u':');
    if (colon < 0)
        return countryForNumber(qint64(IpToNumber(ip)));
    // IPv6: the address up to a blank (a country name may follow it in the visitor list).
    QStringView text = QStringView(ip).trimmed();
    const qsizetype blank = text.indexOf(u' ');
    if (blank >= 0)
        text = text.first(blank);
    const std::optional<Ipv6Number> address = VisitorAddress::parseIpv6(text);
    return address ? countryForIpv6(*address) : QString();
}

qsizetype CountryLookup::pieceCount() const
{
    return m_sources[V4].table ? qsizetype(m_sources[V4].table->v4.starts.size()) : 0;
}

qsizetype CountryLookup::lineCount() const
{
    return m_sources[V4].table ? m_sources[V4].table->lines : 0;
}

qsizetype CountryLookup::indexBytes() const
{
    return m_sources[V4].table ? m_sources[V4].table->bytes() : 0;
}

qsizetype CountryLookup::ipv6PieceCount() const
{
    return m_sources[V6].table ? qsizetype(m_sources[V6].table->v6.starts.size()) : 0;
}

qsizetype CountryLookup::ipv6LineCount() const
{
    return m_sources[V6].table ? m_sources[V6].table->lines : 0;
}

qsizetype CountryLookup::ipv6IndexBytes() const
{
    return m_sources[V6].table ? m_sources[V6].table->bytes() : 0;
}
