#pragma once

#include "history/Sqlite.h"

#include <QString>
#include <QStringList>

#include <vector>

// The history as the relay reads it, on a connection of its own (one thread at a time): the
// publisher's outbox (the visitors' visits after the latest one the broker acknowledged) and the
// ids of visits that came through the relay (to count a redelivered one once). The file is opened
// at the first use and again after a failure; a file the store has not brought to version 3 yet
// reads as empty.
class HistoryOutbox final
{
public:
    struct Visit
    {
        qint64 key = 0;
        qint64 timeMs = 0;
        QString address;
        QString country;
        QString page;
        bool tls = false;
        QString host;
    };

    explicit HistoryOutbox(QString fileName);

    // The key of the latest visit the broker acknowledged (meta relayPublished); 0 when none was,
    // -1 when the file cannot be read.
    qint64 publishedKey();
    // Visitors' visits (not own, crawler or relayed ones) after key, oldest first.
    std::vector<Visit> visitsAfter(qint64 key, int limit);
    // The relay ids of the visits stored since sinceMs.
    QStringList relayIdsSince(qint64 sinceMs);

private:
    bool open();

    QString m_fileName;
    SqliteDatabase m_db;
    SqliteStatement m_after;
};
