#include "platform/foundation/NotificationCenter.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using lumora::Notification;
using lumora::NotificationCenter;
using lumora::Observation;

TEST(NotificationCenter, DeliversInRegistrationOrderByName)
{
    NotificationCenter center;
    QStringList calls;
    Observation a = center.observe("X", [&](const Notification& n) { calls << "a:" + n.name; });
    Observation b = center.observe("Y", [&](const Notification&) { calls << "b"; });
    Observation c = center.observe("X", [&](const Notification&) { calls << "c"; });
    center.post("X");
    EXPECT_EQ(calls, (QStringList{"a:X", "c"}));
    EXPECT_EQ(center.observerCount("X"), 2);
}

TEST(NotificationCenter, ObjectFilterRestrictsDelivery)
{
    NotificationCenter center;
    int mine = 0;
    int any = 0;
    const int sender = 0;
    const int other = 0;
    Observation a = center.observe("X", [&](const Notification& n) { ++mine; EXPECT_EQ(n.object, &sender); }, &sender);
    Observation b = center.observe("X", [&](const Notification&) { ++any; });
    center.post("X", &sender);
    center.post("X", &other);
    center.post("X");
    EXPECT_EQ(mine, 1);
    EXPECT_EQ(any, 3);
}

TEST(NotificationCenter, RemovalDuringAPostIsSafe)
{
    NotificationCenter center;
    QStringList calls;
    std::optional<Observation> second;
    std::optional<Observation> first;
    std::optional<Observation> late;
    // The first observer removes itself and the second one; it also adds a
    // third, which is called from the next post on.
    first = center.observe("X", [&](const Notification&) {
        calls << "first";
        second.reset();
        first.reset();
        late = center.observe("X", [&](const Notification&) { calls << "late"; });
    });
    second = center.observe("X", [&](const Notification&) { calls << "second"; });
    center.post("X");
    EXPECT_EQ(calls, QStringList{"first"});
    calls.clear();
    center.post("X");
    EXPECT_EQ(calls, QStringList{"late"});
}

TEST(NotificationCenter, ObservationEndsWithItsTokenOrContext)
{
    NotificationCenter center;
    int calls = 0;
    {
        Observation token = center.observe("X", [&](const Notification&) { ++calls; });
        Observation moved = std::move(token);
        center.post("X");
    }
    center.post("X");
    EXPECT_EQ(calls, 1);

    auto context = std::make_unique<QObject>();
    center.observe("X", context.get(), [&](const Notification&) { ++calls; });
    center.post("X");
    EXPECT_EQ(calls, 2);
    context.reset();
    center.post("X");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(center.observerCount("X"), 0);
}

TEST(NotificationCenter, AContextDestroyedDuringAPostIsSkipped)
{
    NotificationCenter center;
    auto context = std::make_unique<QObject>();
    int contextCalls = 0;
    Observation killer = center.observe("X", [&](const Notification&) { context.reset(); });
    center.observe("X", context.get(), [&](const Notification&) { ++contextCalls; });
    center.post("X");
    EXPECT_EQ(contextCalls, 0);
}
