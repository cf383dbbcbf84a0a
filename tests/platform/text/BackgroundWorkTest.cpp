#include "platform/text/BackgroundWork.h"
#include "support/Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace lumora {
namespace {

// Keeps the thread fully busy, handling events as it goes, as a long drag
// or another window's work would, until `done` or the limit.
template <typename Done>
bool spinBusyUntil(Done done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) QCoreApplication::processEvents();
    return done();
}

// After the first burst, work waits while the thread is busy, but a thread
// that never stops being busy still lets it go on, slice by slice.
TEST(BackgroundWork, AThreadThatStaysBusyStillLetsTheWorkGoOn)
{
    int slices = 0;
    BackgroundWork::Task task(BackgroundWork::Priority::measuring, [&](const QDeadlineTimer&) {
        ++slices;
        QElapsedTimer work;
        work.start();
        while (work.elapsed() < 1) {
        }
        return true;
    });
    task.wake(BackgroundWork::Burst::always);
    // Past the burst.
    spinBusyUntil([] { return false; }, BackgroundWork::burstMs + 50);
    const int afterBurst = slices;
    EXPECT_TRUE(spinBusyUntil([&] { return slices >= afterBurst + 3; }, test::patience))
        << "slices while busy: " << slices - afterBurst;
    task.stop();
}

// Work done and gone leaves nothing scheduled: a task destroyed while awake
// is never called again.
TEST(BackgroundWork, ATaskDestroyedWhileAwakeIsNeverCalled)
{
    int calls = 0;
    {
        BackgroundWork::Task task(BackgroundWork::Priority::restyling, [&](const QDeadlineTimer&) {
            ++calls;
            return true;
        });
        task.wake(BackgroundWork::Burst::always);
    }
    spinBusyUntil([] { return false; }, 50);
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace lumora
