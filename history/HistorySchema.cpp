#include "history/HistorySchema.h"

#include "core/PlainText.h"
#include "history/Sqlite.h"

namespace HistorySchema {

void prepareForWriting(SqliteDatabase &db)
{
    db.exec("PRAGMA journal_mode=WAL");
    // Every commit reaches the disk: a visit survives a crash of the program and of the machine.
    db.exec("PRAGMA synchronous=FULL");
}

void createTables(SqliteDatabase &db)
{
    const qint64 version = db.scalar("PRAGMA user_version");
    if (version == Version)
        return;
    db.exec("BEGIN IMMEDIATE");
    try {
        db.exec("CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID;"
                "CREATE TABLE IF NOT EXISTS pages(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE,"
                " last INTEGER NOT NULL);"
                "CREATE TABLE IF NOT EXISTS addresses(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE,"
                " last INTEGER NOT NULL);"
                "CREATE TABLE IF NOT EXISTS countries(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);"
                "CREATE TABLE IF NOT EXISTS agents(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE,"
                " last INTEGER NOT NULL);"
                "CREATE INDEX IF NOT EXISTS pages_last ON pages(last);"
                "CREATE INDEX IF NOT EXISTS addresses_last ON addresses(last);"
                "CREATE TABLE IF NOT EXISTS hosts(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE,"
                " last INTEGER NOT NULL);"
                "CREATE INDEX IF NOT EXISTS agents_last ON agents(last);"
                "CREATE INDEX IF NOT EXISTS hosts_last ON hosts(last);");
        if (version == 1)
            db.exec("ALTER TABLE visits ADD COLUMN kind INTEGER NOT NULL DEFAULT 0;"
                    "ALTER TABLE visits ADD COLUMN agent INTEGER NOT NULL DEFAULT 0;");
        if (version == 1 || version == 2)
            db.exec("ALTER TABLE visits ADD COLUMN relay TEXT;"
                    "ALTER TABLE visits ADD COLUMN host INTEGER NOT NULL DEFAULT 0;");
        else
            db.exec("CREATE TABLE IF NOT EXISTS visits(key INTEGER PRIMARY KEY, address INTEGER NOT NULL,"
                    " country INTEGER NOT NULL, page INTEGER NOT NULL, tls INTEGER NOT NULL,"
                    " kind INTEGER NOT NULL DEFAULT 0, agent INTEGER NOT NULL DEFAULT 0, relay TEXT,"
                    " host INTEGER NOT NULL DEFAULT 0);");
        db.exec("PRAGMA user_version=3");
        db.exec("COMMIT");
    } catch (...) {
        try {
            db.exec("ROLLBACK");
        } catch (const SqliteError &) { }
        throw;
    }
}

void prepareForReading(SqliteDatabase &db)
{
    db.exec("PRAGMA query_only=1");
    // A file that is not a database at all says so at its first read.
    db.scalar("SELECT count(*) FROM sqlite_schema");
}

QString cleanText(const QString &text)
{
    return PlainText::sanitized(PlainText::cut(text, MaxTextLength));
}

} // namespace HistorySchema
