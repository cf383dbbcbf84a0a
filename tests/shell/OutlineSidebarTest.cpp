// The outline pane of a document window: the heading tree as the writer
// types, its placeholder and title, expansion kept through reloads, choosing
// a heading, and its colours.
#include "ShellTestSupport.h"

#include "document/OutlineModel.h"
#include "document/OutlineViewController.h"
#include "markdown/Outline.h"
#include "platform/text/EditorLayout.h"
#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTreeView>

#include <functional>
#include <random>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

class OutlineSidebarTest : public ::testing::Test {
protected:
    void SetUp() override { shell = std::make_unique<Shell>(); }
    void TearDown() override { shell.reset(); }

    void open(const QByteArray& text, const QString& name = "notes.txt")
    {
        const QString path = freshDirectory("outline") + "/" + name;
        writeFile(path, text);
        document = shell->open(path);
        ASSERT_TRUE(document);
        window = windowOf(document);
        window->window()->resize(1000, 600);
        ASSERT_TRUE(activate(window));
        window->setOutlineVisible(true);
        ASSERT_TRUE(window->outlineViewController());
        pane = &window->outlinePane();
        editor = window->documentViewController()->textView();
        tree = pane->outlineView();
        settle();
    }

    // The rows as the tree shows them: each title indented two spaces per
    // depth, "+" before a collapsed row with children; hidden rows left out.
    QStringList rows(const QModelIndex& parent = {}, int depth = 0) const
    {
        QStringList lines;
        QAbstractItemModel* model = tree->model();
        for (int i = 0; i < model->rowCount(parent); ++i) {
            const QModelIndex index = model->index(i, 0, parent);
            const bool collapsed = model->rowCount(index) > 0 && !tree->isExpanded(index);
            lines << QString(depth * 2, u' ') + (collapsed ? "+" : "") + index.data().toString();
            if (!collapsed) lines << rows(index, depth + 1);
        }
        return lines;
    }

    QModelIndex rowOf(const QString& title, const QModelIndex& parent = {}) const
    {
        QAbstractItemModel* model = tree->model();
        for (int i = 0; i < model->rowCount(parent); ++i) {
            const QModelIndex index = model->index(i, 0, parent);
            if (index.data().toString() == title) return index;
            if (const QModelIndex found = rowOf(title, index); found.isValid()) return found;
        }
        return {};
    }

    void click(const QModelIndex& index)
    {
        tree->scrollTo(index);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
    }

    // Typing as the writer types: at a place, through the editor; then the
    // rows follow.
    void typeAt(qsizetype location, const QString& text)
    {
        editor->setSelectedRange(Range(location, 0));
        const QStringList lines = text.split(u'\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0) QTest::keyClick(editor, Qt::Key_Return);
            QTest::keyClicks(editor, lines[i]);
        }
        settle();
    }

    // The rows follow the edits once the event loop turns (after the key is
    // painted).
    void settle()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !pane->hasPendingEdits(); }, test::patience));
    }

    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(editor, k, modifiers);
        settle();
    }

    QString text() const { return textOf(document); }

    std::unique_ptr<Shell> shell;
    Document* document = nullptr;
    WindowController* window = nullptr;
    OutlineViewController* pane = nullptr;
    TextView* editor = nullptr;
    QTreeView* tree = nullptr;
};

} // namespace

TEST_F(OutlineSidebarTest, ShowsTheFileNameAndAPlaceholderUntilAHeadingIsTyped)
{
    open("Just prose.\n");
    EXPECT_EQ(pane->titleLabel()->text(), "notes.txt");
    EXPECT_TRUE(pane->emptyView()->isVisible());
    EXPECT_FALSE(tree->isVisible());
    EXPECT_TRUE(rows().isEmpty());
    if (const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR"); !dir.isEmpty())
        pane->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath("outline-empty.png"));

    typeAt(0, "# Start\n");
    EXPECT_FALSE(pane->emptyView()->isVisible());
    EXPECT_TRUE(tree->isVisible());
    EXPECT_EQ(rows(), QStringList{"# Start"});
    // Every row is 24 points high.
    EXPECT_EQ(tree->visualRect(rowOf("# Start")).height(), 24);

    // Deleting the heading's marks brings the placeholder back.
    editor->setSelectedRange(Range(0, 2));
    key(Qt::Key_Delete);
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(pane->emptyView()->isVisible());

    // An untitled document has no file name to show.
    QTest::keyClick(editor, Qt::Key_N, Qt::ControlModifier);
    Document* untitled = qobject_cast<Document*>(shell->controller->documents().back());
    WindowController* other = windowOf(untitled);
    ASSERT_TRUE(untitled && untitled->isUntitled() && other);
    other->setOutlineVisible(true);
    EXPECT_EQ(other->outlinePane().titleLabel()->text(), "");
}

TEST_F(OutlineSidebarTest, HeadingsNestByLevelAndFollowAddedRemovedAndRelevelledHeadings)
{
    open("# One\n## Two\n## Three\n# Four\n### Five\nBody\n");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two", "  ## Three", "# Four", "  ### Five"}));

    // A heading in the middle.
    typeAt(text().indexOf("# Four"), "## Added\n");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two", "  ## Three", "  ## Added", "# Four", "  ### Five"}));
    // Re-levelled: "## Two" becomes a top-level heading and takes "## Three"
    // and "## Added" under it.
    editor->setSelectedRange(Range(text().indexOf("## Two"), 1));
    key(Qt::Key_Delete);
    EXPECT_EQ(rows(), (QStringList{"# One", "# Two", "  ## Three", "  ## Added", "# Four", "  ### Five"}));
    // Removed: the line of "## Three" goes.
    const qsizetype three = text().indexOf("## Three");
    editor->setSelectedRange(Range(three, QStringLiteral("## Three\n").size()));
    key(Qt::Key_Delete);
    EXPECT_EQ(rows(), (QStringList{"# One", "# Two", "  ## Added", "# Four", "  ### Five"}));
    // And back, in one undo.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rows(), (QStringList{"# One", "# Two", "  ## Three", "  ## Added", "# Four", "  ### Five"}));
    // A heading typed under one that had none shows at once.
    typeAt(text().size(), "# New\n");
    typeAt(text().size(), "## Child");
    EXPECT_EQ(rows().mid(6), (QStringList{"# New", "  ## Child"}));
}

TEST_F(OutlineSidebarTest, TypingInAHeadingRepaintsItsRowAndRebuildsNothing)
{
    open("# One\n## Two\nBody\n# Three\n");
    const int changes = pane->rowChanges();
    const int builds = pane->treeBuilds();
    typeAt(text().indexOf("Two") + 3, " and more");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two and more", "# Three"}));
    EXPECT_EQ(pane->rowChanges(), changes);
    // A title typed into is its row's change alone: the tree of a long
    // text is not built again for each key.
    EXPECT_EQ(pane->treeBuilds(), builds);
    // Typing in the body touches no heading at all.
    typeAt(text().indexOf("Body") + 4, " text");
    EXPECT_EQ(pane->rowChanges(), changes);

    // A heading made or unmade, and a line break in a heading, change their
    // rows alone too.
    typeAt(text().indexOf("Body"), "# ");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two and more", "# Body text", "# Three"}));
    editor->setSelectedRange(Range(text().indexOf("# Body"), 1));
    key(Qt::Key_Delete);
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two and more", "# Three"}));
    typeAt(text().indexOf("Two and") + 3, "\n# Split");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two", "# Split and more", "# Three"}));
    EXPECT_EQ(pane->treeBuilds(), builds);
    // A new level builds it again.
    typeAt(text().indexOf("# Three"), "#");
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two", "# Split and more", "  ## Three"}));
    EXPECT_GT(pane->treeBuilds(), builds);
}

TEST_F(OutlineSidebarTest, HeadingsMadeAndUnmadeOneAtATimeNestAsAFreshTreeWould)
{
    // Random headings made and unmade by keys, each nested in or out of the
    // tree by itself: after every key the rows are those of a tree built
    // afresh, and the entries hold the same contents.
    QByteArray text;
    for (int i = 0; i < 40; ++i) text += (i % 3 == 0 ? QByteArray("#").repeated(1 + i % 4) + " Part " : "Line ") + QByteArray::number(i) + "\n";
    open(text);
    // The shape of a tree: titles indented by depth.
    std::function<void(const Outline&, int, QStringList&)> shape = [&](const Outline& node, int depth, QStringList& out) {
        for (const auto& child : node.contents) {
            out << QString(depth * 2, u' ') + child->title;
            shape(*child, depth + 1, out);
        }
    };
    const auto fresh = [&] {
        QStringList out;
        shape(*outlineTree(document->data().textStorage()), 0, out);
        return out;
    };
    const auto kept = [&] {
        QStringList out;
        shape(*pane->outline(), 0, out);
        return out;
    };
    std::function<QStringList(const QModelIndex&, int)> shown = [&](const QModelIndex& parent, int depth) {
        QStringList lines;
        for (int i = 0; i < tree->model()->rowCount(parent); ++i) {
            const QModelIndex index = tree->model()->index(i, 0, parent);
            lines << QString(depth * 2, u' ') + index.data().toString();
            lines << shown(index, depth + 1);
        }
        return lines;
    };
    // One heading collapsed: it stays so wherever it goes; every other
    // heading with rows under it is open.
    auto* model = static_cast<OutlineModel*>(tree->model());
    tree->collapse(rowOf("# Part 12"));
    const std::shared_ptr<Outline> collapsed = model->entry(rowOf("# Part 12"));
    ASSERT_TRUE(collapsed);
    std::function<bool(const QModelIndex&)> openAsRemembered = [&](const QModelIndex& parent) {
        for (int i = 0; i < model->rowCount(parent); ++i) {
            const QModelIndex index = model->index(i, 0, parent);
            if (model->rowCount(index) > 0 && tree->isExpanded(index) != (model->entry(index) != collapsed)) return false;
            if (!openAsRemembered(index)) return false;
        }
        return true;
    };
    const int builds = pane->treeBuilds();
    int relevelled = 0;
    std::mt19937 random(7);
    for (int step = 0; step < 150; ++step) {
        const QStringList lines = this->text().split(u'\n');
        const int line = int(random() % (lines.size() - 1));
        qsizetype at = 0;
        for (int i = 0; i < line; ++i) at += lines[i].size() + 1;
        editor->setSelectedRange(Range(at, 0));
        if (lines[line].startsWith(u'#') && !lines[line].startsWith(QStringLiteral("######")) && random() % 4 == 0) {
            // A new level: the tree is built again.
            QTest::keyClick(editor, Qt::Key_NumberSign, Qt::NoModifier);
            ++relevelled;
        } else if (lines[line].startsWith(u'#')) {
            // Unmade: the marks and their space go, key by key.
            const qsizetype marks = lines[line].indexOf(u' ') + 1;
            editor->setSelectedRange(Range(at + marks, 0));
            for (qsizetype i = 0; i < marks; ++i) QTest::keyClick(editor, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(editor, QString(int(1 + random() % 4), u'#') + u' ');
        }
        settle();
        ASSERT_EQ(kept(), fresh()) << "step " << step;
        ASSERT_EQ(shown({}, 0), fresh()) << "step " << step;
        ASSERT_TRUE(openAsRemembered({})) << "step " << step;
    }
    // Only the new levels built the tree again.
    EXPECT_EQ(pane->treeBuilds(), builds + relevelled);
    EXPECT_GT(relevelled, 5);
}

TEST_F(OutlineSidebarTest, ABurstOfKeysMakingAndUnmakingHeadingsEndsWithTheRowsOfAFreshTree)
{
    // Keys handled before the event loop turns: their heading changes are
    // replayed in order once it does, and the rows end as a fresh tree's,
    // with a collapsed heading still collapsed and the chosen row chosen.
    open("# One\n## Two\nBody\n### Three\nLine\n# Four\n## Five\nMore\nText\n");
    tree->collapse(rowOf("# Four"));
    click(rowOf("## Two"));
    settle();
    const int builds = pane->treeBuilds();
    const auto at = [&](const QString& s) { return text().indexOf(s); };
    // Made, nested, titled, unmade and made again, all in one burst.
    editor->setSelectedRange(Range(at("Body"), 0));
    QTest::keyClicks(editor, "## ");
    editor->setSelectedRange(Range(at("Line"), 0));
    QTest::keyClicks(editor, "# ");
    editor->setSelectedRange(Range(at("## Body") + 7, 0));
    QTest::keyClicks(editor, " more");
    editor->setSelectedRange(Range(at("### Three") + 4, 0));
    for (int i = 0; i < 4; ++i) QTest::keyClick(editor, Qt::Key_Backspace);
    editor->setSelectedRange(Range(at("Text"), 0));
    QTest::keyClicks(editor, "### ");
    editor->setSelectedRange(Range(at("## Body more"), 3));
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClicks(editor, "## ");
    EXPECT_TRUE(pane->hasPendingEdits());
    settle();
    EXPECT_EQ(rows(), (QStringList{"# One", "  ## Two", "  ## Body more", "# Line", "+# Four"}));
    tree->expand(rowOf("# Four"));
    EXPECT_EQ(rows().mid(5), (QStringList{"  ## Five", "    ### Text"}));
    // The entries behind the rows nest as a fresh tree's.
    std::function<QString(const Outline&)> shape = [&](const Outline& node) {
        QString out = node.title + u'(';
        for (const auto& child : node.contents) out += shape(*child);
        return out + u')';
    };
    EXPECT_EQ(shape(*pane->outline()), shape(*outlineTree(document->data().textStorage())));
    EXPECT_EQ(pane->treeBuilds(), builds); // row by row, not built again
    ASSERT_EQ(tree->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(tree->selectionModel()->selectedRows().first().data().toString(), "## Two");
}

TEST_F(OutlineSidebarTest, CollapsedHeadingsStayCollapsedThroughReloads)
{
    open("# One\n## Two\n### Deep\n## Other\n# Three\n## Under three\n");
    tree->collapse(rowOf("## Two"));
    tree->collapse(rowOf("# One"));
    EXPECT_EQ(rows(), (QStringList{"+# One", "# Three", "  ## Under three"}));

    // Editing another heading reloads the tree; the collapsed ones stay so.
    typeAt(text().indexOf("# Three") + 7, "!");
    EXPECT_EQ(rows(), (QStringList{"+# One", "# Three!", "  ## Under three"}));
    // Editing the text of a collapsed heading keeps it collapsed too.
    typeAt(text().indexOf("# One") + 5, "!");
    EXPECT_EQ(rows(), (QStringList{"+# One!", "# Three!", "  ## Under three"}));

    // Expanding it again shows its children as they were: "## Two" still
    // collapsed, "## Other" open.
    tree->expand(rowOf("# One!"));
    EXPECT_EQ(rows(), (QStringList{"# One!", "  +## Two", "  ## Other", "# Three!", "  ## Under three"}));

    // A heading typed anew starts expanded; showing the pane again makes
    // every heading new.
    window->setOutlineVisible(false);
    window->setOutlineVisible(true);
    EXPECT_EQ(rows(), (QStringList{"# One!", "  ## Two", "    ### Deep", "  ## Other", "# Three!", "  ## Under three"}));
}

TEST_F(OutlineSidebarTest, ChoosingAHeadingMovesTheCaretThereAndNothingElseDoes)
{
    QByteArray text = "# Top\n";
    for (int i = 0; i < 200; ++i) text += "A line of body text to make the document long.\n";
    text += "## Far below\nMore.\n# Last\n";
    open(text);
    editor->setSelectedRange(Range(3, 0));
    tree->setFocus();

    click(rowOf("## Far below"));
    const qsizetype far = this->text().indexOf("## Far below");
    EXPECT_EQ(editor->selectedRange(), Range(far, 0)); // the start of the line, not after the marks
    EXPECT_TRUE(editor->hasFocus());
    const QRect caret = editor->cursorRect();
    EXPECT_TRUE(editor->viewport()->rect().contains(caret.center()));
    EXPECT_NEAR(caret.center().y(), editor->viewport()->height() / 2, editor->viewport()->height() / 4);
    EXPECT_EQ(pane->selectedItem()->title, "## Far below");

    // Reloads never move the caret, and the chosen row stays chosen.
    typeAt(this->text().indexOf("# Last") + 6, " part");
    const Range typed = editor->selectedRange();
    typeAt(this->text().indexOf("# Top") + 5, "most");
    EXPECT_EQ(editor->selectedRange(), Range(9, 0)); // after what was typed
    EXPECT_NE(typed, editor->selectedRange());
    ASSERT_EQ(tree->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(tree->selectionModel()->selectedRows().first().data().toString(), "## Far below");

    // A click on the chosen row goes there again.
    click(rowOf("## Far below"));
    EXPECT_EQ(editor->selectedRange(), Range(this->text().indexOf("## Far below"), 0));
}

TEST_F(OutlineSidebarTest, AHeadingChosenFarDownStaysInTheMiddleWhileTheTextIsMeasured)
{
    // Chosen while the rest of a long text is still being measured: the
    // heading stands in the middle when it is shown and stays there while
    // the heights above it are corrected.
    QByteArray text;
    for (int i = 0; i < 4000; ++i)
        text += "## Part " + QByteArray::number(i) + "\n\nSome *words* of a paragraph, long enough to wrap at the width "
                "of the writing column once or twice, with **strong** words in it.\n\n- an item\n- another\n\n";
    text += "# Far below\n\nThe end.\n";
    open(text);
    auto* layout = qobject_cast<EditorLayout*>(editor->document()->documentLayout());
    ASSERT_TRUE(layout);
    ASSERT_FALSE(layout->isLaidOut()) << "the text was measured before the heading could be chosen";

    const int middle = editor->viewport()->height() / 2;
    for (const char* title : {"# Far below", "## Part 3000"}) {
        click(rowOf(title));
        EXPECT_EQ(editor->selectedRange(), Range(this->text().indexOf(QString::fromLatin1(title) + "\n"), 0));
        QTest::qWait(20); // painted
        EXPECT_NEAR(editor->cursorRect().center().y(), middle, 1) << title;
        if (std::string(title) == "# Far below") {
            ASSERT_FALSE(layout->isLaidOut());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return layout->isLaidOut(); }, test::patience));
        QTest::qWait(50);
        EXPECT_NEAR(editor->cursorRect().center().y(), middle, 1) << title;
    }
}

TEST_F(OutlineSidebarTest, ARowWhoseHeadingWasDeletedDoesNothing)
{
    open("# Keep\n## Gone\nBody\n");
    const QModelIndex gone = rowOf("## Gone");
    ASSERT_TRUE(gone.isValid());
    // The heading goes behind the tree's back (the text changed without the
    // edit that reloads it).
    TextStorage& storage = document->data().textStorage();
    storage.replaceCharacters(Range(storage.string().indexOf("## Gone\n"), 8), QString());
    editor->setSelectedRange(Range(2, 0));
    click(gone);
    EXPECT_EQ(editor->selectedRange(), Range(2, 0));
    EXPECT_FALSE(pane->selectedItem());
}

TEST_F(OutlineSidebarTest, FollowsTheThemeInLightAndDark)
{
    // The whole application, so that a theme restyles the text too.
    shell.reset();
    shell = std::make_unique<Shell>(true);
    open("# A calm place to write\n## A short list\n### Nested\n## Another section\n# Second part\nText\n",
         "Chapter one.txt");
    click(rowOf("## A short list"));
    Settings& settings = Settings::shared();
    const auto original = settings.theme();
    for (const char* id : {"light", "dark"}) {
        std::shared_ptr<Theme> theme;
        for (const auto& t : settings.themes())
            if (t->id == QLatin1String(id)) theme = t;
        ASSERT_TRUE(theme);
        settings.setTheme(theme);
        QTest::qWait(20); // the editor's restyle
        const QColor background = theme->backgroundColor.toQColor(), foreground = theme->foregroundColor.toQColor();
        const QImage image = pane->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(QColor(image.pixel(image.width() / 2, image.height() - 4)).rgb(),
                  views::chromeColor(background, foreground).rgb());
        // Heading text is drawn in the theme's text colour, near the rows.
        const QRect first = tree->visualRect(rowOf("# A calm place to write"));
        const QPoint origin = tree->viewport()->mapTo(pane, first.topLeft());
        int ink = 0;
        for (int y = origin.y(); y < origin.y() + first.height(); ++y)
            for (int x = origin.x(); x < origin.x() + first.width(); ++x) {
                const QColor c(image.pixel(x, y));
                if (std::abs(c.lightness() - foreground.lightness()) < 60) ++ink;
            }
        EXPECT_GT(ink, 20) << id;
        if (const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR"); !dir.isEmpty()) {
            window->window()->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QString("outline-%1.png").arg(id)));
            image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString("outline-pane-%1.png").arg(id)));
        }
    }
    settings.setTheme(original);
}
