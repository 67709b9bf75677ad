#pragma once

#include <QStringView>

// Case-insensitive search as QString's (Qt::CaseInsensitive), quick for the usual case: where both
// texts are ASCII, letters are compared without case folding tables or copies; any other text
// goes to Qt's search. The visit road searches every request this way.
namespace TextSearch {

// The first position of needle in haystack at or after from, ignoring case; -1 when none.
qsizetype indexOfIgnoringCase(QStringView haystack, QStringView needle, qsizetype from = 0);

inline bool containsIgnoringCase(QStringView haystack, QStringView needle)
{
    return indexOfIgnoringCase(haystack, needle) >= 0;
}

// Whether every character of the text is ASCII (below 128).
bool isAscii(QStringView text);

// The first position of c in text at or after from; -1 when none. The same answer as
// QStringView::indexOf(QChar), without its cost per call: a request is searched for a line end or
// a dot a dozen times.
qsizetype indexOfChar(QStringView text, char16_t c, qsizetype from = 0);

} // namespace TextSearch
