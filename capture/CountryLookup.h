#pragma once

#include "core/Clock.h"

#include <QString>
#include <QStringList>

#include <vector>

// Bounds for a country file, which the program did not write itself.
struct CountryLookupLimits
{
    qint64 maxFileBytes = qint64(1) << 30; // reading stops after this many bytes
    qsizetype maxLineBytes = 1 << 20; // a longer line ends the reading
    // Lookups look at the file's size and time again at most this often (a check is a few system
    // calls, several times the cost of the lookup itself).
    qint64 recheckIntervalMs = 1000;
};

// The visitor's country from the address-range file "GeoIPCountryWhois.csv".
//
// The file holds one range per line; the program reads field 3 (first address number), field 4
// (last address number) and the country name (everything after the last comma, unchanged). The
// first line of the file whose range holds the address wins, both bounds inclusive; a line with
// fewer than four commas reuses the bounds of the line before it. Fields 3 and 4 follow the
// leading-number rule; one written in double quotes (the classic all-quoted layout) is read as
// the number inside the quotes.
//
// The file is read once into a flat index: the number line cut into pieces, each holding the
// name the first-match rule gives for all its numbers. A lookup is a binary search. Lookups check
// the file's size and modification time (at most once per recheck interval) and rebuild the index
// when either changed, so a replaced, added or removed file is seen within a second.
// Not thread-safe: use one instance per thread (the program uses it on the user-interface thread).
class CountryLookup final
{
public:
    // "GeoIPCountryWhois.csv"
    static QString defaultFileName();

    using Limits = CountryLookupLimits;

    // No file name: the country file of the program's folder (Paths::findDataFile), looked up
    // again at every check so a file the user adds to the data folder is seen.
    explicit CountryLookup(
        QString fileName = QString(), Limits limits = Limits(), const Clock &clock = Clock::system());

    // The country name for a dotted address, or the empty text when the address is in no range
    // or the file cannot be read.
    QString getcountry(const QString &ip);
    // The same for an address number.
    QString countryForNumber(qint64 number);

    // a × 16777216 + b × 65536 + c × 256 + d for "a.b.c.d"; each part is read with the
    // leading-number rule, cut to its integer part and taken modulo 256 (keeping its sign). A
    // missing part counts as 0 and ends the text for the parts after it.
    static double IpToNumber(const QString &ip);

    // The file the lookup reads (resolved through the program's folder when none was given).
    QString fileName() const;
    // Whether that file exists (the visit processing shows the bare address when it does not); as
    // of the last check, made again when the recheck interval has passed.
    bool fileExists();

    // Checks the file now and reads it if it is new or changed; returns whether an index is loaded.
    bool refresh();

    // Figures of the loaded index (for diagnostics and benchmarks).
    qsizetype pieceCount() const { return qsizetype(m_starts.size()); }
    qsizetype lineCount() const { return m_lines; }
    qsizetype indexBytes() const;
    int buildCount() const { return m_builds; }

    // The index as a lookup over number pieces: returns the position in names() or -1.
    int nameIndexForNumber(qint64 number) const;
    const QStringList &names() const { return m_names; }

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

    FileStamp currentStamp() const;
    void refreshIfDue();
    void build(const FileStamp &stamp);
    void clearIndex();

    QString m_fileName;
    QByteArray m_encodedName; // m_fileName for the system calls
    Limits m_limits;
    const Clock *m_clock;
    FileStamp m_loaded;
    bool m_hasStamp = false;
    qint64 m_lastCheckMs = 0;

    // Piece i covers the numbers from m_starts[i] up to m_starts[i + 1] - 1 (the last one up to
    // the end of the number line) and gives the name m_names[m_values[i]], or none for -1.
    std::vector<qint64> m_starts;
    std::vector<qint32> m_values;
    // For a number n in 0 .. 2^32 - 1, the piece that holds it lies between m_buckets[n >> 16] - 1
    // and m_buckets[(n >> 16) + 1]: a search in a handful of pieces instead of all of them.
    std::vector<quint32> m_buckets;
    QStringList m_names;
    qsizetype m_lines = 0;
    int m_builds = 0;
};
