#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A small C++ face of libsqlite3 for the history: a connection, prepared statements and one
// error type. A failed call throws SqliteError carrying SQLite's result code, so a caller can
// run a whole transaction and decide once what a failure means (damaged file, full disk, ...).
class SqliteError final : public std::runtime_error
{
public:
    SqliteError(int code, const QString &message);
    // A damaged file found by a check rather than by a failing call.
    static SqliteError damagedFile(const QString &detail);
    // The primary result code (SQLITE_FULL, SQLITE_CORRUPT, ...).
    int code() const { return m_code; }
    QString message() const { return m_message; }
    // SQLITE_CORRUPT or SQLITE_NOTADB: the file is not a usable database.
    bool damaged() const;
    // The statement was stopped by interrupt() or by the cancel test.
    bool interrupted() const;

private:
    int m_code;
    QString m_message;
};

class SqliteStatement final
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, sqlite3_stmt *statement);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    // Parameters are numbered from 1.
    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, const QString &text);
    SqliteStatement &bindNull(int index);
    // Steps once: true while a row is there, false when the statement is done.
    bool step();
    // Runs to the end, ignoring rows.
    void run();
    // Ready for the next binding and step.
    void reset();

    // Columns are numbered from 0.
    qint64 int64(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    void check(int rc) const;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    // The bound texts, kept here while bound so that SQLite need not copy them.
    std::vector<QByteArray> m_texts;
};

class SqliteDatabase final
{
public:
    enum class Mode { ReadWriteCreate, ReadWrite };

    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens the file (throws on failure; the connection stays closed then).
    void open(const QString &fileName, Mode mode);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    void exec(const char *sql);
    SqliteStatement prepare(const char *sql);
    // The first column of the first row of a query (0 when there is no row).
    qint64 scalar(const char *sql);

    qint64 lastInsertRowId() const;
    // Rows changed by the latest INSERT, UPDATE or DELETE.
    qint64 changes() const;

    // Stops a statement running on this connection from any thread.
    void interrupt();
    // Asked every few thousand steps of a running statement on this connection's thread: true
    // stops the statement (SQLITE_INTERRUPT). An empty function removes the test.
    void setCancelTest(std::function<bool()> test);

    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    std::function<bool()> m_cancelTest;
};
