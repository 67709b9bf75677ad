#include "history/HistoryReader.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

HistoryReader::HistoryReader(const QString &fileName, QObject *parent)
    : QObject(parent)
    , m_fileName(fileName)
    , m_scanThread(new QThread(this))
    , m_rowsThread(new QThread(this))
    , m_scanContext(new QObject)
    , m_rowsContext(new QObject)
    , m_scanQuery(std::make_shared<HistoryQuery>(fileName))
    , m_rowsQuery(std::make_shared<HistoryQuery>(fileName))
    , m_alive(std::make_shared<std::atomic<bool>>(true))
{
    m_scanThread->setObjectName(QStringLiteral("history scan"));
    m_rowsThread->setObjectName(QStringLiteral("history rows"));
    m_scanContext->moveToThread(m_scanThread);
    m_rowsContext->moveToThread(m_rowsThread);
    connect(m_scanThread, &QThread::finished, m_scanContext, &QObject::deleteLater);
    connect(m_rowsThread, &QThread::finished, m_rowsContext, &QObject::deleteLater);
    m_scanThread->start();
    m_rowsThread->start();
}

HistoryReader::~HistoryReader()
{
    ++m_scan; // cancels the running scan
    *m_alive = false;
    for (QThread *thread : { m_scanThread, m_rowsThread }) {
        thread->quit();
        thread->wait();
    }
    // The connections close here, on this thread, after their threads have ended.
}

quint64 HistoryReader::startScan(const HistoryFilter &filter, const QDateTime &now)
{
    const quint64 scan = ++m_scan;
    auto query = m_scanQuery;
    auto rowsQuery = m_rowsQuery;
    QMetaObject::invokeMethod(
        m_scanContext,
        [this, query, filter, now, scan] {
            if (m_scan.load() != scan)
                return;
            const auto cancelled = [this, scan] { return m_scan.load() != scan; };
            bool first = true;
            try {
                const HistorySummary summary = query->scan(filter, now, cancelled, [&](QVector<qint64> &&keys) {
                    // The first chunk carries its rows: the newest visits show without a second
                    // round trip.
                    QList<HistoryRow> rows;
                    if (first)
                        rows = query->rows(keys);
                    first = false;
                    QMetaObject::invokeMethod(
                        this, [this, scan, keys = std::move(keys), rows] { emit scanChunk(scan, keys, rows); },
                        Qt::QueuedConnection);
                });
                QMetaObject::invokeMethod(
                    this, [this, scan, summary] { emit scanFinished(scan, summary); }, Qt::QueuedConnection);
            } catch (const SqliteError &error) {
                if (error.interrupted() && m_scan.load() != scan)
                    return;
                query->close();
                const QString reason = error.message();
                const bool damaged = error.damaged();
                QMetaObject::invokeMethod(
                    this, [this, scan, reason, damaged] { emit scanFailed(scan, reason, damaged); },
                    Qt::QueuedConnection);
            }
        },
        Qt::QueuedConnection);
    return scan;
}

void HistoryReader::fetchRows(quint64 scan, qint64 firstRow, const QVector<qint64> &keys)
{
    auto query = m_rowsQuery;
    QMetaObject::invokeMethod(
        m_rowsContext,
        [this, query, scan, firstRow, keys] {
            // Rows of an old scan are of no use any more.
            if (m_scan.load() != scan)
                return;
            QList<HistoryRow> rows;
            try {
                rows = query->rows(keys);
            } catch (const SqliteError &) {
                query->close();
                // Empty rows in their place: the scan's own failure tells the user.
                for (qint64 key : keys) {
                    HistoryRow row;
                    row.key = key;
                    rows.append(row);
                }
            }
            QMetaObject::invokeMethod(
                this, [this, scan, firstRow, rows] { emit rowsFetched(scan, firstRow, rows); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void HistoryReader::exportCsv(const QVector<qint64> &keys, const QString &fileName)
{
    const QString database = m_fileName;
    auto alive = m_alive;
    QPointer<HistoryReader> self(this);
    QThreadPool::globalInstance()->start([self, alive, database, keys, fileName] {
        HistoryQuery query(database);
        const QString error = query.exportCsv(keys, fileName, [alive] { return !alive->load(); });
        // The application outlives the pool's work; the reader may not.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, fileName, error] {
                if (self)
                    emit self->exportFinished(fileName, error);
            },
            Qt::QueuedConnection);
    });
}

void HistoryReader::reopen()
{
    ++m_scan;
    auto scanQuery = m_scanQuery;
    auto rowsQuery = m_rowsQuery;
    QMetaObject::invokeMethod(
        m_scanContext, [scanQuery] { scanQuery->close(); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        m_rowsContext, [rowsQuery] { rowsQuery->close(); }, Qt::QueuedConnection);
}
