#pragma once

#include <QVariant>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

// Queues: the main thread's event loop and a background pool.
namespace lumora::dispatch {

bool isMainThread();

// Work deferred on behalf of a QObject of the main thread is bound to that
// object (QMetaObject::invokeMethod(receiver, fn, Qt::QueuedConnection) or
// QTimer::singleShot(ms, receiver, fn)), so that it goes when the object
// goes, with no guard to check by hand. These two are for the rest: the way
// back from the background pool, and work for something that is not a
// QObject (held by a shared_ptr, and guarded by a weak_ptr of it).

// Runs fn on the main thread on a later turn of its event loop.
void async(std::function<void()> fn);
// Runs fn on the main thread after the delay.
void after(int milliseconds, std::function<void()> fn);
// Runs fn on the main thread and returns when it has run; runs it at once
// when called on the main thread. Never call it from the main thread's own
// queued work while holding a lock the main thread waits for.
void syncMain(const std::function<void()>& fn);
// Runs fn on the shared background pool.
void background(std::function<void()> fn);

// Runs work that may never end (a read from a disk that hangs, a network
// file system gone away) on threads of its own, a few at a time, and waits
// at most `limit` for all of it. Answers, in order, the value of each job
// that finished in time and nothing for the others. A job still running
// then is left to its thread, which ends when the job does; its value is
// dropped. While several such threads are still stuck, later jobs are not
// started at all (they answer nothing), so a hung disk never piles up
// threads. The pool's own threads are never used: stuck work there would
// stop the program's other background work.
std::vector<std::optional<QVariant>> runWithin(std::vector<std::function<QVariant()>> jobs,
                                               std::chrono::milliseconds limit);
// The number of threads of runWithin still busy with work nobody waits for.
int abandonedWorkers();

} // namespace lumora::dispatch
