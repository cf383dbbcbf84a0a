// The editor's commands in a real document window: each through its menu
// item and its key, undone in one step, validated in no-editing mode and
// with Markdown off, and again when a stale item or key fires.
#include "ShellTestSupport.h"

#include "multimarkdown_binding/MultiMarkdownSupport.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/application/CommandTable.h"
#include "platform/application/Menu.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QClipboard>
#include <QMimeData>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextFragment>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// One open document window with the main menu; the preferences the
// commands read are put back afterwards.
class EditorCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings& s = Settings::shared();
        savedNoEditing = s.isNoEditingEnabled();
        s.setNoEditingEnabled(false);
        shell = std::make_unique<Shell>();
    }

    void TearDown() override
    {
        shell.reset();
        Settings::shared().setNoEditingEnabled(savedNoEditing);
        QApplication::clipboard()->clear();
    }

    void open(const QByteArray& text)
    {
        const QString path = freshDirectory("commands") + "/draft.txt";
        writeFile(path, text);
        document = shell->open(path);
        ASSERT_TRUE(document);
        window = windowOf(document);
        ASSERT_TRUE(activate(window));
        editor = window->documentViewController()->textView();
    }

    MenuItem& item(Command action)
    {
        MenuItem* found = shell->controller->mainMenu()->topLevelMenu(MainMenu::edit).itemWithCommand(action);
        EXPECT_TRUE(found) << action;
        return *found;
    }

    bool enabled(Command action) { return ActionDispatcher::instance().validateItem(item(action)); }
    // As a click on the item does it.
    void choose(Command action) { ActionDispatcher::instance().performMenuItem(item(action)); }
    void key(Qt::Key k, Qt::KeyboardModifiers m) { QTest::keyClick(editor, k, m); }
    void undo() { key(Qt::Key_Z, Qt::ControlModifier); }

    QString text() const { return textOf(document); }
    // The text with the selection in it: "|" for a caret, "«" and "»" around
    // a selection.
    QString shown() const
    {
        QString s = text();
        const Range r = editor->selectedRange();
        if (r.isEmpty()) return s.insert(r.location, u'|');
        s.insert(r.end(), u'»');
        return s.insert(r.location, u'«');
    }
    void select(qsizetype location, qsizetype length = 0) { editor->setSelectedRange(Range(location, length)); }

    std::unique_ptr<Shell> shell;
    Document* document = nullptr;
    WindowController* window = nullptr;
    TextView* editor = nullptr;
    bool savedNoEditing = false;
};

constexpr auto ctrl = Qt::ControlModifier;
constexpr auto alt = Qt::AltModifier;
constexpr auto shift = Qt::ShiftModifier;

} // namespace

TEST_F(EditorCommandsTest, LinesMoveFromTheMenuAndTheKeysAndComeBackInOneUndo)
{
    open("alpha\nbeta\ngamma");
    select(7);
    choose(Command::moveLineUp);
    EXPECT_EQ(shown(), "b|eta\nalpha\ngamma");
    key(Qt::Key_Down, alt | ctrl);
    key(Qt::Key_Down, alt | ctrl);
    EXPECT_EQ(shown(), "alpha\ngamma\nb|eta");
    undo();
    EXPECT_EQ(shown(), "alpha\nb|eta\ngamma");
    undo();
    EXPECT_EQ(shown(), "b|eta\nalpha\ngamma");
    undo();
    EXPECT_EQ(text(), "alpha\nbeta\ngamma");

    // The first line goes no higher, and nothing lands on the undo stack.
    select(2);
    const bool couldUndo = document->undoManager().canUndo();
    key(Qt::Key_Up, alt | ctrl);
    EXPECT_EQ(shown(), "al|pha\nbeta\ngamma");
    EXPECT_EQ(document->undoManager().canUndo(), couldUndo);

    // A moved line is no typed line break: it never continues a list.
    open("- x\n- a\n\nb");
    select(8);
    key(Qt::Key_Up, alt | ctrl);
    EXPECT_EQ(text(), "- x\n\n- a\nb");
    key(Qt::Key_Up, alt | ctrl);
    EXPECT_EQ(text(), "\n- x\n- a\nb");
}

TEST_F(EditorCommandsTest, NoEditingModeDisablesTheCommandsThatTakeTextAwayEvenWhenStale)
{
    open("alpha\nbeta\n[a](u) and [b][1]\n[1]: v\n");
    select(7);
    EXPECT_TRUE(enabled(Command::moveLineUp));
    EXPECT_TRUE(enabled(Command::setLink));
    Settings::shared().setNoEditingEnabled(true);
    for (Command action : {Command::moveLineUp, Command::moveLineDown, Command::insertBacktab, Command::setLink, Command::setFootnote, Command::undo,
                               Command::cut, Command::deleteSelection})
        EXPECT_FALSE(enabled(action)) << action;
    EXPECT_TRUE(enabled(Command::setStrong));
    EXPECT_TRUE(enabled(Command::insertTab));

    // The item was enabled when its menu opened; chosen now, after no-editing
    // mode came on, it does nothing: above all, it never duplicates the line
    // by making the insertion and having the removal refused.
    const QString before = text();
    choose(Command::moveLineUp);
    key(Qt::Key_Up, alt | ctrl);
    ActionDispatcher::instance().send(Command::moveLineDown, nullptr, editor);
    EXPECT_EQ(text(), before);
    // A conversion that would renumber references is not half made either.
    select(int(before.indexOf("[a](u)")) + 1);
    choose(Command::setLink);
    key(Qt::Key_K, ctrl);
    EXPECT_EQ(text(), before);

    // Pasting works at a caret, not over a selection.
    QApplication::clipboard()->setText("new ");
    select(0);
    EXPECT_TRUE(enabled(Command::paste));
    EXPECT_TRUE(enabled(Command::pasteAsMarkdown));
    key(Qt::Key_V, alt | ctrl);
    EXPECT_EQ(text(), "new " + before);
    select(0, 3);
    EXPECT_FALSE(enabled(Command::paste));
    EXPECT_FALSE(enabled(Command::pasteAsMarkdown));
    key(Qt::Key_V, alt | ctrl);
    EXPECT_EQ(text(), "new " + before);

    // Strong at a caret only adds; over a selection it is refused whole and
    // the selection stays where it was.
    select(4, 5);
    key(Qt::Key_B, ctrl);
    EXPECT_EQ(shown(), "new «alpha»\nbeta\n[a](u) and [b][1]\n[1]: v\n");
    select(4);
    key(Qt::Key_B, ctrl);
    EXPECT_EQ(shown(), "new **|alpha\nbeta\n[a](u) and [b][1]\n[1]: v\n");
}

TEST_F(EditorCommandsTest, StrongAndEmphasisFollowTheMarkdownSwitch)
{
    open("one word here");
    select(4, 4);
    key(Qt::Key_B, ctrl);
    EXPECT_EQ(shown(), "one **«word»** here");
    choose(Command::setStrong);
    EXPECT_EQ(shown(), "one «word» here");
    key(Qt::Key_I, ctrl);
    EXPECT_EQ(shown(), "one *«word»* here");
    select(6);
    key(Qt::Key_I, ctrl); // inside the emphasis: unwrapped
    EXPECT_EQ(shown(), "one «word» here");
    undo();
    EXPECT_EQ(text(), "one *word* here");
    undo();
    EXPECT_EQ(text(), "one word here");

    document->toggleMarkdown();
    ASSERT_FALSE(document->isMarkdownEnabled());
    for (Command action : {Command::setStrong, Command::setEmphasis, Command::setLink, Command::setFootnote, Command::insertTab, Command::insertBacktab})
        EXPECT_FALSE(enabled(action)) << action;
    select(4, 4);
    key(Qt::Key_B, ctrl);
    EXPECT_EQ(text(), "one word here");
    document->toggleMarkdown();
}

TEST_F(EditorCommandsTest, LinksAndFootnotesConvertAsOneUndoableStep)
{
    const QByteArray original = "See [a][1] and [b](http://b) and [c][2].\n\n[1]: http://a\n[2]: http://c\n";
    open(original);
    select(text().indexOf("[b]") + 1);
    key(Qt::Key_K, ctrl);
    EXPECT_EQ(shown(), "See [a][1] and [b][«2»] and [c][3].\n\n[1]: http://a\n[2]: http://b\n[3]: http://c\n");
    choose(Command::setLink);
    EXPECT_EQ(shown(), "See [a][1] and «[b](http://b)» and [c][2].\n\n[1]: http://a\n[2]: http://c\n");
    undo();
    EXPECT_EQ(text(), "See [a][1] and [b][2] and [c][3].\n\n[1]: http://a\n[2]: http://b\n[3]: http://c\n");
    undo();
    EXPECT_EQ(text(), QString::fromUtf8(original));

    // A new link around a word, its address ready to be typed.
    select(0, 3);
    key(Qt::Key_K, ctrl);
    EXPECT_TRUE(shown().startsWith("[See](«https://») [a][1]")) << shown().toStdString();
    QTest::keyClicks(editor, "x.org");
    EXPECT_TRUE(text().startsWith("[See](x.org) [a][1]"));

    // Footnotes: new, to a numbered one, back.
    open("Text[^a note] more[^1].\n[^1]: first\n");
    select(7);
    key(Qt::Key_K, alt | ctrl);
    EXPECT_EQ(shown(), "Text[^«1»] more[^2].\n[^1]: a note\n[^2]: first\n");
    choose(Command::setFootnote);
    EXPECT_EQ(shown(), "Text«[^a note]» more[^1].\n[^1]: first\n");
    undo();
    undo();
    EXPECT_EQ(text(), "Text[^a note] more[^1].\n[^1]: first\n");
}

// The window's Link reads the text as every output does: a note's second
// paragraph is the note's text and is renumbered, code in a list item is
// not.
TEST_F(EditorCommandsTest, LinkRenumbersWhatTheOutputsReadAsLinks)
{
    open("See [the site](http://u.example) and a note[^n].\n\n[^n]: The note.\n\n"
         "    Its second paragraph cites [the paper][1].\n\n- item\n\n        [y][1] code\n\n"
         "[1]: http://paper.example\n");
    select(text().indexOf("the site") + 1);
    key(Qt::Key_K, ctrl);
    EXPECT_EQ(shown(), "See [the site][«1»] and a note[^n].\n\n[^n]: The note.\n\n"
                       "    Its second paragraph cites [the paper][2].\n\n- item\n\n        [y][1] code\n\n"
                       "[1]: http://u.example\n[2]: http://paper.example\n");
}

TEST_F(EditorCommandsTest, SentenceAndParagraphKeysMoveAndSelect)
{
    open("First one. Second one. Third.\nNext paragraph here.\nLast.");
    select(14);
    key(Qt::Key_Right, alt | ctrl);
    EXPECT_EQ(editor->selectedRange(), Range(22, 0));
    // Back: to just after the sentence before the caret's.
    key(Qt::Key_Left, alt | ctrl);
    EXPECT_EQ(editor->selectedRange(), Range(10, 0));
    key(Qt::Key_Left, alt | ctrl);
    EXPECT_EQ(editor->selectedRange(), Range(0, 0));
    select(14);
    key(Qt::Key_Down, alt);
    EXPECT_EQ(editor->selectedRange(), Range(29, 0));
    key(Qt::Key_Down, alt);
    EXPECT_EQ(editor->selectedRange(), Range(50, 0));
    key(Qt::Key_Up, alt);
    EXPECT_EQ(editor->selectedRange(), Range(30, 0));

    // Selecting keeps the far end and goes on extending.
    select(35);
    key(Qt::Key_Down, alt | shift);
    EXPECT_EQ(editor->selectedRange(), Range(35, 15));
    choose(Command::selectUntilNextParagraph);
    EXPECT_EQ(editor->selectedRange(), Range(35, 21));
    select(35);
    key(Qt::Key_Up, alt | shift);
    EXPECT_EQ(editor->selectedRange(), Range(30, 5));
    key(Qt::Key_Left, alt | shift | ctrl);
    EXPECT_EQ(editor->selectedRange(), Range(29, 6));
}

TEST_F(EditorCommandsTest, TheEditItemsChangeTheTextWhateverTheOrderOfTheirBindings)
{
    // The same table with each edit command's bindings the other way round:
    // who carries a command out must not hang on the order of its rows.
    auto& dispatcher = ActionDispatcher::instance();
    const CommandTable* table = dispatcher.commandTable();
    ASSERT_TRUE(table);
    CommandTable reversed = *table;
    for (Command command : {Command::undo, Command::redo, Command::cut, Command::copy, Command::paste,
                            Command::deleteSelection, Command::selectAll}) {
        CommandRow row = table->row(command);
        ASSERT_GT(row.bindings.size(), 1u) << command;
        std::reverse(row.bindings.begin(), row.bindings.end());
        reversed.add(command, row.name) = row;
    }
    struct Restore {
        const CommandTable* table;
        ~Restore() { ActionDispatcher::instance().setCommandTable(table); }
    } restore{table};

    for (const CommandTable* used : {table, static_cast<const CommandTable*>(&reversed)}) {
        SCOPED_TRACE(used == table ? "as built" : "reversed");
        dispatcher.setCommandTable(used);
        open("one two three");
        editor->setTextOption("smartInsertDeleteEnabled", true);
        select(4, 3);
        // Smart cut and paste take and give the spaces.
        choose(Command::cut);
        EXPECT_EQ(shown(), "one |three");
        EXPECT_EQ(QApplication::clipboard()->text(), "two");
        select(0, 3);
        choose(Command::copy);
        EXPECT_EQ(QApplication::clipboard()->text(), "one");
        EXPECT_EQ(shown(), "«one» three");
        select(4);
        choose(Command::paste);
        EXPECT_EQ(shown(), "one one |three");
        select(0, 4);
        choose(Command::deleteSelection);
        EXPECT_EQ(shown(), "|one three");
        choose(Command::undo);
        EXPECT_EQ(text(), "one one three");
        choose(Command::redo);
        EXPECT_EQ(text(), "one three");
        choose(Command::selectAll);
        EXPECT_EQ(shown(), "«one three»");
        // Each change went through the editor: one undo each, back to the start.
        for (int i = 0; i < 3; ++i) choose(Command::undo);
        EXPECT_EQ(text(), "one two three");
        EXPECT_FALSE(document->undoManager().canUndo());
    }
}

TEST_F(EditorCommandsTest, CopyAsHtmlPastesAsFormattedTextAndKeepsASelectionAParagraph)
{
    open("Note: call me\nSome **bold** words.\n");
    select(0);
    EXPECT_FALSE(enabled(Command::copyAsHTML));
    select(0, text().size());
    EXPECT_TRUE(enabled(Command::copyAsHTML));
    key(Qt::Key_C, alt | ctrl);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(data && data->hasHtml());
    EXPECT_EQ(data->text(), text());
    // The first line is a sentence, not metadata: never an empty document.
    EXPECT_TRUE(data->html().contains("Note: call me")) << data->html().toStdString();
    EXPECT_FALSE(data->html().contains("<html")) << data->html().toStdString();

    // A rich text editor takes it as formatted text.
    QTextEdit rich;
    rich.paste();
    EXPECT_TRUE(rich.toPlainText().contains("Note: call me"));
    bool boldSeen = false;
    for (QTextBlock b = rich.document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().text() == "bold") boldSeen = it.fragment().charFormat().fontWeight() >= QFont::Bold;
    EXPECT_TRUE(boldSeen);
}

TEST_F(EditorCommandsTest, PasteAsMarkdownConvertsRichTextAndLeavesPlainTextAlone)
{
    open("Start: ");
    auto* rich = new QMimeData;
    rich->setHtml("<meta charset='utf-8'><p>A <b>bold <i>nested</i></b> and <code>x*y</code> with "
                  "<a href=\"https://e.org\">a link</a>&nbsp;here.</p><table><tr><td>cell</td></tr></table>");
    rich->setText("plain fallback");
    QApplication::clipboard()->setMimeData(rich);
    select(7);
    key(Qt::Key_V, alt | ctrl);
    EXPECT_EQ(text(), "Start: A **bold *nested*** and `x*y` with a link here.\ncell");
    undo();
    EXPECT_EQ(text(), "Start: ");

    QApplication::clipboard()->setText("2 * 3 and *not* styled\n- item");
    choose(Command::pasteAsMarkdown);
    EXPECT_EQ(text(), "Start: 2 * 3 and *not* styled\n- item");
    undo();

    // Nothing it can read: the item is disabled and the key does nothing.
    auto* other = new QMimeData;
    other->setData("application/x-other", "data");
    QApplication::clipboard()->setMimeData(other);
    EXPECT_FALSE(enabled(Command::pasteAsMarkdown));
    key(Qt::Key_V, alt | ctrl);
    EXPECT_EQ(text(), "Start: ");
}

// What the commands write is what gets published: each command's Markdown,
// converted as the preview, export, Copy as HTML and printing convert it,
// gives the HTML the writer meant.
TEST_F(EditorCommandsTest, EveryCommandsMarkdownConvertsAsTheWriterMeant)
{
    open("Read the manual now and rest");
    const auto html = [this] { return htmlOf(text()); };

    // Link, then its numbered form: the definition right under the text.
    select(text().indexOf("manual"), 6);
    key(Qt::Key_K, ctrl);
    QTest::keyClicks(editor, "http://m.org");
    key(Qt::Key_K, ctrl);
    EXPECT_EQ(text(), "Read the [manual][1] now and rest\n[1]: http://m.org\n");
    EXPECT_TRUE(html().contains("<p>Read the <a href=\"http://m.org\">manual</a> now and rest</p>")) << html().toStdString();

    // A footnote, then its numbered form.
    select(text().indexOf("now"), 3);
    key(Qt::Key_K, alt | ctrl);
    select(text().indexOf("now"));
    choose(Command::setFootnote);
    EXPECT_EQ(text(), "Read the [manual][1] [^1] and rest\n[1]: http://m.org\n[^1]: now\n");
    EXPECT_TRUE(html().contains("<a href=\"#fn:1\" id=\"fnref:1\"")) << html().toStdString();
    EXPECT_TRUE(html().contains("<p>now <a href=\"#fnref:1\"")) << html().toStdString();
    EXPECT_FALSE(html().contains("[1]") || html().contains("[^1]")) << html().toStdString();

    // A word taken with the space after it (Ctrl+Shift+Right): the markers
    // go around the word.
    select(0);
    key(Qt::Key_Right, ctrl | shift);
    ASSERT_EQ(editor->selectedRange(), Range(0, 5));
    key(Qt::Key_B, ctrl);
    EXPECT_TRUE(text().startsWith("**Read** the")) << text().toStdString();
    select(text().indexOf("the"));
    key(Qt::Key_Right, ctrl | shift);
    key(Qt::Key_I, ctrl);
    EXPECT_TRUE(text().startsWith("**Read** *the* [manual]")) << text().toStdString();
    EXPECT_TRUE(html().contains("<p><strong>Read</strong> <em>the</em> <a href=\"http://m.org\">manual</a>"))
        << html().toStdString();

    // Paste as Markdown: lists and struck text as they were copied.
    select(text().size());
    auto* rich = new QMimeData;
    rich->setHtml("<ul><li>one</li><li>two<ol><li>sub</li></ol></li></ul><p><strike>old</strike> new</p>");
    QApplication::clipboard()->setMimeData(rich);
    key(Qt::Key_V, alt | ctrl);
    EXPECT_TRUE(text().endsWith("[^1]: now\n- one\n- two\n    1. sub\n\n~~old~~ new")) << text().toStdString();
    EXPECT_TRUE(html().contains("<ul>\n<li>one</li>\n<li>two\n<ol>\n<li>sub</li>\n</ol>\n</li>\n</ul>"))
        << html().toStdString();
    EXPECT_TRUE(html().contains("<p><del>old</del> new</p>")) << html().toStdString();
}

// Pasted lists that follow one another convert as so many lists, on every
// level, each keeping its items.
TEST_F(EditorCommandsTest, PastedListsOneAfterAnotherConvertAsSoManyLists)
{
    open("Lists:\n\n");
    select(text().size());
    auto* rich = new QMimeData;
    rich->setHtml("<ol><li>a</li></ol><ol><li>b<ul><li>x</li></ul><ul><li>y</li></ul><ol><li>z</li></ol></li></ol>"
                  "<ul><li>c</li></ul><ul><li>d</li></ul><p>After</p>");
    QApplication::clipboard()->setMimeData(rich);
    key(Qt::Key_V, alt | ctrl);
    EXPECT_EQ(text(), "Lists:\n\n1. a\n\n<!-- -->\n\n1. b\n    - x\n    <!-- -->\n    - y\n    1. z\n\n"
                      "- c\n\n<!-- -->\n\n- d\n\nAfter");
    // What a reader sees: the comments show nothing.
    const QString html = htmlOf(text());
    EXPECT_EQ(QString(html).remove("<!-- -->").remove(u' ').remove(u'\n'),
              "<p>Lists:</p><ol><li>a</li></ol><ol><li>b<ul><li>x</li></ul><ul><li>y</li></ul><ol><li>z</li></ol></li>"
              "</ol><ul><li>c</li></ul><ul><li>d</li></ul><p>After</p>")
        << html.toStdString();
}

// Link and Footnote put their definitions right under whatever block ends
// the text (after a blank line only under raw HTML); the conversion reads
// them as definitions there, and the block keeps what it held.
TEST_F(EditorCommandsTest, DefinitionsUnderEveryKindOfLastBlockConvert)
{
    struct Ending {
        const char* block;
        const char* html; // what the block converts to
    };
    const Ending endings[] = {
        {"Last words.", "<p>Last words.</p>"},
        {"# Heading", "Heading</h1>"},
        {"- one\n- two", "<li>one</li>\n<li>two</li>\n</ul>"},
        {"1. one\n2. two", "<li>one</li>\n<li>two</li>\n</ol>"},
        {"> quoted", "<blockquote>\n<p>quoted</p>\n</blockquote>"},
        {"Term\n:   Defined", "<dt>Term</dt>\n<dd>Defined</dd>\n</dl>"},
        {"<div>raw</div>", "<div>raw</div>"},
        {"| a | b |\n|---|---|\n| c | d |", "<td>d</td>\n</tr>\n</tbody>\n</table>"},
        {"```\ncode\n```", "<pre><code>code\n</code></pre>"},
        {"    code", "<pre><code>code\n</code></pre>"},
    };
    for (const Ending& ending : endings) {
        const QString block = QString::fromUtf8(ending.block);
        open("See [the manual](http://m.org) and a note.\n\n" + QByteArray(ending.block));
        select(text().indexOf("manual"));
        key(Qt::Key_K, ctrl);
        select(text().indexOf("note"), 4);
        key(Qt::Key_K, alt | ctrl);
        select(text().indexOf("note"));
        key(Qt::Key_K, alt | ctrl);
        const QString under = block.startsWith(u'<') ? "\n\n" : "\n";
        EXPECT_EQ(text(), "See [the manual][1] and a [^1].\n\n" + block + under + "[1]: http://m.org\n[^1]: note\n");
        const QString html = htmlOf(text());
        for (const char* fragment : {"<a href=\"http://m.org\">the manual</a>", "<a href=\"#fn:1\" id=\"fnref:1\"",
                                     "<p>note <a href=\"#fnref:1\"", ending.html})
            EXPECT_TRUE(html.contains(QString::fromUtf8(fragment))) << ending.block << "\n" << html.toStdString();
        EXPECT_FALSE(html.contains("[1]") || html.contains("[^1]")) << ending.block << "\n" << html.toStdString();
    }
}

// A file with Windows line endings keeps them through every command.
TEST_F(EditorCommandsTest, CommandsWriteTheDocumentsOwnLineBreaks)
{
    open("Intro [a](http://a) text\r\nMore here\r\n");
    select(text().indexOf("[a]") + 1);
    key(Qt::Key_K, ctrl);
    EXPECT_EQ(text(), "Intro [a][1] text\r\nMore here\r\n[1]: http://a\r\n");
    select(text().indexOf("here"), 4);
    key(Qt::Key_K, alt | ctrl);
    key(Qt::Key_K, alt | ctrl);
    EXPECT_EQ(text(), "Intro [a][1] text\r\nMore [^1]\r\n[1]: http://a\r\n[^1]: here\r\n");

    select(text().size());
    auto* rich = new QMimeData;
    rich->setHtml("<p><b>bold</b></p><ul><li>one</li><li>two</li></ul>");
    QApplication::clipboard()->setMimeData(rich);
    key(Qt::Key_V, alt | ctrl);
    EXPECT_TRUE(text().endsWith("[^1]: here\r\n**bold**\r\n\r\n- one\r\n- two")) << text().toStdString();
    EXPECT_EQ(text().count(u'\n'), text().count(QStringLiteral("\r\n"))) << text().toStdString();
    QApplication::clipboard()->setText("plain\nlines\n");
    key(Qt::Key_V, alt | ctrl);
    EXPECT_TRUE(text().endsWith("- two" "plain\r\nlines\r\n")) << text().toStdString();
    EXPECT_EQ(text().count(u'\n'), text().count(QStringLiteral("\r\n")));
    const QString html = htmlOf(text());
    EXPECT_TRUE(html.contains("<a href=\"http://a\">a</a>")) << html.toStdString();
    EXPECT_TRUE(html.contains("More <a href=\"#fn:1\"")) << html.toStdString();
}
