#include "platform/text/AttributeRuns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace lumora;

namespace {

// A plain model: one value per character.
struct Model {
    std::vector<int> values; // 0 = none

    void assign(qsizetype from, qsizetype to, int v) { std::fill(values.begin() + from, values.begin() + to, v); }
    void replace(qsizetype from, qsizetype to, qsizetype n, int v)
    {
        values.erase(values.begin() + from, values.begin() + to);
        values.insert(values.begin() + from, n, v);
    }
};

AttributeValue valueFor(int v)
{
    if (v == 0) return AttributeValue();
    return AttributeValue(std::int64_t(v));
}

int idOf(const AttributeValue& v) { return v.integer() ? int(*v.integer()) : 0; }

void expectSame(const AttributeRuns& runs, const Model& model)
{
    ASSERT_STREQ(runs.invariantViolation(), "");
    ASSERT_EQ(runs.length(), qsizetype(model.values.size()));
    // Every run is the longest stretch with its value.
    qsizetype pos = 0;
    for (auto c = runs.cursorAt(0); !c.atEnd(); c.next()) {
        const Range run = c.run();
        ASSERT_EQ(run.location, pos);
        for (qsizetype i = run.location; i < run.end(); ++i) ASSERT_EQ(model.values[i], idOf(c.value())) << i;
        if (run.location > 0) {
            ASSERT_NE(model.values[run.location - 1], idOf(c.value()));
        }
        pos = run.end();
    }
    ASSERT_EQ(pos, runs.length());
}

} // namespace

TEST(AttributeRuns, AnEmptyAttributeNeedsNoTree)
{
    AttributeRuns runs(10);
    EXPECT_TRUE(runs.isEmpty());
    Range run;
    EXPECT_TRUE(runs.valueAt(3, &run).isNull());
    EXPECT_EQ(run, Range(0, 10));
    EXPECT_FALSE(runs.assign(Range(2, 3), AttributeValue()));
    runs.replace(Range(2, 3), 7, AttributeValue());
    EXPECT_EQ(runs.length(), 14);
    EXPECT_TRUE(runs.isEmpty());

    EXPECT_TRUE(runs.assign(Range(2, 3), valueFor(1)));
    EXPECT_FALSE(runs.isEmpty());
    EXPECT_FALSE(runs.assign(Range(2, 2), valueFor(1))) << "already there";
    EXPECT_TRUE(runs.assign(Range(0, 14), AttributeValue()));
    EXPECT_TRUE(runs.isEmpty()) << "nothing left carries a value";
}

// Runs with equal neighbours merge: expectSame checks that every run is the
// longest stretch with its value.
TEST(AttributeRuns, RandomEditsMatchAPlainModel)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 3; ++round) {
        const qsizetype initial = round == 2 ? 20000 : 300;
        AttributeRuns runs(initial);
        Model model{std::vector<int>(initial, 0)};
        const int steps = round == 2 ? 6000 : 3000;
        for (int step = 0; step < steps; ++step) {
            const qsizetype n = qsizetype(model.values.size());
            const qsizetype a = n ? std::uniform_int_distribution<qsizetype>(0, n)(rng) : 0;
            const qsizetype maxLen = round == 2 ? 8 : 40;
            const qsizetype b = std::min(n, a + std::uniform_int_distribution<qsizetype>(0, maxLen)(rng));
            const int v = std::uniform_int_distribution<int>(0, 4)(rng);
            if (rng() % 3 == 0) {
                // Keep the text from growing or shrinking for good.
                const qsizetype len = std::uniform_int_distribution<qsizetype>(0, b - a + 3)(rng);
                runs.replace(Range(a, b - a), len, valueFor(v));
                model.replace(a, b, len, v);
            } else {
                const bool changes = std::any_of(model.values.begin() + a, model.values.begin() + b,
                                                 [v](int x) { return x != v; });
                EXPECT_EQ(runs.assign(Range(a, b - a), valueFor(v)), changes);
                model.assign(a, b, v);
            }
            if (step % 700 == 0) runs.compact(); // packed nodes behave like any others
            if (round < 2 || step % 500 == 0) {
                expectSame(runs, model);
                if (HasFatalFailure()) return;
            }
        }
        expectSame(runs, model);
    }
}

TEST(AttributeRuns, ManyRunsGrowAndShrinkTheTree)
{
    AttributeRuns runs(0);
    Model model;
    // Twenty thousand alternating runs appended one by one, then removed from the middle out.
    for (int i = 0; i < 20000; ++i) {
        runs.replace(Range(runs.length(), 0), 2, valueFor(i % 2 + 1));
        model.replace(model.values.size(), model.values.size(), 2, i % 2 + 1);
    }
    expectSame(runs, model);
    EXPECT_EQ(runs.runCount(), 20000);
    const std::size_t before = runs.memoryUsage();
    runs.compact();
    expectSame(runs, model);
    EXPECT_LE(runs.memoryUsage(), before);
    while (runs.length() > 0) {
        const qsizetype mid = runs.length() / 2;
        const qsizetype to = std::min(runs.length(), mid + 37);
        runs.replace(Range(mid, to - mid), 0, AttributeValue());
        model.replace(mid, to, 0, 0);
        if (runs.length() % 7 == 0) {
            expectSame(runs, model);
            if (HasFatalFailure()) return;
        }
    }
    expectSame(runs, model);
}

// Each run holds a slot of a palette of distinct values: equal values by
// content share one; a value no run holds any more is let go.
TEST(AttributeRuns, ValuesAreSharedAndLetGoWhenNoRunHoldsThem)
{
    struct Tagged : AttributeObject {
        explicit Tagged(int id) : id(id) {}
        int id;
    };
    std::vector<std::shared_ptr<Tagged>> objects;
    for (int id = 7; id <= 9; ++id) objects.push_back(std::make_shared<Tagged>(id));
    std::weak_ptr<Tagged> watched = objects.front();
    // 1-3 integers, 4-6 colours made afresh each time, 7-9 objects.
    auto make = [&](int v) -> AttributeValue {
        if (v == 0) return AttributeValue();
        if (v <= 3) return AttributeValue(std::int64_t(v));
        if (v <= 6) return AttributeValue(Color(v / 10.0, 0.5, 0.5, 0.75));
        return AttributeValue(AttributeValue::Object(objects[size_t(v - 7)]));
    };
    auto id = [](const AttributeValue& value) {
        if (const std::int64_t* i = value.integer()) return int(*i);
        if (const Color* c = value.color()) return int(std::lround(c->r * 10));
        if (const auto tagged = value.objectAs<Tagged>()) return tagged->id;
        return 0;
    };
    std::mt19937 rng(99);
    AttributeRuns runs(500);
    Model model{std::vector<int>(500, 0)};
    for (int step = 0; step < 4000; ++step) {
        const qsizetype n = qsizetype(model.values.size());
        const qsizetype a = std::uniform_int_distribution<qsizetype>(0, n)(rng);
        const qsizetype b = std::min(n, a + std::uniform_int_distribution<qsizetype>(0, 30)(rng));
        const int v = std::uniform_int_distribution<int>(0, 9)(rng);
        if (rng() % 4 == 0) {
            const qsizetype len = std::uniform_int_distribution<qsizetype>(0, b - a + 3)(rng);
            runs.replace(Range(a, b - a), len, make(v));
            model.replace(a, b, len, v);
        } else {
            runs.assign(Range(a, b - a), make(v));
            model.assign(a, b, v);
        }
        if (step % 50 == 0) {
            ASSERT_STREQ(runs.invariantViolation(), "") << "step " << step;
            for (qsizetype i = 0; i < runs.length(); ++i) ASSERT_EQ(id(runs.valueAt(i)), model.values[size_t(i)]) << i;
            // One value for equal contents, at most one per run for objects.
            std::vector<int> contents;
            int objectRuns = 0;
            for (auto c = runs.cursorAt(0); !c.atEnd(); c.next()) {
                const int v = id(c.value());
                if (v >= 7) ++objectRuns;
                else if (v > 0) contents.push_back(v);
            }
            std::sort(contents.begin(), contents.end());
            contents.erase(std::unique(contents.begin(), contents.end()), contents.end());
            EXPECT_LE(runs.distinctValueCount(), int(contents.size()) + objectRuns);
        }
    }
    runs.assign(Range(0, runs.length()), AttributeValue());
    EXPECT_EQ(runs.distinctValueCount(), 0);
    EXPECT_TRUE(runs.isEmpty());
    objects.clear();
    EXPECT_TRUE(watched.expired()) << "no run keeps a value it no longer carries";
}
