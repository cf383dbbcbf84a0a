#include "platform/text/UndoManager.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace lumora;

namespace {

// A text and its undo stack, edited the way the editor does: replace, then record.
struct Editor {
    QString text;
    UndoManager undo;
    qint64 clock = 0;

    Editor()
    {
        undo.setClock([this] { return clock; });
        undo.setTextApplier([this](Range range, const QString& replacement) {
            text.replace(range.location, range.length, replacement);
            // The editor's replace operation records as usual; undo ignores it.
            undo.recordReplacement({range, QString(), replacement, {}, {}});
        });
    }

    void replace(Range range, const QString& with, UndoCoalescing kind = UndoCoalescing::none)
    {
        const QString old = text.mid(range.location, range.length);
        text.replace(range.location, range.length, with);
        undo.recordReplacement({range, old, with, range, Range(range.location + with.size(), 0)}, kind);
    }
    void type(qsizetype at, const QString& s) { replace(Range(at, 0), s, UndoCoalescing::typing); }
    void typeAtEnd(const QString& s) { type(text.size(), s); }
    void backspace() { replace(Range(text.size() - 1, 1), QString(), UndoCoalescing::deleteBackward); }
    void deleteForward(qsizetype at) { replace(Range(at, 1), QString(), UndoCoalescing::deleteForward); }
};

} // namespace

TEST(UndoManager, TypingStepsEndWhereTheWriterExpects)
{
    struct Case {
        const char* what;
        std::function<void(Editor&)> between; // runs between "ab" and "cd"
        int steps;
    };
    const Case cases[] = {
        {"nothing", [](Editor&) {}, 1},
        {"caret jump", [](Editor& e) { e.type(0, QStringLiteral("X")); }, 3},
        {"line break ends the step it closes",
         [](Editor& e) { e.typeAtEnd(QStringLiteral("\n")); }, 2},
        {"pause", [](Editor& e) { e.clock += 3001; }, 2},
        {"short pause", [](Editor& e) { e.clock += 2000; }, 1},
        {"explicit break", [](Editor& e) { e.undo.breakCoalescing(); }, 2},
        {"another kind of change", [](Editor& e) { e.backspace(); }, 3},
        {"a paste", [](Editor& e) { e.replace(Range(e.text.size(), 0), QStringLiteral("P")); }, 3},
        {"marked clean", [](Editor& e) { e.undo.setClean(); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Editor e;
        e.typeAtEnd(QStringLiteral("a"));
        e.typeAtEnd(QStringLiteral("b"));
        c.between(e);
        e.typeAtEnd(QStringLiteral("c"));
        e.typeAtEnd(QStringLiteral("d"));
        EXPECT_EQ(e.undo.count(), c.steps);
        if (c.steps == 1) { // one step back to the start and forward again
            EXPECT_EQ(e.undo.undo(), Range(0, 0));
            EXPECT_EQ(e.undo.redo(), Range(4, 0));
        }
        const QString full = e.text;
        while (e.undo.canUndo()) e.undo.undo();
        EXPECT_EQ(e.text, QString());
        while (e.undo.canRedo()) e.undo.redo();
        EXPECT_EQ(e.text, full);
    }
}

TEST(UndoManager, DeletionsCoalesceInEachDirection)
{
    Editor e;
    e.text = QStringLiteral("abcdef");
    e.backspace(); // f
    e.backspace(); // e
    EXPECT_EQ(e.undo.count(), 1);
    EXPECT_EQ(e.text, QStringLiteral("abcd"));
    e.deleteForward(0); // a
    e.deleteForward(0); // b
    EXPECT_EQ(e.undo.count(), 2);
    EXPECT_EQ(e.text, QStringLiteral("cd"));
    EXPECT_EQ(e.undo.undo(), Range(0, 1));
    EXPECT_EQ(e.text, QStringLiteral("abcd"));
    e.undo.undo();
    EXPECT_EQ(e.text, QStringLiteral("abcdef"));
    // Deleting a line break ends the step.
    Editor f;
    f.text = QStringLiteral("ab\ncd");
    f.backspace();
    f.backspace();
    f.backspace(); // the line break
    f.backspace();
    EXPECT_EQ(f.undo.count(), 2);
    f.undo.undo();
    EXPECT_EQ(f.text, QStringLiteral("ab"));
}

TEST(UndoManager, TypingOverASelectionRestoresIt)
{
    Editor e;
    e.text = QStringLiteral("one two three");
    e.replace(Range(4, 3), QStringLiteral("2"), UndoCoalescing::typing);
    e.type(5, QStringLiteral("!"));
    EXPECT_EQ(e.text, QStringLiteral("one 2! three"));
    EXPECT_EQ(e.undo.count(), 1);
    EXPECT_EQ(e.undo.undo(), Range(4, 3));
    EXPECT_EQ(e.text, QStringLiteral("one two three"));
}

TEST(UndoManager, GroupsNestAndUndoInReverseOrder)
{
    Editor e;
    QStringList log;
    e.undo.beginGroup();
    e.replace(Range(0, 0), QStringLiteral("- item"));
    e.undo.beginGroup();
    e.replace(Range(6, 0), QStringLiteral("\n- "));
    e.undo.registerAction([&] { log << QStringLiteral("undo"); }, [&] { log << QStringLiteral("redo"); });
    e.undo.endGroup();
    EXPECT_EQ(e.undo.count(), 0) << "the inner end closes no step";
    e.undo.setActionName(QStringLiteral("List"));
    e.undo.endGroup();
    EXPECT_EQ(e.undo.count(), 1);
    EXPECT_EQ(e.undo.undoActionName(), QStringLiteral("List"));

    EXPECT_EQ(e.undo.undo(), Range(0, 0));
    EXPECT_EQ(e.text, QString());
    EXPECT_EQ(e.undo.redoActionName(), QStringLiteral("List"));
    EXPECT_EQ(e.undo.redo(), Range(9, 0));
    EXPECT_EQ(e.text, QStringLiteral("- item\n- "));
    EXPECT_EQ(log, (QStringList{QStringLiteral("undo"), QStringLiteral("redo")}));

    // An empty group leaves nothing; a stray end does nothing.
    e.undo.beginGroup();
    e.undo.endGroup();
    e.undo.endGroup();
    EXPECT_EQ(e.undo.count(), 1);
}

TEST(UndoManager, CleanStateIsTheSavedState)
{
    Editor e;
    QSignalSpy cleanSpy(&e.undo, &UndoManager::cleanChanged);
    EXPECT_TRUE(e.undo.isClean());
    e.typeAtEnd(QStringLiteral("a"));
    EXPECT_FALSE(e.undo.isClean());
    e.undo.setClean(); // saved
    EXPECT_TRUE(e.undo.isClean());
    e.typeAtEnd(QStringLiteral("b")); // not merged into the saved step
    EXPECT_FALSE(e.undo.isClean());
    e.undo.undo();
    EXPECT_TRUE(e.undo.isClean());
    EXPECT_EQ(e.text, QStringLiteral("a"));
    e.undo.undo();
    EXPECT_FALSE(e.undo.isClean());
    // A new change drops the steps to redo; past the saved state it makes
    // that state unreachable.
    EXPECT_TRUE(e.undo.canRedo());
    e.typeAtEnd(QStringLiteral("z"));
    EXPECT_FALSE(e.undo.canRedo());
    EXPECT_EQ(e.undo.count(), 1);
    e.undo.undo();
    EXPECT_FALSE(e.undo.isClean());
    e.undo.removeAll();
    EXPECT_TRUE(e.undo.isClean());
    EXPECT_FALSE(e.undo.canUndo());
    QList<bool> changes;
    for (const auto& args : cleanSpy) changes << args.at(0).toBool();
    EXPECT_EQ(changes, (QList<bool>{false, true, false, true, false, true}));
}

TEST(UndoManager, ABatchIsOneStepBothWays)
{
    Editor e;
    e.text = QStringLiteral("cat and cat and cat");
    std::vector<std::pair<std::vector<Range>, QStringList>> applied;
    e.undo.setBatchApplier([&](const std::vector<Range>& ranges, const QStringList& texts) {
        applied.emplace_back(ranges, texts);
        for (size_t i = ranges.size(); i-- > 0;) e.text.replace(ranges[i].location, ranges[i].length, texts[qsizetype(i)]);
    });
    const std::vector<Range> ranges{Range(0, 3), Range(8, 3), Range(16, 3)};
    e.text = QStringLiteral("tiger and tiger and tiger");
    e.undo.recordReplacements({ranges, {"cat", "cat", "cat"}, {"tiger", "tiger", "tiger"}, Range(0, 0), Range(25, 0)});
    EXPECT_EQ(e.undo.count(), 1);

    EXPECT_EQ(e.undo.undo(), Range(0, 0));
    EXPECT_EQ(e.text, QStringLiteral("cat and cat and cat"));
    // Undone where the replacements stand after the change.
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].first, (std::vector<Range>{Range(0, 5), Range(10, 5), Range(20, 5)}));
    EXPECT_EQ(e.undo.redo(), Range(25, 0));
    EXPECT_EQ(e.text, QStringLiteral("tiger and tiger and tiger"));

    // Without a batch applier, range by range from the last.
    e.undo.setBatchApplier(nullptr);
    e.undo.undo();
    EXPECT_EQ(e.text, QStringLiteral("cat and cat and cat"));
}
