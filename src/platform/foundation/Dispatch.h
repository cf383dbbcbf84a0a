#pragma once

#include <functional>

// Queues: the main thread's event loop and a background pool.
namespace lumora::dispatch {

bool isMainThread();

// Runs fn on the main thread on a later turn of its event loop: the way
// back from the background pool. Work deferred on behalf of an object of the
// main thread is bound to that object instead
// (QMetaObject::invokeMethod(receiver, fn, Qt::QueuedConnection) or
// QTimer::singleShot(ms, receiver, fn)), so that it goes when the object
// goes, with no guard to check by hand.
void async(std::function<void()> fn);
// Runs fn on the main thread and returns when it has run; runs it at once
// when called on the main thread. Never call it from the main thread's own
// queued work while holding a lock the main thread waits for.
void syncMain(const std::function<void()>& fn);
// Runs fn on the shared background pool.
void background(std::function<void()> fn);

} // namespace lumora::dispatch
