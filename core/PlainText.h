#pragma once

#include <QString>

// Text from outside the program (request headers, list files, web answers) on its way to an
// output: the event log, the visitor list, the popup, standard output, saved files. Every output
// passes its text through sanitized(), so no visitor can move a terminal's cursor, retitle its
// window, forge a log line or turn a line's reading direction.
namespace PlainText {

// The characters of a page text (a referer) that are kept: the length browsers send at most.
inline constexpr qsizetype MaxPageChars = 4096;

// What stands for a character that must not reach an output.
inline constexpr char16_t Placeholder = u'\uFFFD';

// The text on one line, safe to show: each line break (CR LF, CR, LF, U+0085, U+2028, U+2029) and
// each tab becomes a blank; every other C0 control, DEL, every C1 control and each bidirectional
// embedding, override or isolate character (U+202A-U+202E, U+2066-U+2069) becomes Placeholder.
QString sanitized(QString text);

// How many characters at the start of the text are printable ASCII (U+0020-U+007E): text that
// sanitized() and UTF-8 leave as it is.
qsizetype printableAsciiLength(QStringView text);

// The text sanitized, in UTF-8, appended to bytes.
void appendSanitizedUtf8(QByteArray &bytes, QStringView text);

// The first maxChars characters (one less when the cut would split a surrogate pair).
QString cut(const QString &text, qsizetype maxChars);

// The text sanitized and, when longer than maxChars, its first maxChars - 1 characters and "…".
QString shortened(const QString &text, qsizetype maxChars);

// A page text as kept everywhere: its first MaxPageChars characters, sanitized.
inline QString page(const QString &text)
{
    return sanitized(cut(text, MaxPageChars));
}

} // namespace PlainText
