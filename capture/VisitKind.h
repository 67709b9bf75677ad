#pragma once

#include <QtGlobal>

// What a visit is, as the alerts, the list and the history tell them apart. The numbers are
// stored in the history file.
enum class VisitKind : quint8 {
    Visit = 0, // a visitor's browser
    Own = 1, // the owner's own page view: from the PC's public address or an ignored address
    Crawler = 2, // a User-Agent of the crawler pattern list
    Relayed = 3, // a visit of a site that reached this PC through the relay's broker
};
