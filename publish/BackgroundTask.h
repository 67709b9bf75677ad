#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>

#include <functional>
#include <memory>

// Runs blocking work (a web exchange) on the global thread pool and hands its result to `done`
// on the thread of `context`, through the event loop. When `context` is destroyed first, `done`
// is not called; the work itself still runs to its end (web exchanges are time-limited), so it
// must own everything it touches.
template <typename T>
void runInBackground(QObject *context, std::function<T()> work, std::function<void(const T &)> done)
{
    auto promise = std::make_shared<QPromise<T>>();
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0)
            done(watcher->future().result());
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, work = std::move(work)] {
        promise->start();
        promise->addResult(work());
        promise->finish();
    });
}
