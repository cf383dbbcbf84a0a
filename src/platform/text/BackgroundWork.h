#pragma once

#include <QBasicTimer>
#include <QDeadlineTimer>
#include <QObject>

#include <functional>
#include <vector>

namespace lumora {

// The work the GUI thread does while the writer does nothing in particular:
// measuring a long text, restyling the rest of one after a new theme or
// font. All of it shares one pace, whoever's it is, so that two windows, or
// a restyle and the measuring that follows it, never add up to a busy
// thread:
//
// - one slice at a time, of at most sliceMs, between the events of the
//   window system (a key waits for one slice at most);
// - at full pace for the first burstMs after a change that wakes it from
//   idleness (a text of a few hundred kilobytes settles at once), then one
//   slice every sliceMs + restMs (the thread stays three quarters idle);
// - beyond the burst, what a slice sets off (the repaint of text that moved,
//   keys typed meanwhile) counts too: the next slice waits until the thread
//   has been busy for at most maxShare of the time since the last one began,
//   or maxWaitMs have passed;
// - the work of a higher priority first (a restyle before the measuring of
//   what it restyled), the work of one priority by turns.
//
// GUI thread only.
class BackgroundWork : public QObject {
public:
    static constexpr int sliceMs = 4;
    static constexpr int burstMs = 100;
    static constexpr int restMs = 12;
    static constexpr double maxShare = 0.3;
    // However busy the thread stays (a long drag, another window's work),
    // a slice still runs this often: the work is slowed, never starved.
    static constexpr int maxWaitMs = 250;

    enum class Priority { measuring, restyling };
    enum class Burst {
        none,   // at the pace it is at
        ifIdle, // full pace for a while, unless other work already runs
        always, // full pace for a while from now (a change of the whole text)
    };

    // One piece of work, done in slices: `slice` does what it can before
    // the deadline and returns whether work is left. Leaves the schedule
    // when destroyed.
    class Task {
    public:
        Task(Priority priority, std::function<bool(const QDeadlineTimer&)> slice);
        ~Task();
        Task(const Task&) = delete;
        Task& operator=(const Task&) = delete;

        // Work waits: a slice runs on a later turn of the event loop.
        void wake(Burst burst = Burst::ifIdle);
        // No slice runs until it is woken again.
        void stop() { m_awake = false; }
        bool isAwake() const { return m_awake; }

    private:
        friend class BackgroundWork;
        Priority m_priority;
        std::function<bool(const QDeadlineTimer&)> m_slice;
        bool m_awake = false;
    };

    static BackgroundWork& shared();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    BackgroundWork() = default;
    void add(Task* task) { m_tasks.push_back(task); }
    void remove(Task* task);
    void wake(Task& task, Burst burst);
    bool anyAwake() const;
    void schedule(int delayMs);

    std::vector<Task*> m_tasks;
    QBasicTimer m_timer;
    int m_timerDelay = -1;
    QDeadlineTimer m_burst; // full pace until it expires
    size_t m_turn = 0;      // where the next search for work starts
    // When the last slice began: on a monotonic clock and in the thread's
    // CPU time (ns).
    qint64 m_sliceWall = -1;
    qint64 m_sliceCpu = 0;
};

} // namespace lumora
