#pragma once

#include "capture/VisitorAddress.h"
#include "core/Clock.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// Bounds for a country file, which the program did not write itself.
struct CountryLookupLimits
{
    qint64 maxFileBytes = qint64(1) << 30; // reading stops after this many bytes
    qsizetype maxLineBytes = 1 << 20; // a longer line ends the reading
    // Lookups look at the file's size and time again at most this often (a check is a few system
    // calls, several times the cost of the lookup itself).
    qint64 recheckIntervalMs = 1000;
    // A file with more ranges than this is refused (not used, with a notice): it bounds the
    // memory an index build takes (about 150 bytes per range at most, see docs/capture-data.md).
    qsizetype maxRanges = 2'000'000;
    // The same for the distinct country names of a file, in bytes all together.
    qsizetype maxNameBytes = 16 << 20;
};

class CountryTable;
class CountryBuild;

// The visitor's country from two address-range files: "GeoIPCountryWhois.csv" for IPv4 and
// "GeoIPv6CountryWhois.csv" for IPv6.
//
// IPv4 file: one range per line; the program reads field 3 (first address number), field 4 (last
// address number) and the country name (everything after the last comma, unchanged). The first
// line of the file whose range holds the address wins, both bounds inclusive; a line with fewer
// than four commas reuses the bounds of the line before it. Fields 3 and 4 follow the
// leading-number rule; one written in double quotes (the classic all-quoted layout) is read as
// the number inside the quotes.
//
// IPv6 file: field 1 is the first address and field 2 the last, as IPv6 text (in double quotes or
// not); the name is everything after the last comma, as for IPv4; the first line whose range
// holds the address wins. A line without two IPv6 addresses before its last comma is skipped.
//
// Addresses: a text with a colon is an IPv6 address (an IPv4 address mapped into IPv6 is looked up
// in the IPv4 file; text that is no IPv6 address has no country); any other text is a dotted
// IPv4 address read by IpToNumber. A blank and what follows it (a country name after the address
// in the visitor list) is ignored for IPv6.
//
// Each file is read into a flat index: the number line cut into pieces, each holding the name the
// first-match rule gives for all its numbers; a lookup is a binary search in a small bucket.
// Lookups check the files' size, modification time and inode (at most once per recheck
// interval) and build a new index when any of them changed, so a replaced, added or removed file
// is seen within a second. With building in the background (the program), the index is built on
// a worker thread and the old index answers until the new one is ready; in the caller (tests,
// benchmarks), the lookup that sees the change builds it at once.
// Use an instance from one thread (the program uses it on the user-interface thread).
class CountryLookup final : public QObject
{
    Q_OBJECT
public:
    // "GeoIPCountryWhois.csv"
    static QString defaultFileName();
    // "GeoIPv6CountryWhois.csv"
    static QString defaultIpv6FileName();

    using Limits = CountryLookupLimits;
    enum class Building { InCaller, InBackground };

    // No file name: the country file of the program's folder (Paths::findDataFile), looked up
    // again at every check so a file the user adds to the data folder is seen. The IPv6 file is
    // the program's one unless setIpv6FileName names another.
    explicit CountryLookup(QString fileName = QString(), Limits limits = Limits(), const Clock &clock = Clock::system(),
        QObject *parent = nullptr);
    ~CountryLookup() override;

    void setIpv6FileName(const QString &fileName);
    void setBuilding(Building building);

    // The country name for an address (see above), or the empty text when the address is in no
    // range, is no address, or the file cannot be read or was refused.
    QString getcountry(const QString &ip);
    // The same for an IPv4 address number and for an IPv6 address.
    QString countryForNumber(qint64 number);
    QString countryForIpv6(const Ipv6Number &address);

    // a × 16777216 + b × 65536 + c × 256 + d for "a.b.c.d"; each part is read with the
    // leading-number rule, cut to its integer part and taken modulo 256 (keeping its sign). A
    // missing part counts as 0 and ends the text for the parts after it.
    static double IpToNumber(const QString &ip);

    // The ISO code of each country name in a country file ("Germany" -> "DE"), for the relay's
    // messages. Reads the whole file (at most MaxCodeFileBytes): not for the user-interface thread.
    static QHash<QString, QString> codesByName(const QString &fileName);
    static constexpr qint64 MaxCodeFileBytes = 256LL * 1024 * 1024;

    // The files the lookup reads (resolved through the program's folder when none was given).
    QString fileName() const;
    QString ipv6FileName() const;
    // Whether the IPv4 file exists, as of the last check (made again when the recheck interval
    // has passed).
    bool fileExists();

    // Checks both files now. Building in the caller: builds what changed and returns whether an
    // IPv4 index is loaded. In the background: starts the builds that are due and returns at
    // once (the program calls this at start, so the index is ready before the first visits).
    bool checkFiles();
    // Checks both files now and waits until their indexes are built (also in the background
    // mode: tests and benchmarks); returns whether an IPv4 index is loaded.
    bool refresh();
    // Whether a background build is running.
    bool isBuilding() const;

    // Figures of the loaded indexes (for diagnostics and benchmarks).
    qsizetype pieceCount() const;
    qsizetype lineCount() const;
    qsizetype indexBytes() const;
    int buildCount() const { return m_builds[0]; }
    qsizetype ipv6PieceCount() const;
    qsizetype ipv6LineCount() const;
    qsizetype ipv6IndexBytes() const;
    int ipv6BuildCount() const { return m_builds[1]; }

    // The indexes as lookups over number pieces: return the position in names() / ipv6Names(),
    // or -1.
    int nameIndexForNumber(qint64 number) const;
    int nameIndexForIpv6(const Ipv6Number &address) const;
    const QStringList &names() const;
    const QStringList &ipv6Names() const;

signals:
    // A newly built index is in use.
    void indexReplaced();

private:
    struct FileStamp
    {
        QString path;
        bool exists = false;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const FileStamp &) const = default;
    };
    enum Family { V4 = 0, V6 = 1 };
    struct Source
    {
        QString fileName; // as given (empty: the program's folder)
        QString defaultName;
        std::shared_ptr<const CountryTable> table;
        FileStamp loaded; // what table was built from
        bool hasLoaded = false;
        FileStamp seen; // the last check
        qint64 lastCheckMs = 0;
        bool checked = false;
        std::unique_ptr<CountryBuild> build; // running in the background
    };

    QString resolvedName(const Source &source) const;
    FileStamp currentStamp(const Source &source) const;
    void refreshIfDue(Family family);
    void check(Family family, bool wait);
    void startBuild(Family family, const FileStamp &stamp, bool background);
    void install(Family family, const FileStamp &stamp, std::shared_ptr<const CountryTable> table);
    void collectBuilds(bool wait);

    Source m_sources[2];
    Limits m_limits;
    const Clock *m_clock;
    Building m_building = Building::InCaller;
    int m_builds[2] = { 0, 0 };
};
