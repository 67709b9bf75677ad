#include "history/Sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace {
// Before SQLite's first use in the process. SQLite counts every allocation for its statistics,
// under a lock of its own, and this SQLite (as Debian builds it) allocates on every statement
// step: the program reads no statistics, so the count is switched off. Called again (or after
// something else started SQLite) it changes nothing.
void configureSqlite()
{
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)configured;
}

QString errorText(sqlite3 *db, int rc)
{
    if (db && sqlite3_errcode(db) == rc)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}
} // namespace

SqliteError::SqliteError(int code, const QString &message)
    : std::runtime_error(message.toStdString())
    , m_code(code & 0xff)
    , m_message(message)
{ }

SqliteError SqliteError::damagedFile(const QString &detail)
{
    return SqliteError(SQLITE_CORRUPT, detail);
}

bool SqliteError::damaged() const
{
    return m_code == SQLITE_CORRUPT || m_code == SQLITE_NOTADB;
}

bool SqliteError::interrupted() const
{
    return m_code == SQLITE_INTERRUPT;
}

SqliteStatement::SqliteStatement(sqlite3 *db, sqlite3_stmt *statement)
    : m_db(db)
    , m_statement(statement)
{ }

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_statement(std::exchange(other.m_statement, nullptr))
    , m_texts(std::move(other.m_texts))
{ }

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_db = std::exchange(other.m_db, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_texts = std::move(other.m_texts);
    }
    return *this;
}

void SqliteStatement::check(int rc) const
{
    if (rc != SQLITE_OK)
        throw SqliteError(rc, errorText(m_db, rc));
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value)
{
    check(sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QString &text)
{
    if (index < 1 || index > sqlite3_bind_parameter_count(m_statement)) {
        check(sqlite3_bind_null(m_statement, index)); // out of range: SQLite says so
        return *this;
    }
    const auto slot = std::size_t(index - 1);
    if (m_texts.size() <= slot)
        m_texts.resize(slot + 1);
    m_texts[slot] = text.toUtf8();
    const QByteArray &utf8 = m_texts[slot];
    check(sqlite3_bind_text64(
        m_statement, index, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_STATIC, SQLITE_UTF8));
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index)
{
    check(sqlite3_bind_null(m_statement, index));
    return *this;
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // The statement's own error is reported by reset (the legacy interface reports it there).
    const int code = sqlite3_reset(m_statement);
    throw SqliteError(code != SQLITE_OK ? code : rc, errorText(m_db, code != SQLITE_OK ? code : rc));
}

void SqliteStatement::run()
{
    while (step()) { }
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

qint64 SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return data ? QString::fromUtf8(data, size) : QString();
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqliteDatabase::~SqliteDatabase()
{
    close();
}

void SqliteDatabase::open(const QString &fileName, Mode mode)
{
    configureSqlite();
    close();
    // Never through a symbolic link: the history is a file of the program's own.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    if (mode == Mode::ReadWriteCreate)
        flags |= SQLITE_OPEN_CREATE;
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(fileName.toUtf8().constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const SqliteError error(rc, errorText(db, rc));
        sqlite3_close_v2(db);
        throw error;
    }
    sqlite3_extended_result_codes(db, 0);
    // Another connection (the history window's reader, the writer) may hold a lock for a moment.
    sqlite3_busy_timeout(db, 5000);
    m_db = db;
}

void SqliteDatabase::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void SqliteDatabase::exec(const char *sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString text = message ? QString::fromUtf8(message) : errorText(m_db, rc);
        sqlite3_free(message);
        throw SqliteError(rc, text);
    }
}

SqliteStatement SqliteDatabase::prepare(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw SqliteError(rc, errorText(m_db, rc));
    }
    return SqliteStatement(m_db, statement);
}

qint64 SqliteDatabase::scalar(const char *sql)
{
    SqliteStatement statement = prepare(sql);
    return statement.step() ? statement.int64(0) : 0;
}

qint64 SqliteDatabase::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

qint64 SqliteDatabase::changes() const
{
    return sqlite3_changes64(m_db);
}

void SqliteDatabase::interrupt()
{
    if (m_db)
        sqlite3_interrupt(m_db);
}

void SqliteDatabase::setCancelTest(std::function<bool()> test)
{
    m_cancelTest = std::move(test);
    if (!m_db)
        return;
    if (!m_cancelTest) {
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        m_db, 4000, [](void *self) -> int { return static_cast<SqliteDatabase *>(self)->m_cancelTest() ? 1 : 0; },
        this);
}
