#include "document/TextView.h"

#include "markdown/Markdown.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "multimarkdown_binding/MultiMarkdownSupport.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/Fonts.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>

#include "support/HostileFiles.h"
#include "support/Patience.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <random>

using namespace lumora;

namespace {

// A shown editor over a styled storage, with the preferences it reads put
// back after each test.
class TextViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings& s = Settings::shared();
        saved = {s.isNoEditingEnabled(), s.isTypewriterScrollingEnabled(), s.highlighting(), s.editorSize()};
        s.setNoEditingEnabled(false);
        s.setTypewriterScrollingEnabled(false);
        s.setHighlighting(Settings::Highlighting::off);
        s.setEditorSize(712);
        // Every substitution and spelling option off, so that typing is
        // plain (a first launch turns four of them on).
        for (const auto& option : TextView::persistedTextOptions())
            s.userDefaults()->set(QLatin1String(option.key), false);
        view = std::make_unique<TextView>();
        view->resize(1000, 700);
        view->show();
        view->activateWindow();
        view->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    void TearDown() override
    {
        if (storage) {
            // Whatever happened, the mirror shows the storage exactly.
            EXPECT_EQ(view->mirror().document()->toRawText(), TextMirror::mirroredText(storage->string()));
            EXPECT_EQ(view->mirror().unexpectedChangeCount(), 0);
        }
        view.reset();
        Settings& s = Settings::shared();
        for (const auto& option : TextView::persistedTextOptions()) s.userDefaults()->remove(QLatin1String(option.key));
        const auto& [noEditing, typewriter, highlighting, editorSize] = saved;
        s.setNoEditingEnabled(noEditing);
        s.setTypewriterScrollingEnabled(typewriter);
        s.setHighlighting(highlighting);
        s.setEditorSize(editorSize);
    }

    void open(const QString& text)
    {
        // The view lets go of the old storage before it is destroyed.
        view->setTextStorage(nullptr, nullptr);
        storage = std::make_unique<TextStorage>(text, Settings::shared().parsedStylesheet()->base);
        restyleParagraphs(*storage, *Settings::shared().parsedStylesheet(), Range(0, storage->length()), true);
        view->setTextStorage(storage.get(), &undo);
    }

    QString text() const { return storage->string(); }
    qsizetype caret() const { return view->selectedRange().location; }
    double fontSizeAt(qsizetype i) const { return fonts::size(*storage->attribute(AttributeKey::Font, i).font()); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(view.get(), k, m); }
    void type(const QString& s) { QTest::keyClicks(view.get(), s); }

    std::tuple<bool, bool, Settings::Highlighting, double> saved;
    std::unique_ptr<TextView> view;
    std::unique_ptr<TextStorage> storage;
    UndoManager undo;
};

} // namespace

TEST_F(TextViewTest, TypingDeletingAndUndoRestoreTextAndCaret)
{
    open(QStringLiteral("Hello world"));
    view->setSelectedRange(Range(5, 0));
    type(QStringLiteral(", dear"));
    QTest::sendKeyEvent(QTest::Click, view.get(), Qt::Key_unknown, QString::fromUtf8("😀"), Qt::NoModifier);
    EXPECT_EQ(text(), QString::fromUtf8("Hello, dear😀 world"));
    EXPECT_EQ(caret(), 13);

    key(Qt::Key_Backspace); // the whole surrogate pair
    EXPECT_EQ(text(), QStringLiteral("Hello, dear world"));
    key(Qt::Key_Backspace, Qt::ControlModifier); // the word before
    EXPECT_EQ(text(), QStringLiteral("Hello,  world"));
    key(Qt::Key_Delete);
    EXPECT_EQ(text(), QStringLiteral("Hello, world"));

    // Undo walks back step by step, caret included; typing was one step,
    // and so were the deletions leftwards.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("Hello,  world"));
    EXPECT_EQ(caret(), 7);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QString::fromUtf8("Hello, dear😀 world"));
    EXPECT_EQ(caret(), 13);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("Hello world"));
    EXPECT_EQ(caret(), 5);
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), QString::fromUtf8("Hello, dear😀 world"));
    EXPECT_EQ(caret(), 13);

    // A "\r\n" goes as a whole, and the caret steps over it.
    open(QStringLiteral("ab\r\ncd"));
    view->setSelectedRange(Range(4, 0));
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), QStringLiteral("abcd"));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("ab\r\ncd"));
    view->setSelectedRange(Range(2, 0));
    key(Qt::Key_Right);
    EXPECT_EQ(caret(), 4);
    key(Qt::Key_Left);
    EXPECT_EQ(caret(), 2);
}

TEST_F(TextViewTest, PasteContextMenuAndDropGoThroughTheGate)
{
    open(QStringLiteral("one two three"));
    // (A text without line breaks takes "\n" for the pasted ones.)
    QApplication::clipboard()->setText(QStringLiteral("2\r\n"));
    view->setSelectedRange(Range(4, 3));
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one 2\n three"));

    // The context menu's standard actions are ours.
    view->setSelectedRange(Range(0, 3));
    std::unique_ptr<QMenu> menu(view->createContextMenu(QPoint(1, 1)));
    QAction* remove = menu->findChild<QAction*>(QStringLiteral("edit-delete"));
    ASSERT_TRUE(remove);
    remove->trigger();
    EXPECT_EQ(text(), QStringLiteral(" 2\n three"));
    std::unique_ptr<QMenu> menu2(view->createContextMenu(QPoint(1, 1)));
    menu2->findChild<QAction*>(QStringLiteral("edit-undo"))->trigger();
    EXPECT_EQ(text(), QStringLiteral("one 2\n three"));

    // A move inside the view is one undo step.
    view->setSelectedRange(Range(0, 4));
    view->dropText(QStringLiteral("one "), text().size(), true);
    EXPECT_EQ(text(), QStringLiteral("2\n threeone "));
    EXPECT_EQ(view->selectedRange(), Range(8, 4));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one 2\n three"));
}

// HTML on the clipboard (from any program, or a web page's script) pastes as
// its text; nothing it names, a pipe above all, is opened.
TEST_F(TextViewTest, PastedHTMLOpensNothingItNames)
{
    const QString pipePath = test::freshDirectory(QStringLiteral("paste-html")) + QStringLiteral("/pipe.png");
    test::WatchedPipe pipe(pipePath);
    open(QString());
    auto* data = new QMimeData;
    data->setHtml(QStringLiteral("<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"%1\"></head>"
                                 "<body background=\"%1\"><p>Pasted <img src=\"%1\"> words</p></body></html>")
                      .arg(pipePath));
    QApplication::clipboard()->setMimeData(data);
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(text().startsWith(QStringLiteral("Pasted"))) << text().toStdString();
    EXPECT_FALSE(pipe.opened()) << "pasting opened the pipe";
}

TEST_F(TextViewTest, InputMethodCommitsThroughTheGate)
{
    open(QStringLiteral("cafe"));
    view->setSelectedRange(Range(4, 0));
    // A preedit is drawn, not stored.
    QInputMethodEvent compose(QStringLiteral("´"), {});
    QApplication::sendEvent(view.get(), &compose);
    EXPECT_EQ(text(), QStringLiteral("cafe"));
    // The commit replaces the "e" before the caret.
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("é"), -1, 1);
    QApplication::sendEvent(view.get(), &commit);
    EXPECT_EQ(text(), QStringLiteral("café"));
    EXPECT_EQ(caret(), 4);

    // Composing over a selection deletes it first.
    view->setSelectedRange(Range(0, 2));
    QInputMethodEvent over(QStringLiteral("k"), {});
    QApplication::sendEvent(view.get(), &over);
    EXPECT_EQ(text(), QStringLiteral("fé"));
    QInputMethodEvent done;
    done.setCommitString(QStringLiteral("K"));
    QApplication::sendEvent(view.get(), &done);
    EXPECT_EQ(text(), QStringLiteral("Kfé"));
}

TEST_F(TextViewTest, NoEditingModeOnlyAddsAtTheCaret)
{
    open(QStringLiteral("Draft"));
    Settings::shared().setNoEditingEnabled(true);
    view->setSelectedRange(Range(5, 0));
    key(Qt::Key_Backspace);
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_Delete);
    view->setSelectedRange(Range(0, 5));
    type(QStringLiteral("x"));
    key(Qt::Key_X, Qt::ControlModifier);
    QApplication::clipboard()->setText(QStringLiteral("Paste"));
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("Draft"));

    view->setSelectedRange(Range(5, 0));
    type(QStringLiteral(" on"));
    QInputMethodEvent compose(QStringLiteral("¨"), {});
    QApplication::sendEvent(view.get(), &compose);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("ë"));
    QApplication::sendEvent(view.get(), &commit);
    EXPECT_EQ(text(), QStringLiteral("Draft onë"));
    // Undo would take text away: refused as a whole.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("Draft onë"));
    // Return on an empty list item may not take the marker away; the caret
    // stays where it is.
    key(Qt::Key_Return);
    type(QStringLiteral("- "));
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("Draft onë\n- \n"));
    EXPECT_EQ(caret(), text().size());
}

TEST_F(TextViewTest, MarkdownIsStyledAsTheWriterTypesAndOnlyWhenNeeded)
{
    open(QStringLiteral("Plain words\n"));
    const double body = fontSizeAt(0);
    view->setSelectedRange(Range(12, 0));
    type(QStringLiteral("# Title"));
    EXPECT_GT(fontSizeAt(14), body);

    // A letter inside a word restyles nothing.
    const int restyles = view->restyleCount();
    view->setSelectedRange(Range(2, 0));
    type(QStringLiteral("a"));
    EXPECT_EQ(view->restyleCount(), restyles);
    EXPECT_EQ(text(), QStringLiteral("Plain words\n# Title").insert(2, u'a'));

    // Return after a heading: the new line starts in the body style.
    view->setSelectedRange(Range(text().size(), 0));
    key(Qt::Key_Return);
    type(QStringLiteral("x"));
    EXPECT_DOUBLE_EQ(fontSizeAt(text().size() - 1), body);

    // A letter in a heading restyles for the outline while it is shown;
    // once it is hidden, typing in the heading restyles nothing.
    bool outlineShown = true;
    int reloads = 0;
    TextView::Hooks hooks;
    hooks.isOutlineVisible = [&] { return outlineShown; };
    hooks.reloadOutline = [&] { ++reloads; };
    view->setHooks(hooks);
    view->setSelectedRange(Range(16, 0));
    const int before = view->restyleCount();
    type(QStringLiteral("x"));
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(view->restyleCount(), before + 1);
    outlineShown = false;
    type(QStringLiteral("yz"));
    EXPECT_EQ(view->restyleCount(), before + 1);
    EXPECT_EQ(reloads, 1);
    view->setHooks({});
}

TEST_F(TextViewTest, AFenceTypedAfterCarriedIndentationClosesTheBlock)
{
    open(QString());
    type(QStringLiteral("```python"));
    key(Qt::Key_Return);
    type(QStringLiteral("def walk(miles):"));
    key(Qt::Key_Return);
    type(QStringLiteral("    return miles * 2"));
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("```python\ndef walk(miles):\n    return miles * 2\n    "));
    type(QStringLiteral("```"));
    const QString closed = QStringLiteral("```python\ndef walk(miles):\n    return miles * 2\n```");
    EXPECT_EQ(text(), closed);
    EXPECT_EQ(caret(), closed.size());
    key(Qt::Key_Return);
    type(QStringLiteral("A walk is good."));
    EXPECT_TRUE(test::htmlOf(text()).contains(QStringLiteral("</code></pre>\n<p>A walk is good.</p>")))
        << test::htmlOf(text()).toStdString();
    // The editor shows it so: code up to the fence, prose after it.
    const auto isCode = [&](qsizetype at) {
        const auto m = Markdown::unboxed(storage->attribute(AttributeKey::FullLineMarkdown, at));
        return m && m->isFenced();
    };
    EXPECT_TRUE(isCode(closed.size() - 1));
    EXPECT_FALSE(isCode(text().size() - 1));

    // Undo takes the closing back as list continuation is taken back: the
    // writer's own keys come back first.
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), closed);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("```python\ndef walk(miles):\n    return miles * 2\n    ```"));
    // Redoing does not close it a second time; typing the marker again does.
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), closed);
}

TEST_F(TextViewTest, AFenceOpenedFarUpMakesCodeOfTheRestInTheBackground)
{
    QString long_ = QStringLiteral("``\n# Near\n");
    while (long_.size() < 300'000) long_ += QStringLiteral("A line of prose with *words*.\n");
    open(long_ + QStringLiteral("# Far\n"));
    const auto isCode = [&](qsizetype at) {
        const auto m = Markdown::unboxed(storage->attribute(AttributeKey::FullLineMarkdown, at));
        return m && m->isFenced();
    };
    const auto headings = [&] { return outlinesIn(*storage, Range(0, storage->length())).size(); };
    int reloads = 0;
    TextView::Hooks hooks;
    hooks.isOutlineVisible = [] { return true; };
    hooks.reloadOutline = [&] { ++reloads; };
    view->setHooks(hooks);
    view->setSelectedRange(Range(text().indexOf(QStringLiteral("prose")), 0));
    type(QStringLiteral("x"));
    view->setSelectedRange(Range(2, 0));
    const std::uint64_t before = storage->charactersMoved();
    reloads = 0;
    type(QStringLiteral("`"));
    // Around the caret at once, without going through the whole text...
    EXPECT_TRUE(isCode(10));
    EXPECT_FALSE(isCode(storage->length() - 2));
    EXPECT_LT(storage->charactersMoved() - before, 40u * 1000u);
    EXPECT_EQ(reloads, 1) << "the heading near it is code now";
    // ...and the rest soon after, the outline reloaded once more.
    EXPECT_TRUE(QTest::qWaitFor([&] { return isCode(storage->length() - 2); }, test::patience));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reloads == 2; }, test::patience));
    EXPECT_EQ(headings(), 0u);
    // Undone, it is prose again throughout.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(isCode(10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !isCode(storage->length() - 2); }, test::patience));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reloads == 4; }, test::patience));
    EXPECT_EQ(headings(), 2u);
    view->setHooks({});
}

TEST_F(TextViewTest, ListContinuationIsItsOwnUndoStep)
{
    open(QStringLiteral("- apple"));
    view->setSelectedRange(Range(7, 0));
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("- apple\n- "));
    EXPECT_EQ(caret(), 10);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("- apple\n"));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("- apple"));
    // Redoing the return does not continue the list again.
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("- apple\n"));

    // Return on an empty item ends the list: its marker goes, a blank line
    // stays, and what is typed next is a paragraph of its own.
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("- apple\n\n"));
    EXPECT_EQ(caret(), 9);
    type(QStringLiteral("After the list."));
    EXPECT_EQ(text(), QStringLiteral("- apple\n\nAfter the list."));
    EXPECT_TRUE(test::htmlOf(text()).contains(QStringLiteral("</ul>\n<p>After the list.</p>"))) << test::htmlOf(text()).toStdString();
    // The same for a quote.
    open(QStringLiteral("> a quote"));
    view->setSelectedRange(Range(9, 0));
    key(Qt::Key_Return);
    key(Qt::Key_Return);
    type(QStringLiteral("After it."));
    EXPECT_EQ(text(), QStringLiteral("> a quote\n\nAfter it."));
    EXPECT_TRUE(test::htmlOf(text()).contains(QStringLiteral("</blockquote>\n<p>After it.</p>"))) << test::htmlOf(text()).toStdString();
}

TEST_F(TextViewTest, TabIndentsListItemsAndTypesATabElsewhere)
{
    open(QStringLiteral("- one\n- two\nplain"));
    view->setSelectedRange(Range(9, 0)); // inside "two"
    key(Qt::Key_Tab);
    EXPECT_EQ(text(), QStringLiteral("- one\n\t- two\nplain"));
    EXPECT_EQ(caret(), 10); // moved with its text
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("- one\n- two\nplain"));
    EXPECT_EQ(caret(), 9);
    key(Qt::Key_Backtab, Qt::ShiftModifier); // a top-level item: nothing to take
    EXPECT_EQ(text(), QStringLiteral("- one\n- two\nplain"));

    // No-editing mode refuses the outdent and leaves the caret where it is.
    key(Qt::Key_Tab);
    Settings::shared().setNoEditingEnabled(true);
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    Settings::shared().setNoEditingEnabled(false);
    EXPECT_EQ(text(), QStringLiteral("- one\n\t- two\nplain"));
    EXPECT_EQ(caret(), 10);
    key(Qt::Key_Backtab, Qt::ShiftModifier);

    view->setSelectedRange(Range(text().size(), 0));
    key(Qt::Key_Tab);
    EXPECT_EQ(text(), QStringLiteral("- one\n- two\nplain\t"));
    for (int i = 0; i < 5; ++i) key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("- one\n- two\nplain"));
}

TEST_F(TextViewTest, ColumnWidthAndInsets)
{
    open(QStringLiteral("One line."));
    const QMarginsF margins = view->mirror().rootFrameMargins();
    EXPECT_DOUBLE_EQ(margins.left(), std::max(0.0, std::round(view->viewport()->width() - 712.0) * 0.5));
    EXPECT_DOUBLE_EQ(margins.right(), margins.left());
    EXPECT_DOUBLE_EQ(margins.top(), 60.0);
    EXPECT_DOUBLE_EQ(margins.bottom(), 60.0);

    // Typewriter scrolling adds room below the text only, so that the last
    // line can rise; the first line still opens at the top inset.
    Settings::shared().setTypewriterScrollingEnabled(true);
    view->updateTextContainerInset(); // as the window does when the preference changes
    EXPECT_DOUBLE_EQ(view->mirror().rootFrameMargins().top(), 60.0);
    EXPECT_GE(view->mirror().rootFrameMargins().bottom(), view->viewport()->height() / 2 - 1);
}

TEST_F(TextViewTest, TypewriterScrollingKeepsTheLineWhereItStood)
{
    QStringList lines;
    for (int i = 0; i < 200; ++i) lines << QStringLiteral("Line %1 of a long text.").arg(i);
    open(lines.join(u'\n'));
    Settings::shared().setTypewriterScrollingEnabled(true);
    view->updateTextContainerInset();
    QScrollBar* bar = view->verticalScrollBar();
    const auto bottom = [&] { return view->cursorRect().bottom(); };

    // The first letter typed into a document that just opened moves nothing.
    type(QStringLiteral("A"));
    EXPECT_EQ(bar->value(), 0);

    // A line a third of the way down the view stays there: while typing,
    // after a line break, and after undo.
    view->setSelectedRange(Range(text().indexOf(QStringLiteral("Line 120")), 0));
    bar->setValue(bar->value() + view->cursorRect().top() - view->viewport()->height() / 3);
    const int height = bottom();
    ASSERT_NEAR(height, view->viewport()->height() / 3 + view->cursorRect().height(), 2);
    const int scrolled = bar->value();
    type(QStringLiteral("x"));
    EXPECT_EQ(bottom(), height);
    EXPECT_EQ(bar->value(), scrolled);
    key(Qt::Key_Return);
    type(QStringLiteral("new"));
    EXPECT_EQ(bottom(), height);
    EXPECT_GT(bar->value(), scrolled);

    // Moving the caret never scrolls while it stays in sight.
    const int before = bar->value();
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(bar->value(), before);
    const int moved = bottom();
    EXPECT_GT(moved, height);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text().indexOf(QStringLiteral("xnew")), -1);
    EXPECT_NEAR(bottom(), moved, 1);

    // A caret scrolled out of sight comes back at the edge it left by.
    view->setSelectedRange(Range(text().indexOf(QStringLiteral("Line 150")), 0));
    bar->setValue(0);
    type(QStringLiteral("y"));
    EXPECT_GT(view->cursorRect().top(), 0);
    EXPECT_LE(bottom(), view->viewport()->height());
    EXPECT_GE(bottom(), view->viewport()->height() - 2 * view->cursorRect().height());

    // At the end, where most writing happens, new lines push the text up,
    // and never further than the room below the text allows.
    view->setSelectedRange(Range(text().size(), 0));
    type(QStringLiteral("z"));
    const int last = bottom();
    for (int i = 0; i < 5; ++i) key(Qt::Key_Return);
    EXPECT_EQ(bottom(), last);
    EXPECT_LE(bar->value(), bar->maximum());
    for (int i = 0; i < 40; ++i) key(Qt::Key_Return);
    EXPECT_LE(bar->value(), bar->maximum());
    EXPECT_GE(bottom(), 0);

    // Near the start of the text the offset stops at 0.
    view->setSelectedRange(Range(text().indexOf(u'\n') + 1, 0));
    bar->setValue(0);
    key(Qt::Key_Backspace);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(TextViewTest, TextOptionsArePersistedUnderTheirKeys)
{
    for (const auto& option : TextView::persistedTextOptions())
        Settings::shared().userDefaults()->remove(QLatin1String(option.key));
    view = std::make_unique<TextView>();
    view->show();
    // A first launch: spelling while typing, automatic correction, text
    // replacement and smart insert and delete on, the rest off.
    const std::pair<const char*, bool> firstLaunch[] = {
        {"automaticDashSubstitutionEnabled", false},  {"automaticDataDetectionEnabled", false},
        {"automaticLinkDetectionEnabled", false},     {"automaticQuoteSubstitutionEnabled", false},
        {"automaticSpellingCorrectionEnabled", true}, {"automaticTextReplacementEnabled", true},
        {"continuousSpellCheckingEnabled", true},     {"grammarCheckingEnabled", false},
        {"smartInsertDeleteEnabled", true},
    };
    for (const auto& [key, on] : firstLaunch) EXPECT_EQ(view->textOption(QLatin1String(key)), on) << key;
    view->setTextOption(QStringLiteral("automaticQuoteSubstitutionEnabled"), true);
    EXPECT_EQ(Settings::shared().userDefaults()->object(QStringLiteral("automaticQuoteSubstitutionEnabled")), QVariant(true));
    TextView other;
    other.show();
    EXPECT_TRUE(other.textOption(QStringLiteral("automaticQuoteSubstitutionEnabled")));
    Settings::shared().userDefaults()->remove(QStringLiteral("automaticQuoteSubstitutionEnabled"));
}

TEST_F(TextViewTest, RandomEditingKeepsMirrorAndUndoExact)
{
    // Keys of every kind in random order: afterwards the mirror equals the
    // storage (checked on tear-down) and undoing everything gives back the
    // original text.
    const QString original = QStringLiteral("# Notes\r\n\n- one\n- two\n\n> quoted *text* here\n\nplain words");
    open(original);
    QApplication::clipboard()->setText(QStringLiteral("pasted\nlines"));
    std::mt19937 random(11);
    const QList<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys{
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Backspace, Qt::NoModifier}, {Qt::Key_Delete, Qt::NoModifier},
        {Qt::Key_Left, Qt::NoModifier},   {Qt::Key_Right, Qt::ShiftModifier}, {Qt::Key_Up, Qt::NoModifier},
        {Qt::Key_Down, Qt::NoModifier},   {Qt::Key_V, Qt::ControlModifier},   {Qt::Key_Z, Qt::ControlModifier},
        {Qt::Key_Backspace, Qt::ControlModifier}, {Qt::Key_Tab, Qt::NoModifier}};
    for (int i = 0; i < 300; ++i) {
        const int pick = std::uniform_int_distribution<int>(0, int(keys.size()) + 3)(random);
        if (pick >= keys.size()) type(QString(QChar(u"a #*-"[pick - keys.size()])));
        else key(keys[pick].first, keys[pick].second);
        ASSERT_EQ(view->mirror().document()->characterCount(), storage->length() + 1) << "key " << i;
    }
    while (undo.canUndo()) view->undo();
    EXPECT_EQ(text(), original);
}

TEST_F(TextViewTest, TypingNearTheStartOfALongTextLeavesTheRestWhereItIs)
{
    // The edit, the restyle, focus highlighting and list continuation read
    // only around the caret: typing near the start of a long text moves a
    // few characters per key, not the text after the caret.
    QString long_;
    while (long_.size() < 400'000) long_ += QStringLiteral("A sentence of *words*. Another one with a [link](url).\n\n- item\n");
    open(long_);
    const qsizetype item = long_.indexOf(QStringLiteral("- item")) + 6;
    Settings::shared().setHighlighting(Settings::Highlighting::sentence);
    view->updateHighlightAttributes();
    view->setSelectedRange(Range(10, 0));
    type(QStringLiteral("x"));
    const std::uint64_t before = storage->charactersMoved();
    type(QStringLiteral("some **bold** words [a](b) "));
    view->setSelectedRange(Range(item + 28, 0));
    key(Qt::Key_Return);
    type(QStringLiteral("next"));
    for (int i = 0; i < 5; ++i) key(Qt::Key_Backspace);
    EXPECT_LT(storage->charactersMoved() - before, 40u * 1000u);
    EXPECT_TRUE(text().startsWith(QStringLiteral("A sentencexsome **bold** words [a](b)  of")));
    EXPECT_TRUE(text().mid(item + 28).startsWith(QStringLiteral("\n-\nA sentence")));
}

TEST_F(TextViewTest, TranslucentColoursStayTranslucentWithoutHighlighting)
{
    // The stylesheet's link address colour is translucent; the refresh of
    // the highlight colours (after a read, a theme change) leaves it so
    // while highlighting is off, and the editor draws it so.
    open(QStringLiteral("A [link](https://example.org) here."));
    const qsizetype url = text().indexOf(QStringLiteral("https"));
    const Color* stored = storage->attribute(AttributeKey::ForegroundColor, url).color();
    ASSERT_TRUE(stored);
    const double alpha = stored->a;
    ASSERT_LT(alpha, 1.0);
    view->updateHighlightAttributes();
    EXPECT_DOUBLE_EQ(storage->attribute(AttributeKey::ForegroundColor, url).color()->a, alpha);
    const QTextBlock block = view->document()->begin();
    int drawn = -1;
    for (const QTextLayout::FormatRange& f : view->mirror().charFormats(block))
        if (f.start <= url && url < f.start + f.length) drawn = f.format.foreground().color().alpha();
    EXPECT_EQ(drawn, qRound(alpha * 255));

    // With highlighting on, the dimming is painted: colours are drawn opaque.
    Settings::shared().setHighlighting(Settings::Highlighting::sentence);
    view->updateHighlightAttributes();
    for (const QTextLayout::FormatRange& f : view->mirror().charFormats(block))
        if (f.start <= url && url < f.start + f.length) drawn = f.format.foreground().color().alpha();
    EXPECT_EQ(drawn, 255);
}

TEST_F(TextViewTest, QtsKeyBindingsGoThroughTheGateOrAreOff)
{
    // Each of Qt's editing keys on Linux desktops, whatever scheme the
    // desktop reports: what it does to "alpha beta gamma" with "beta"
    // selected (or the caret before it), and that it is one undo step.
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool select;
        const char* after; // nullptr: unchanged
    };
    const Case cases[] = {
        {Qt::Key_K, Qt::ControlModifier, false, nullptr},        // "delete to the end of the line": off (Add Link's key)
        {Qt::Key_U, Qt::ControlModifier, false, nullptr},        // "delete the line": off
        {Qt::Key_Insert, Qt::NoModifier, false, nullptr},        // overwrite mode: off
        {Qt::Key_Direction_R, Qt::NoModifier, false, nullptr},   // paragraph direction: off
        {Qt::Key_Backspace, Qt::ControlModifier, false, "beta gamma"},
        {Qt::Key_Delete, Qt::ControlModifier, false, "alpha gamma"},
        {Qt::Key_D, Qt::ControlModifier, false, "alpha eta gamma"},
        {Qt::Key_Delete, Qt::NoModifier, false, "alpha eta gamma"},
        {Qt::Key_Backspace, Qt::ShiftModifier, false, "alphabeta gamma"},
        {Qt::Key_Delete, Qt::ShiftModifier, true, "alpha  gamma"},  // cut
        {Qt::Key_F20, Qt::NoModifier, true, "alpha  gamma"},        // the Cut key
        {Qt::Key_Insert, Qt::ShiftModifier, true, "alpha pasted gamma"},
        {Qt::Key_F18, Qt::NoModifier, true, "alpha pasted gamma"},  // the Paste key
        {Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier, true, "alpha pasted gamma"},
    };
    for (const Case& c : cases) {
        open(QStringLiteral("alpha beta gamma"));
        undo.removeAll();
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        view->setSelectedRange(c.select ? Range(6, 4) : Range(6, 0));
        key(c.key, c.modifiers);
        const QString expected = c.after ? QString::fromLatin1(c.after) : QStringLiteral("alpha beta gamma");
        EXPECT_EQ(text(), expected) << c.key << " " << c.modifiers.toInt();
        EXPECT_EQ(undo.count(), c.after ? 1 : 0) << c.key;
        if (c.after) {
            key(Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(text(), QStringLiteral("alpha beta gamma")) << c.key;
        }
        // Typing after Insert inserts: there is no overwrite mode.
        if (c.key == Qt::Key_Insert && c.modifiers == Qt::NoModifier) {
            type(QStringLiteral("X"));
            EXPECT_EQ(text(), QStringLiteral("alpha Xbeta gamma"));
        }
    }

    // Copy keys copy; the Undo key undoes.
    open(QStringLiteral("alpha beta gamma"));
    for (auto [k, m] : {std::pair{Qt::Key_Insert, Qt::KeyboardModifiers(Qt::ControlModifier)},
                        std::pair{Qt::Key_F16, Qt::KeyboardModifiers(Qt::NoModifier)}}) {
        QApplication::clipboard()->clear();
        view->setSelectedRange(Range(0, 5));
        key(k, m);
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("alpha"));
    }
    view->setSelectedRange(Range(16, 0));
    type(QStringLiteral("!"));
    key(Qt::Key_F14);
    EXPECT_EQ(text(), QStringLiteral("alpha beta gamma"));

    // In no-editing mode the deleting keys are refused, whichever they are.
    Settings::shared().setNoEditingEnabled(true);
    for (auto [k, m] : {std::pair{Qt::Key_Delete, Qt::KeyboardModifiers(Qt::ShiftModifier)},
                        std::pair{Qt::Key_D, Qt::KeyboardModifiers(Qt::ControlModifier)},
                        std::pair{Qt::Key_Delete, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
        view->setSelectedRange(Range(6, 4));
        key(k, m);
        EXPECT_EQ(text(), QStringLiteral("alpha beta gamma")) << k;
    }
}

TEST_F(TextViewTest, ReturnAndPasteKeepTheDocumentsLineEndings)
{
    // Return types the line break the file uses.
    open(QStringLiteral("one\r\ntwo\r\nthree"));
    view->setSelectedRange(Range(3, 0));
    key(Qt::Key_Return);
    type(QStringLiteral("x"));
    EXPECT_EQ(text(), QStringLiteral("one\r\nx\r\ntwo\r\nthree"));
    key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("one\r\nx\r\n\r\ntwo\r\nthree"));
    key(Qt::Key_Backspace); // the whole break
    EXPECT_EQ(text(), QStringLiteral("one\r\nx\r\ntwo\r\nthree"));

    // A pasted or dropped text is given them, whatever it came with.
    QApplication::clipboard()->setText(QStringLiteral("p\nq\r\nr\rs"));
    view->setSelectedRange(Range(text().size(), 0));
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one\r\nx\r\ntwo\r\nthreep\r\nq\r\nr\r\ns"));
    view->dropText(QStringLiteral("d1\nd2"), 0, false);
    EXPECT_TRUE(text().startsWith(QStringLiteral("d1\r\nd2one\r\n")));
    // Undo takes each back whole.
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one\r\nx\r\ntwo\r\nthree"));

    // Lists continue with the same break.
    open(QStringLiteral("- one\r\n- two"));
    view->setSelectedRange(Range(text().size(), 0));
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("- one\r\n- two\r\n- "));
    key(Qt::Key_Return); // an empty item ends the list
    EXPECT_EQ(text(), QStringLiteral("- one\r\n- two\r\n\r\n"));

    // The break most lines use wins; a text without any takes "\n".
    open(QStringLiteral("a\r\nb\r\nc\nd"));
    EXPECT_EQ(view->lineEnding(), QStringLiteral("\r\n"));
    open(QStringLiteral("a\rb\rc"));
    view->setSelectedRange(Range(1, 0));
    key(Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("a\r\rb\rc"));
    open(QStringLiteral("a\nb\r\nc"));
    EXPECT_EQ(view->lineEnding(), QStringLiteral("\n"));
    open(QStringLiteral("single line"));
    QApplication::clipboard()->setText(QStringLiteral("x\r\ny"));
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("x\nysingle line"));

    // A change made elsewhere (another window, a reload) counts again.
    open(QStringLiteral("a\nb"));
    EXPECT_EQ(view->lineEnding(), QStringLiteral("\n"));
    storage->replaceCharacters(Range(0, storage->length()), QStringLiteral("a\r\nb\r\nc"));
    EXPECT_EQ(view->lineEnding(), QStringLiteral("\r\n"));
}

// A view closed while its document stays open (another window still shows
// it) stops watching the text: later edits never reach the closed view.
TEST(TextViewLifetime, AStorageThatOutlivesItsViewCanStillBeEdited)
{
    TextStorage storage(QStringLiteral("one\r\ntwo"), Settings::shared().parsedStylesheet()->base);
    {
        TextView view;
        view.setTextStorage(&storage, nullptr);
        EXPECT_EQ(view.lineEnding(), QStringLiteral("\r\n"));
    }
    storage.replaceCharacters(Range(0, 0), QStringLiteral("x"));
    EXPECT_EQ(storage.string(), QStringLiteral("xone\r\ntwo"));
}
