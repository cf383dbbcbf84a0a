#include "platform/text/TextStorage.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

using namespace lumora;

namespace {

struct Thing : AttributeObject {};

AttributeValue red() { return AttributeValue(Color(1, 0, 0)); }
AttributeValue blue() { return AttributeValue(Color(0, 0, 1)); }

// "abc" style dump of one key: one letter per character, '.' where absent.
QString dump(const TextStorage& s, AttributeKey key, const QList<AttributeValue>& legend)
{
    QString out;
    for (qsizetype i = 0; i < s.length(); ++i) {
        const AttributeValue& v = s.attribute(key, i);
        if (v.isNull()) {
            out += u'.';
            continue;
        }
        const qsizetype at = legend.indexOf(v);
        out += at < 0 ? QChar(u'?') : QChar(char16_t(u'a' + at));
    }
    return out;
}

struct Recorder {
    std::vector<TextStorage::Change> changes;
    explicit Recorder(TextStorage& s)
    {
        s.addObserver([this](const TextStorage::Change& c) { changes.push_back(c); });
    }
};

} // namespace

TEST(TextStorage, InsertedTextInheritsFromTheCharacterBefore)
{
    TextStorage s(QStringLiteral("abcdef"));
    s.addAttribute(AttributeKey::ForegroundColor, red(), Range(0, 3));
    s.addAttribute(AttributeKey::ForegroundColor, blue(), Range(3, 3));
    const QList<AttributeValue> legend{red(), blue()};

    s.replaceCharacters(Range(3, 0), QStringLiteral("XY")); // after "abc": red
    EXPECT_EQ(s.string(), QStringLiteral("abcXYdef"));
    EXPECT_EQ(dump(s, AttributeKey::ForegroundColor, legend), QStringLiteral("aaaaabbb"));

    s.replaceCharacters(Range(0, 0), QStringLiteral("<")); // at 0: from the character after
    EXPECT_EQ(dump(s, AttributeKey::ForegroundColor, legend), QStringLiteral("aaaaaabbb"));

    s.replaceCharacters(Range(5, 3), QStringLiteral("1234")); // "Yde" -> takes the first replaced (red)
    EXPECT_EQ(s.string(), QStringLiteral("<abcX1234f"));
    EXPECT_EQ(dump(s, AttributeKey::ForegroundColor, legend), QStringLiteral("aaaaaaaaab"));

    s.replaceCharacters(Range(10, 0), QStringLiteral("!"), Attributes{{AttributeKey::Kern, 2.0}});
    EXPECT_EQ(dump(s, AttributeKey::ForegroundColor, legend), QStringLiteral("aaaaaaaaab."));
    EXPECT_EQ(*s.attribute(AttributeKey::Kern, 10).number(), 2.0);

    TextStorage empty;
    empty.replaceCharacters(Range(0, 0), QStringLiteral("x"));
    EXPECT_TRUE(empty.attributes(0).isEmpty());
}

TEST(TextStorage, SetAddAndRemoveOverRanges)
{
    TextStorage s(QStringLiteral("0123456789"), Attributes{{AttributeKey::Kern, 1.0}});
    s.addAttributes(Attributes{{AttributeKey::ForegroundColor, red()}, {AttributeKey::Kern, 3.0}}, Range(2, 4));
    EXPECT_EQ(*s.attribute(AttributeKey::Kern, 1).number(), 1.0);
    EXPECT_EQ(*s.attribute(AttributeKey::Kern, 2).number(), 3.0);

    s.setAttributes(Attributes{{AttributeKey::UnderlineStyle, 1}}, Range(3, 2));
    EXPECT_EQ(s.attributes(3), (Attributes{{AttributeKey::UnderlineStyle, 1}}));
    EXPECT_EQ(s.attributes(2), (Attributes{{AttributeKey::ForegroundColor, red()}, {AttributeKey::Kern, 3.0}}));

    Range effective;
    const Attributes at5 = s.attributes(5, &effective);
    EXPECT_EQ(effective, Range(5, 1));
    s.removeAttribute(AttributeKey::Kern, Range(0, 10));
    EXPECT_FALSE(s.attributes(0).contains(AttributeKey::Kern));

    Range run;
    EXPECT_EQ(s.attribute(AttributeKey::ForegroundColor, 5, &run), red());
    EXPECT_EQ(run, Range(5, 1));
    EXPECT_TRUE(s.attribute(AttributeKey::ForegroundColor, 10, &run).isNull()) << "past the end";

    // An empty range, also at the end of the text, changes nothing.
    Recorder recorder(s);
    s.addAttribute(AttributeKey::ForegroundColor, blue(), Range(10, 0));
    s.setAttributes({}, Range(4, 0));
    EXPECT_TRUE(recorder.changes.empty());
}

TEST(TextStorage, ObjectsCompareByIdentity)
{
    TextStorage s(QStringLiteral("one\ntwo\n"));
    const auto a = std::make_shared<Thing>();
    const auto b = std::make_shared<Thing>();
    s.addAttribute(AttributeKey::FullLineMarkdown, AttributeValue::Object(a), Range(0, 4));
    s.addAttribute(AttributeKey::FullLineMarkdown, AttributeValue::Object(b), Range(4, 4));
    Range run;
    s.attribute(AttributeKey::FullLineMarkdown, 0, &run);
    EXPECT_EQ(run, Range(0, 4)) << "two paragraphs with their own objects stay two runs";
    EXPECT_EQ(s.attribute(AttributeKey::FullLineMarkdown, 5).objectAs<Thing>(), b);
}

TEST(TextStorage, EnumerationSkipsAbsentRunsAndToleratesChanges)
{
    TextStorage s(QStringLiteral("aaaabbbbccccdddd"));
    s.addAttribute(AttributeKey::HighlightColor, red(), Range(0, 4));
    s.addAttribute(AttributeKey::HighlightColor, blue(), Range(4, 4));
    s.addAttribute(AttributeKey::HighlightColor, red(), Range(12, 4));

    std::vector<Range> seen;
    s.enumerateAttribute(AttributeKey::HighlightColor, Range(2, 12), [&](const AttributeValue&, Range r) {
        seen.push_back(r);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<Range>{Range(2, 2), Range(4, 4), Range(12, 2)}));

    // Removing each run as it is reported (and one ahead) still visits what is left, once.
    seen.clear();
    s.enumerateAttribute(AttributeKey::HighlightColor, Range(0, 16), [&](const AttributeValue&, Range r) {
        seen.push_back(r);
        s.removeAttribute(AttributeKey::HighlightColor, r);
        if (r.location == 0) s.removeAttribute(AttributeKey::HighlightColor, Range(4, 4));
        return true;
    });
    EXPECT_EQ(seen, (std::vector<Range>{Range(0, 4), Range(12, 4)}));
    EXPECT_TRUE(s.runs(AttributeKey::HighlightColor).isEmpty());

    // Early stop.
    s.addAttribute(AttributeKey::Kern, 1.0, Range(0, 16));
    int calls = 0;
    s.enumerateAttributes(Range(0, 16), [&](const Attributes&, Range) { return ++calls < 1; });
    EXPECT_EQ(calls, 1);
}

TEST(TextStorage, WholeDictionaryRunsAreTheLongest)
{
    TextStorage s(QStringLiteral("0123456789"));
    s.addAttribute(AttributeKey::Kern, 1.0, Range(0, 6));
    s.addAttribute(AttributeKey::ForegroundColor, red(), Range(3, 7));
    std::vector<std::pair<Range, int>> seen;
    s.enumerateAttributes(Range(1, 9), [&](const Attributes& a, Range r) {
        seen.emplace_back(r, a.size());
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::pair<Range, int>>{{Range(1, 2), 1}, {Range(3, 3), 2}, {Range(6, 4), 1}}));
}

TEST(TextStorage, AttributedSubstringCopiesTheRuns)
{
    TextStorage s(QStringLiteral("Hello, world"));
    s.addAttribute(AttributeKey::ForegroundColor, red(), Range(0, 5));
    s.addAttribute(AttributeKey::Kern, 2.0, Range(4, 5));
    const TextStorage copy = s.attributedSubstring(Range(3, 6));
    EXPECT_EQ(copy.string(), QStringLiteral("lo, wo"));
    EXPECT_EQ(dump(copy, AttributeKey::ForegroundColor, {red()}), QStringLiteral("aa...."));
    EXPECT_EQ(dump(copy, AttributeKey::Kern, {AttributeValue(2.0)}), QStringLiteral(".aaaaa"));
}

TEST(TextStorage, NestedEditsAreReportedOnceAtTheOutermostEnd)
{
    TextStorage s(QStringLiteral("The quick brown fox"));
    Recorder recorder(s);
    s.beginEditing();
    s.replaceCharacters(Range(4, 5), QStringLiteral("slow"));   // "The slow brown fox"
    s.beginEditing();
    s.addAttribute(AttributeKey::Kern, 1.0, Range(0, 3));
    s.endEditing();
    EXPECT_TRUE(recorder.changes.empty()) << "still inside the outer bracket";
    s.replaceCharacters(Range(18, 0), QStringLiteral("es")); // "The slow brown foxes"
    s.endEditing();
    ASSERT_EQ(recorder.changes.size(), 1u);
    const TextStorage::Change& c = recorder.changes.front();
    EXPECT_TRUE(c.characters);
    EXPECT_TRUE(c.attributes);
    EXPECT_EQ(c.editedRange, Range(0, 20));
    EXPECT_EQ(c.changeInLength, 1);
    EXPECT_EQ(c.replacedRange(), Range(0, 19));

    // Attribute changes alone say which keys changed; setting what is there already is no change.
    recorder.changes.clear();
    s.addAttribute(AttributeKey::Kern, 1.0, Range(0, 2));
    EXPECT_TRUE(recorder.changes.empty());
    s.addAttribute(AttributeKey::HighlightColor, red(), Range(5, 3));
    ASSERT_EQ(recorder.changes.size(), 1u);
    EXPECT_FALSE(recorder.changes[0].characters);
    EXPECT_EQ(recorder.changes[0].keys, TextStorage::keyBit(AttributeKey::HighlightColor));
    EXPECT_EQ(recorder.changes[0].editedRange, Range(5, 3));
    EXPECT_EQ(recorder.changes[0].changeInLength, 0);
}

TEST(TextStorage, CoalescedChangeTurnsTheOldTextIntoTheNew)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        TextStorage s(QStringLiteral("Lorem ipsum dolor sit amet, consectetur adipiscing elit."));
        const QString before = s.string();
        Recorder recorder(s);
        s.beginEditing();
        const int edits = 1 + int(rng() % 5);
        for (int e = 0; e < edits; ++e) {
            const qsizetype a = rng() % (s.length() + 1);
            const qsizetype b = std::min(s.length(), a + qsizetype(rng() % 6));
            if (rng() % 3 == 0) {
                s.addAttribute(AttributeKey::Kern, double(rng() % 3 + 1), Range(a, b - a));
            } else {
                s.replaceCharacters(Range(a, b - a), QString(int(rng() % 4), QChar(u'A' + e)));
            }
        }
        s.endEditing();
        if (recorder.changes.empty()) continue;
        ASSERT_EQ(recorder.changes.size(), 1u);
        const TextStorage::Change& c = recorder.changes.front();
        QString rebuilt = before;
        rebuilt.replace(c.replacedRange().location, c.replacedRange().length,
                        s.string().mid(c.editedRange.location, c.editedRange.length));
        ASSERT_EQ(rebuilt, s.string()) << "round " << round;
    }
}

TEST(TextStorage, ObserversMayRemoveThemselvesAndEditAgain)
{
    TextStorage s(QStringLiteral("abc"));
    int first = 0;
    int second = 0;
    int id = 0;
    id = s.addObserver([&](const TextStorage::Change&) {
        ++first;
        s.removeObserver(id);
        s.addAttribute(AttributeKey::Kern, 1.0, Range(0, 1)); // reported after this one
    });
    s.addObserver([&](const TextStorage::Change&) { ++second; });
    s.replaceCharacters(Range(3, 0), QStringLiteral("d"));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
}

TEST(TextStorage, KeepsEveryCharacterAsGiven)
{
    const QString text = QStringLiteral("a\r\nb\u2028c\u00A0d\U0001F600e\r");
    TextStorage s(text);
    s.addAttribute(AttributeKey::ForegroundColor, red(), Range(0, s.length()));
    s.replaceCharacters(Range(s.length(), 0), QStringLiteral("\r\n"));
    EXPECT_EQ(s.string(), text + QStringLiteral("\r\n"));
    // Ranges beyond the text are clipped, never a crash.
    s.addAttribute(AttributeKey::Kern, 1.0, Range(5, 1000));
    s.replaceCharacters(Range(1000, 3), QStringLiteral("!"));
    EXPECT_TRUE(s.string().endsWith(u'!'));
}

TEST(TextStorage, GapBufferReadsAndEditsMatchAPlainString)
{
    // Random edits, mostly near the last one as typing goes, some far away;
    // after each, every way of reading the text agrees with a plain string.
    std::mt19937 random(11);
    const QStringList pieces{QStringLiteral("a"), QStringLiteral("word "), QStringLiteral("\n"),
                             QStringLiteral("\r\n"), QString(), QStringLiteral("\U0001F600"),
                             QString(300, u'x')};
    QString model = QStringLiteral("First line\r\nSecond line\n\nThird\rFourth");
    TextStorage s(model);
    qsizetype caret = 5;
    for (int step = 0; step < 2000; ++step) {
        auto pick = [&](qsizetype from, qsizetype to) {
            return std::uniform_int_distribution<qsizetype>(from, std::max(from, to))(random);
        };
        caret = step % 10 == 0 ? pick(0, model.size()) : std::clamp<qsizetype>(caret + pick(0, 4) - 2, 0, model.size());
        const qsizetype n = pick(0, std::min<qsizetype>(step % 50 == 0 ? 400 : 3, model.size() - caret));
        const QString piece = pieces[int(pick(0, pieces.size() - 1))];
        model.replace(caret, n, piece);
        s.replaceCharacters(Range(caret, n), piece);
        caret += piece.size();
        ASSERT_EQ(s.length(), model.size()) << "step " << step;

        const qsizetype at = pick(0, model.size());
        ASSERT_EQ(s.characterAt(at), at < model.size() ? model[at] : QChar()) << "step " << step;
        const Range r(pick(0, model.size()), pick(0, 40));
        ASSERT_EQ(s.substring(r), model.mid(r.location, r.length)) << "step " << step;
        const qsizetype end = pick(0, model.size());
        ASSERT_EQ(s.stringBefore(end), QStringView(model).first(end)) << "step " << step;
        const text::ParagraphBounds mine = s.paragraphBounds(r);
        const text::ParagraphBounds theirs = text::paragraphBounds(model, r);
        ASSERT_EQ(std::tuple(mine.start, mine.contentsEnd, mine.end),
                  std::tuple(theirs.start, theirs.contentsEnd, theirs.end))
            << "step " << step;
        if (step % 97 == 0) {
            ASSERT_EQ(s.string(), model) << "step " << step;
        }
    }
    EXPECT_EQ(s.string(), model);
    // Deleting nearly everything gives the memory back and keeps working.
    s.replaceCharacters(Range(1, s.length() - 1), QString());
    s.replaceCharacters(Range(1, 0), QStringLiteral("bc"));
    EXPECT_EQ(s.string(), model.first(1) + QStringLiteral("bc"));
}

TEST(TextStorage, TypingMovesOnlyWhatLiesBetweenEdits)
{
    // Typing near the start of a long text: once the free space stands at
    // the caret, a keystroke and the reads around it move a few characters,
    // not the megabyte after them.
    QString text;
    while (text.size() < 1'000'000) text += QStringLiteral("A paragraph of some words, long enough.\n");
    TextStorage s(text);
    QString copy = s.string();
    s.replaceCharacters(Range(1000, 0), QStringLiteral("x"));
    const std::uint64_t before = s.charactersMoved();
    for (int i = 0; i < 200; ++i) {
        const qsizetype caret = 1001 + i;
        s.replaceCharacters(Range(caret, 0), QStringLiteral("y"));
        const text::ParagraphBounds p = s.paragraphBounds(Range(caret, 0));
        EXPECT_EQ(s.stringBefore(p.end).size(), p.end);
        EXPECT_EQ(s.characterAt(caret), u'y');
        EXPECT_EQ(s.substring(Range(caret - 1, 2)), i == 0 ? QStringLiteral("xy") : QStringLiteral("yy"));
    }
    EXPECT_LT(s.charactersMoved() - before, 200u * 100u);
    // A copy taken earlier keeps its text.
    EXPECT_EQ(copy, text);
    EXPECT_EQ(s.string(), text.first(1000) + u'x' + QString(200, u'y') + text.sliced(1000));
}

TEST(TextStorage, ManyReplacementsAtOnceMatchOneByOne)
{
    // The batch (replace all) gives the same text and attributes as the
    // same replacements made one by one from the last to the first, and
    // reports one change.
    std::mt19937 rng(3);
    const QList<AttributeValue> legend{red(), blue()};
    for (int round = 0; round < 100; ++round) {
        const QString text = QStringLiteral("one two three four five six seven eight nine ten");
        TextStorage batch(text), single(text);
        for (TextStorage* s : {&batch, &single}) {
            s->addAttribute(AttributeKey::ForegroundColor, red(), Range(0, 20));
            s->addAttribute(AttributeKey::ForegroundColor, blue(), Range(20, text.size() - 20));
        }
        std::vector<Range> ranges;
        QStringList texts;
        qsizetype at = 0;
        while (at < text.size()) {
            at += qsizetype(rng() % 6);
            const qsizetype length = std::min<qsizetype>(text.size() - at, rng() % 4);
            if (at > text.size()) break;
            ranges.emplace_back(at, length);
            texts << QString(int(rng() % 3), QChar(u'x'));
            at += length + 1;
        }
        if (ranges.empty()) continue;
        Recorder recorder(batch);
        batch.replaceCharacters(ranges, texts);
        for (size_t i = ranges.size(); i-- > 0;) single.replaceCharacters(ranges[i], texts[qsizetype(i)]);
        ASSERT_EQ(batch.string(), single.string()) << round;
        ASSERT_EQ(dump(batch, AttributeKey::ForegroundColor, legend), dump(single, AttributeKey::ForegroundColor, legend))
            << round;
        ASSERT_EQ(recorder.changes.size(), 1u);
        const TextStorage::Change& c = recorder.changes.front();
        QString rebuilt = text;
        rebuilt.replace(c.replacedRange().location, c.replacedRange().length,
                        batch.string().mid(c.editedRange.location, c.editedRange.length));
        ASSERT_EQ(rebuilt, batch.string()) << round;
    }
}
