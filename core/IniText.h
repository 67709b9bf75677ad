#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The text of the settings file: the INI dialect that QSettings reads and writes (UTF-8; groups
// in brackets; "key=value" lines; ";" and "#" start comments; keys with "%XX" / "%UXXXX" escapes;
// values with C-style backslash escapes, double quotes around texts that hold ";", ",", "=" or
// blanks at either end, and "@@" for a leading "@").
//
// Only group "Settings" is read into keys and values; everything outside it is kept as it was
// and written back unchanged.
namespace IniText {

struct Entry
{
    QString key;
    QString value;
};

struct Document
{
    // The lines outside group "Settings" (its header and lines included), each ending in "\n".
    QString otherText;
    // The keys of group "Settings" (in any letter case, also when the group appears more than
    // once), in the order they first appear; a key repeated in another letter case keeps its
    // first spelling and its last value.
    QList<Entry> settings;
};

// The file's content read as INI text, or nullopt with the reason (for the user) when it is not:
// a NUL or another control character besides tab and line ends, bytes that are not UTF-8, a line
// that is neither blank, a comment, a group header nor "key=value", or an empty key.
std::optional<Document> parse(const QByteArray &bytes, QString *reason = nullptr);

// The file's content for the document: the other text first, then "[Settings]" and its keys.
QByteArray serialize(const Document &document);

QString unescapeKey(QStringView raw);
QString escapeKey(const QString &key);
// A value as QSettings reads it, its commas taken as text (no lists).
QString unescapeValue(QStringView raw);
QString escapeValue(const QString &value);

} // namespace IniText
