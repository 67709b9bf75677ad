// Appends 100,000 lines to the event log of a shown window and prints the rate of the first and
// the last 10,000 appends, each line put into the document at once (the worst case: one line per
// turn of the event loop) and in batches of 50 (a burst). The baseline, in the same run, is the
// obvious alternative: a rich-text QTextEdit with append(), measured the same way on fewer lines.
#include "capture/EventLog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <cstdio>

namespace {
QString entry(int i)
{
    switch (i % 4) {
    case 0:
        return QStringLiteral("Visit: 203.0.113.%1 -> http://www.site.example/page%2.html").arg(i % 250).arg(i);
    case 1:
        return QStringLiteral("Listening for connections on port: 80");
    case 2:
        return QStringLiteral("Error updating IP: timeout %1").arg(i);
    default:
        return QStringLiteral("Software Started - 07-December-2026");
    }
}

template <typename Append> void measure(const char *label, int total, int window, Append append)
{
    QElapsedTimer timer;
    double firstRate = 0;
    double lastRate = 0;
    timer.start();
    for (int i = 0; i < total; ++i) {
        if (i == window) {
            firstRate = window / (timer.nsecsElapsed() / 1e9);
        }
        if (i == total - window)
            timer.restart();
        append(i);
        if ((i & 1023) == 0)
            QCoreApplication::sendPostedEvents();
    }
    lastRate = window / (timer.nsecsElapsed() / 1e9);
    std::printf("%-34s %8d lines: first %6d: %9.0f lines/s   last %6d: %9.0f lines/s   last/first %.2f\n", label, total,
        window, firstRate, window, lastRate, lastRate / firstRate);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);

    QPlainTextEdit view;
    view.resize(600, 400);
    view.show();
    EventLog log(&view);
    measure("EventLog, one line per turn", 100'000, 10'000, [&](int i) {
        log.PutLog(entry(i));
        log.flush();
    });
    log.clear();
    measure("EventLog, bursts of 50 lines", 100'000, 10'000, [&](int i) {
        log.PutLog(entry(i));
        if (i % 50 == 49)
            log.flush();
    });

    QTextEdit baseline;
    baseline.resize(600, 400);
    baseline.setReadOnly(true);
    baseline.show();
    measure("baseline QTextEdit::append", 20'000, 2'000, [&](int i) { baseline.append(entry(i).toHtmlEscaped()); });
    return 0;
}
