#pragma once

#include "core/PlainText.h"

#include <QString>
#include <QtGlobal>

class SqliteDatabase;

// The history file.
//
// Each visit is one row of `visits`, keyed by its moment: key = milliseconds since the epoch
// (UTC) × 1024 + a sequence number for visits within the same millisecond. The table is thus
// stored in time order, so a range of time is a range of keys that is read straight off the
// table's own tree. Pages, addresses and country names are kept once each in their own tables
// and referenced by number, which keeps a visit row at a few bytes and lets the history window
// count pages and countries over a million visits without touching a text.
//
// `kind` is the visit's VisitKind (0 a visitor, 1 the owner's own, 2 a crawler) and `agent` the id
// of its User-Agent in `agents` (0: none sent); both came with version 2, whose files the history
// of version 1 becomes by adding them. `relay` (version 3) is the id of a visit that came through
// the relay (NULL otherwise) and `host` the id of the Host header it named in `hosts` (0: none); the meta row
// `relayPublished` is the key of the latest visit the relay's broker acknowledged (the history is the publisher's
// outbox).
//
// `last` of a page, address or User-Agent is a moment at or at most HistorySchema::LastSlackMs before its
// latest visit; pruning removes pages and addresses whose `last` is long past.
namespace HistorySchema {

constexpr int Version = 3;
constexpr qint64 KeysPerMs = 1024;
constexpr qint64 LastSlackMs = 12LL * 3600 * 1000;
// A page text is kept to this many characters (the length browsers send at most).
constexpr int MaxTextLength = int(PlainText::MaxPageChars);

inline qint64 firstKeyAt(qint64 ms)
{
    return ms * KeysPerMs;
}
inline qint64 timeOfKey(qint64 key)
{
    return key >= 0 ? key / KeysPerMs : (key - KeysPerMs + 1) / KeysPerMs;
}

// Sets the writer's connection up: write-ahead log, durable commits. Throws SqliteError.
void prepareForWriting(SqliteDatabase &db);
// Creates the tables when they are missing. Throws SqliteError.
void createTables(SqliteDatabase &db);
// Sets a reading connection up. Throws SqliteError.
void prepareForReading(SqliteDatabase &db);

// A text from a visitor as the history keeps it: on one line, without control characters (see
// PlainText::sanitized), cut to MaxTextLength characters.
QString cleanText(const QString &text);

} // namespace HistorySchema
