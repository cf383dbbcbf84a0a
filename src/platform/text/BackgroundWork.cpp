#include "platform/text/BackgroundWork.h"

#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace lumora {

namespace {

qint64 nanoseconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

BackgroundWork::Task::Task(Priority priority, std::function<bool(const QDeadlineTimer&)> slice)
    : m_priority(priority), m_slice(std::move(slice))
{
    BackgroundWork::shared().add(this);
}

BackgroundWork::Task::~Task() { BackgroundWork::shared().remove(this); }

void BackgroundWork::Task::wake(Burst burst) { BackgroundWork::shared().wake(*this, burst); }

BackgroundWork& BackgroundWork::shared()
{
    // Never destroyed: tasks of objects destroyed at exit still leave it.
    static BackgroundWork* work = new BackgroundWork();
    return *work;
}

void BackgroundWork::remove(Task* task)
{
    const auto it = std::find(m_tasks.begin(), m_tasks.end(), task);
    if (it == m_tasks.end()) return;
    const size_t at = size_t(it - m_tasks.begin());
    m_tasks.erase(it);
    if (m_turn > at) --m_turn;
    if (!anyAwake()) m_timer.stop();
}

bool BackgroundWork::anyAwake() const
{
    return std::any_of(m_tasks.begin(), m_tasks.end(), [](const Task* t) { return t->m_awake; });
}

void BackgroundWork::wake(Task& task, Burst burst)
{
    const bool idle = !anyAwake();
    task.m_awake = true;
    if (burst == Burst::always || (burst == Burst::ifIdle && idle)) {
        m_burst.setRemainingTime(burstMs);
        schedule(0);
    } else if (idle || !m_timer.isActive()) {
        schedule(m_burst.hasExpired() ? restMs : 0);
    }
}

void BackgroundWork::schedule(int delayMs)
{
    if (m_timer.isActive() && m_timerDelay <= delayMs) return;
    m_timerDelay = delayMs;
    m_timer.start(delayMs, this);
}

void BackgroundWork::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    // The awake task of the highest priority, the next one after the last
    // that ran among those of that priority.
    Task* next = nullptr;
    size_t nextAt = 0;
    const size_t count = m_tasks.size();
    for (size_t i = 0; i < count; ++i) {
        const size_t at = (m_turn + i) % count;
        Task* task = m_tasks[at];
        if (task->m_awake && (!next || task->m_priority > next->m_priority)) {
            next = task;
            nextAt = at;
        }
    }
    if (!next) return;
    const qint64 wall = nanoseconds(CLOCK_MONOTONIC);
    const qint64 cpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    if (m_burst.hasExpired() && m_sliceWall >= 0) {
        // The thread's share since the last slice began, that slice and
        // all it set off included: above maxShare, the next slice waits
        // until the share is back down to it, or until it has waited
        // maxWaitMs (a thread that stays busy must not stop the work).
        const double busy = double(cpu - m_sliceCpu);
        const double since = double(wall - m_sliceWall);
        const double longest = double(maxWaitMs) * 1e6;
        if (busy > maxShare * since && since < longest) {
            const double until = std::min(busy / maxShare, longest) - since;
            schedule(std::max(1, int(std::ceil(until / 1e6))));
            return;
        }
    }
    m_sliceWall = wall;
    m_sliceCpu = cpu;
    m_turn = nextAt + 1;
    // The task may wake or stop itself, or others, or go, while it works.
    next->m_awake = false;
    const bool more = next->m_slice(QDeadlineTimer(sliceMs, Qt::PreciseTimer));
    if (more && std::find(m_tasks.begin(), m_tasks.end(), next) != m_tasks.end()) next->m_awake = true;
    if (anyAwake() && !m_timer.isActive()) schedule(m_burst.hasExpired() ? restMs : 0);
}

} // namespace lumora
