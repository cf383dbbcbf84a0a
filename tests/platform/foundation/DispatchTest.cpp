#include "platform/foundation/Dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace lumora;

namespace {
// Runs the event loop until done() or the deadline.
template <typename Done>
bool spinUntil(Done done, int ms = 2000)
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
