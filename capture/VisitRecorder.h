#pragma once

#include "capture/VisitKind.h"

#include <QDateTime>
#include <QString>

// One visit as it is kept beyond the run: the moment, the visitor's address, its country (empty
// when unknown), the page, whether the request came over TLS, what kind of visit it is and the
// browser's User-Agent (empty when it sent none).
struct RecordedVisit
{
    QDateTime time;
    QString address;
    QString country;
    QString page;
    bool tls = false;
    VisitKind kind = VisitKind::Visit;
    QString agent;
    QString relayId; // a relayed visit's id (its duplicates are recognised by it)
    QString host; // the Host header of the request
    qint64 timeMs = -1; // time in milliseconds since 1970 when known; -1: taken from time
};

// Where the visit processing hands every counted visit after it has been listed. The call must
// return at once: the history writes on a thread of its own, and a failure to keep a visit never
// reaches the visit processing.
class IVisitRecorder
{
public:
    virtual ~IVisitRecorder() = default;
    virtual void recordVisit(const RecordedVisit &visit) = 0;
};
