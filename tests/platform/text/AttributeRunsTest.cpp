#include "platform/text/AttributeRuns.h"

#include <gtest/gtest.h>

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
