#include "platform/foundation/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace lumora::dispatch {

bool isMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void async(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void after(int milliseconds, std::function<void()> fn)
{
    QTimer::singleShot(milliseconds, QCoreApplication::instance(), std::move(fn));
}

void syncMain(const std::function<void()>& fn)
{
    if (isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void background(std::function<void()> fn)
{
    QThreadPool::globalInstance()->start(std::move(fn));
}

namespace {

// Threads of runWithin at work, and how many of them nobody waits for.
std::atomic<int> g_workers{0};
std::atomic<int> g_abandoned{0};

// At most this many threads per call, and no new ones while this many are
// busy in all (most of them stuck, or several calls at once).
constexpr int kThreadsPerCall = 4;
constexpr int kMostThreads = 8;

// One call's jobs, shared by its threads and the caller that waits.
struct Batch {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::function<QVariant()>> jobs;
    std::vector<std::optional<QVariant>> results;
    size_t next = 0;     // the first job no thread has taken
    size_t finished = 0; // jobs done
    bool abandoned = false;
};

void work(const std::shared_ptr<Batch>& batch)
{
    for (;;) {
        size_t index = 0;
        std::function<QVariant()> job;
        {
            const std::lock_guard lock(batch->mutex);
            if (batch->abandoned || batch->next == batch->jobs.size()) break;
            index = batch->next++;
            job = std::move(batch->jobs[index]);
        }
        QVariant value = job();
        const std::lock_guard lock(batch->mutex);
        if (batch->abandoned) {
            // Counted as abandoned when the caller stopped waiting for it.
            --g_abandoned;
            break;
        }
        batch->results[index] = std::move(value);
        ++batch->finished;
        batch->changed.notify_all();
    }
    --g_workers;
}

} // namespace

std::vector<std::optional<QVariant>> runWithin(std::vector<std::function<QVariant()>> jobs,
                                               std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto batch = std::make_shared<Batch>();
    batch->results.resize(jobs.size());
    batch->jobs = std::move(jobs);
    if (batch->jobs.empty()) return {};

    int threads = 0;
    const int wanted = int(std::min<size_t>(batch->jobs.size(), kThreadsPerCall));
    while (threads < wanted) {
        int busy = g_workers.load();
        if (busy >= kMostThreads) break;
        if (!g_workers.compare_exchange_weak(busy, busy + 1)) continue;
        try {
            std::thread(work, batch).detach();
        } catch (const std::system_error&) {
            --g_workers;
            break;
        }
        ++threads;
    }

    std::unique_lock lock(batch->mutex);
    if (threads > 0)
        batch->changed.wait_until(lock, deadline, [&] { return batch->finished == batch->jobs.size(); });
    if (batch->finished < batch->jobs.size()) {
        // The threads still working are left to themselves.
        batch->abandoned = true;
        const size_t running = batch->next - batch->finished;
        g_abandoned += int(running);
    }
    return batch->results;
}

int abandonedWorkers() { return g_abandoned.load(); }

} // namespace lumora::dispatch
