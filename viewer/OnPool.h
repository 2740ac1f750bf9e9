#pragma once
// Work for the process-wide thread pool whose outcome comes back on the GUI thread.
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <QFutureInterface>
#include <QFutureWatcher>
#include <QObject>

#include "vexkit/DebugLine.h"
#include "vexkit/ThreadPool.h"

namespace viewer {

// What the work returned, or what it threw.
template <typename T>
struct PoolOutcome {
    std::shared_ptr<T> value;  // shared: the future's result store copies the outcome
    std::exception_ptr error;

    // The value; rethrows the work's exception.
    T& get() const {
        if (error) {
            std::rethrow_exception(error);
        }
        return *value;
    }
};

// Runs `work` on `threadPool`, then `done` on the GUI thread, unless `receiver` (a GUI-thread object)
// is deleted first: the outcome then goes nowhere. Nothing `done` throws leaves the event handler.
template <typename T>
void runOnPool(QObject* receiver, std::function<T()> work, std::function<void(const PoolOutcome<T>&)> done) {
    QFutureInterface<PoolOutcome<T>> promise;
    promise.reportStarted();
    // The future's own lock is where the worker and the GUI thread meet: a watcher deleted with its
    // receiver is disconnected before the worker can post to it.
    auto* watcher = new QFutureWatcher<PoolOutcome<T>>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, receiver, [watcher, done = std::move(done)]() {
        watcher->deleteLater();
        try {
            done(watcher->result());
        } catch (const std::exception& e) {
            vexkit::debugLine(std::string("result of background work not handled: ") + e.what());
        } catch (...) {
            vexkit::debugLine("result of background work not handled");
        }
    });
    watcher->setFuture(promise.future());
    threadPool.enqueueStd([promise, work = std::move(work)]() mutable {
        PoolOutcome<T> outcome;
        try {
            outcome.value = std::make_shared<T>(work());
        } catch (...) {
            outcome.error = std::current_exception();
        }
        promise.reportFinished(&outcome);
    });
}

}  // namespace viewer
