#include "platform/foundation/Dispatch.h"
#include "support/Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <condition_variable>
#include <mutex>

using namespace lumora;

namespace {
// Runs the event loop until done() or the deadline.
template <typename Done>
bool spinUntil(Done done, int ms = test::patience)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}
} // namespace

TEST(Dispatch, AsyncRunsLaterOnTheMainThread)
{
    bool ran = false;
    dispatch::async([&] {
        ran = true;
        EXPECT_TRUE(dispatch::isMainThread());
    });
    EXPECT_FALSE(ran); // never inline
    EXPECT_TRUE(spinUntil([&] { return ran; }));
}

TEST(Dispatch, BackgroundWorkCanHopSynchronouslyToTheMainThread)
{
    std::atomic<bool> onMain{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> workerWasMain{true};
    dispatch::background([&] {
        workerWasMain = dispatch::isMainThread();
        dispatch::syncMain([&] { onMain = dispatch::isMainThread(); });
        finished = true; // syncMain returned only after the block ran
    });
    EXPECT_TRUE(spinUntil([&] { return finished.load(); }));
    EXPECT_FALSE(workerWasMain);
    EXPECT_TRUE(onMain);
}

TEST(Dispatch, SyncMainOnTheMainThreadRunsAtOnce)
{
    bool ran = false;
    dispatch::syncMain([&] { ran = true; });
    EXPECT_TRUE(ran);
}

// Work that may never end: what finishes in time is answered, in order; what
// does not is left behind without holding the caller up, and while several
// threads are stuck no more are started.
TEST(Dispatch, RunWithinAnswersWhatFinishedInTimeAndLeavesTheRestBehind)
{
    using namespace std::chrono_literals;
    ASSERT_EQ(dispatch::abandonedWorkers(), 0);
    std::vector<std::function<QVariant()>> quick;
    for (int i = 0; i < 10; ++i) quick.push_back([i] { return QVariant(i * i); });
    const auto squares = dispatch::runWithin(std::move(quick), std::chrono::milliseconds(test::patience));
    ASSERT_EQ(squares.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(squares[size_t(i)], QVariant(i * i));
    EXPECT_TRUE(dispatch::runWithin({}, 1s).empty());

    // Jobs that wait until the test lets them go, as a read from a disk
    // that hangs would.
    struct Gate {
        std::mutex mutex;
        std::condition_variable released;
        bool letGo = false;
    };
    const auto gate = std::make_shared<Gate>(); // outlives the test if a thread does
    const auto stuck = [gate] {
        std::unique_lock lock(gate->mutex);
        gate->released.wait(lock, [&] { return gate->letGo; });
        return QVariant(QStringLiteral("late"));
    };
    // Time enough for the quick ones on a busy machine; the stuck one costs
    // all of it.
    QElapsedTimer timer;
    timer.start();
    const auto mixed = dispatch::runWithin({[] { return QVariant(1); }, stuck, [] { return QVariant(3); }}, 3s);
    EXPECT_LT(timer.elapsed(), test::patience);
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_EQ(mixed[0], QVariant(1));
    EXPECT_FALSE(mixed[1].has_value());
    EXPECT_EQ(mixed[2], QVariant(3));
    EXPECT_EQ(dispatch::abandonedWorkers(), 1);

    // More stuck, four at a time: once eight threads wait for a disk, nothing
    // more is started until they come back, however long it is given.
    for (int call = 0; call < 10 && dispatch::abandonedWorkers() < 8; ++call)
        dispatch::runWithin(std::vector<std::function<QVariant()>>(4, stuck), 200ms);
    EXPECT_EQ(dispatch::abandonedWorkers(), 8);
    // Given longer than a test waits for anything, it answers at once.
    auto started = std::make_shared<std::atomic<bool>>(false);
    timer.restart();
    const auto refused = dispatch::runWithin({[started] {
                                                 *started = true;
                                                 return QVariant(true);
                                             }},
                                             std::chrono::milliseconds(2 * test::patience));
    EXPECT_LT(timer.elapsed(), test::patience);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_FALSE(refused[0].has_value());
    EXPECT_FALSE(*started);

    // The disk comes back: the threads end, their late answers dropped.
    {
        const std::lock_guard lock(gate->mutex);
        gate->letGo = true;
    }
    gate->released.notify_all();
    EXPECT_TRUE(spinUntil([] { return dispatch::abandonedWorkers() == 0; }, test::patience));
    const auto again = dispatch::runWithin({[] { return QVariant(7); }}, std::chrono::milliseconds(test::patience));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0], QVariant(7));
}
