#pragma once

#include "core/Conversions.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cmath>

// The country lookup done the slow way: read the file from its first line and stop at the first
// range that holds the address. The index of CountryLookup must always give the same answer.
namespace CountryOracle {

inline double field(const QString &text)
{
    QString t = text.trimmed();
    if (t.size() >= 2 && t.startsWith(u'"') && t.endsWith(u'"'))
        t = t.mid(1, t.size() - 2);
    return Conversions::leadingNumber(t);
}

inline QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

struct Entry
{
    double first;
    double last;
    QString name;
};

// Each line's bounds and name, in file order (a line with fewer than four commas keeps the bounds
// of the line before it).
inline QList<Entry> parse(const QStringList &lines)
{
    QList<Entry> entries;
    entries.reserve(lines.size());
    double first = 0;
    double last = 0;
    for (const QString &line : lines) {
        qsizetype commas[4] = {};
        int found = 0;
        qsizetype from = 0;
        while (found < 4) {
            const qsizetype at = line.indexOf(u',', from);
            if (at < 0)
                break;
            commas[found++] = at;
            from = at + 1;
        }
        if (found == 4) {
            first = field(line.mid(commas[1] + 1, commas[2] - commas[1] - 1));
            last = field(line.mid(commas[2] + 1, commas[3] - commas[2] - 1));
        }
        entries.append({ first, last, line.mid(line.lastIndexOf(u',') + 1) });
    }
    return entries;
}

inline QString lookup(const QList<Entry> &entries, double number)
{
    for (const Entry &entry : entries) {
        if (entry.first <= number && number <= entry.last)
            return entry.name;
    }
    return {};
}

} // namespace CountryOracle
