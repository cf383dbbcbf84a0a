#include "document/FindBar.h"
#include "document/SpellingPanel.h"
#include "document/SubstitutionsPanel.h"
#include "document/TextServices.h"
#include "document/TextView.h"

#include "markdown/Markdown.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/SpeechSynthesizer.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/SpellChecker.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

// A shown editor over a styled storage, with the main menu installed so
// that keys reach the editor's commands the way they do in the program.
// Every text option starts off (a first launch turns four of them on; see
// TextViewTest), and each test turns on what it looks at.
class TextServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SpellChecker::setPreferredLanguage(test::installTestDictionary());
        Settings& s = Settings::shared();
        saved = {s.isNoEditingEnabled(), s.isTypewriterScrollingEnabled(), s.highlighting()};
        s.setNoEditingEnabled(false);
        s.setTypewriterScrollingEnabled(false);
        s.setHighlighting(Settings::Highlighting::off);
        for (const auto& option : TextView::persistedTextOptions())
            s.userDefaults()->set(QLatin1String(option.key), false);
        EditorFind::setSharedFindString(QString());
        EditorFind::setSharedFindOptions({});
        menu = std::make_unique<MainMenu>(s);
        menu->install();
        view = std::make_unique<TextView>();
        view->resize(900, 600);
        view->show();
        view->activateWindow();
        view->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    void TearDown() override
    {
        if (storage) {
            EXPECT_EQ(view->mirror().document()->toRawText(), TextMirror::mirroredText(storage->string()));
            EXPECT_EQ(view->mirror().unexpectedChangeCount(), 0);
        }
        view.reset();
        ActionDispatcher::instance().setMainMenu(nullptr);
        menu.reset();
        Settings& s = Settings::shared();
        for (const auto& option : TextView::persistedTextOptions()) s.userDefaults()->remove(QLatin1String(option.key));
        const auto& [noEditing, typewriter, highlighting] = saved;
        s.setNoEditingEnabled(noEditing);
        s.setTypewriterScrollingEnabled(typewriter);
        s.setHighlighting(highlighting);
        SpellChecker::setPreferredLanguage(QString());
    }

    void open(const QString& text)
    {
        // The view lets go of the old storage before it goes.
        view->setTextStorage(nullptr, nullptr);
        storage = std::make_unique<TextStorage>(text, Settings::shared().parsedStylesheet()->base);
        restyleParagraphs(*storage, *Settings::shared().parsedStylesheet(), Range(0, storage->length()), true);
        undo.removeAll();
        view->setTextStorage(storage.get(), &undo);
    }

    QString text() const { return storage->string(); }
    TextServices& services() const { return view->services(); }
    FindBar* bar() const { return services().find().findBar(); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(view.get(), k, m); }
    void type(const QString& s) { QTest::keyClicks(view.get(), s); }
    void option(const char* key, bool on) { view->setTextOption(QLatin1String(key), on); }
    // The command sent from its menu item, to the editor.
    void perform(Command command)
    {
        MenuItem item(QString(), command);
        ActionDispatcher::instance().send(command, &item, view.get());
    }
    // The item's enabled state and check mark as the menu would show them.
    std::pair<bool, MenuItem::State> validated(Command command)
    {
        MenuItem item(QString(), command);
        const bool enabled = ActionDispatcher::instance().validateItem(item, view.get());
        return {enabled, item.state()};
    }
    void repaint() { view->viewport()->repaint(); }
    QStringList painted(const std::vector<Range>& ranges) const
    {
        QStringList words;
        for (const Range& r : ranges) words << text().mid(r.location, r.length);
        return words;
    }
    bool waitForCount() { return QTest::qWaitFor([&] { return !services().find().isCounting(); }, test::patience); }
    QPoint pointAt(qsizetype position) const
    {
        QTextCursor c(view->document());
        c.setPosition(int(position));
        return view->cursorRect(c).center() + QPoint(2, 0);
    }

    std::tuple<bool, bool, Settings::Highlighting> saved;
    std::unique_ptr<MainMenu> menu;
    std::unique_ptr<TextView> view;
    std::unique_ptr<TextStorage> storage;
    UndoManager undo;
};

} // namespace

TEST_F(TextServicesTest, FindBarFindsAsYouTypeStepsAndCloses)
{
    open(QStringLiteral("The cat sat.\nA cat and a dog.\nCat food for the cat."));
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(view->isFindBarVisible());
    ASSERT_TRUE(bar()->findField()->hasFocus());
    EXPECT_GT(view->viewport()->geometry().top(), 0); // above the text, not over it

    QTest::keyClicks(bar()->findField(), QStringLiteral("cat"));
    EXPECT_EQ(view->selectedRange(), Range(4, 3));
    ASSERT_TRUE(waitForCount());
    EXPECT_EQ(services().find().findStatus(), QStringLiteral("1 of 4"));
    repaint();
    EXPECT_EQ(services().find().paintedMatches().size(), 4u);

    QTest::keyClick(bar()->findField(), Qt::Key_Return);
    EXPECT_EQ(view->selectedRange(), Range(15, 3));
    EXPECT_EQ(services().find().findStatus(), QStringLiteral("2 of 4"));
    QTest::keyClick(bar()->findField(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view->selectedRange(), Range(4, 3));
    QTest::keyClick(bar()->findField(), Qt::Key_Return, Qt::ShiftModifier); // round the start
    const qsizetype last = text().lastIndexOf(QStringLiteral("cat"));
    EXPECT_EQ(view->selectedRange(), Range(last, 3));

    // Match case: "Cat" no longer counts.
    bar()->matchCaseButton()->click();
    ASSERT_TRUE(waitForCount());
    EXPECT_EQ(services().find().findStatus(), QStringLiteral("3 of 3"));
    EXPECT_TRUE(EditorFind::sharedFindOptions().caseSensitive);

    // Escape closes the bar and gives the focus back to the text.
    QTest::keyClick(bar()->findField(), Qt::Key_Escape);
    EXPECT_FALSE(view->isFindBarVisible());
    EXPECT_TRUE(view->hasFocus());
    EXPECT_EQ(view->viewport()->geometry().top(), 0);
    repaint();
    EXPECT_TRUE(services().find().paintedMatches().empty());

    // Find Next and Previous work with the bar closed.
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(view->selectedRange(), Range(4, 3));
    key(Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->selectedRange(), Range(last, 3));
    EXPECT_FALSE(view->isFindBarVisible());

    // Not found: a beep, the selection stays, the bar says so.
    key(Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(bar()->findField(), Qt::Key_End);
    QTest::keyClicks(bar()->findField(), QStringLiteral("s"));
    ASSERT_TRUE(waitForCount());
    EXPECT_EQ(services().find().findStatus(), QStringLiteral("Not found"));
}

TEST_F(TextServicesTest, KeysTypedInTheFindBarActOnTheBarAndNeverOnTheText)
{
    const QString original = QStringLiteral("- one two three\n- four\n");
    open(original);
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_F, Qt::ControlModifier);
    QLineEdit* find = bar()->findField();
    QTest::keyClicks(find, QStringLiteral("two"));
    ASSERT_EQ(view->selectedRange(), Range(6, 3));
    const auto focus = [] { return QApplication::focusWidget(); };

    // Tab and Shift+Tab move through the bar: the match is neither replaced
    // by a tab nor its line indented or outdented.
    QTest::keyClick(find, Qt::Key_Tab);
    EXPECT_EQ(text(), original);
    EXPECT_TRUE(bar()->isAncestorOf(focus())) << focus();
    QTest::keyClick(focus(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text(), original);
    EXPECT_EQ(focus(), find);
    QTest::keyClick(find, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text(), original);
    EXPECT_TRUE(bar()->isAncestorOf(focus())) << focus();
    find->setFocus();

    // The editor's commands and keys do not reach the text from the field.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> editorKeys[] = {
        {Qt::Key_B, Qt::ControlModifier},
        {Qt::Key_I, Qt::ControlModifier},
        {Qt::Key_K, Qt::ControlModifier},
        {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_Down, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_V, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_Insert, Qt::NoModifier},
        {Qt::Key_Return, Qt::ControlModifier},
    };
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    for (const auto& [k, m] : editorKeys) {
        QTest::keyClick(find, k, m);
        EXPECT_EQ(text(), original) << QKeySequence(k | m).toString().toStdString();
        EXPECT_EQ(focus(), find) << QKeySequence(k | m).toString().toStdString();
    }
    EXPECT_EQ(undo.count(), 0);

    // The field's own editing keys edit the field.
    find->setText(QStringLiteral("two"));
    find->end(false);
    QTest::keyClick(find, Qt::Key_Backspace);
    EXPECT_EQ(find->text(), QStringLiteral("tw"));
    QTest::keyClick(find, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(find->text(), QStringLiteral("two"));
    const Range match = view->selectedRange();
    QTest::keyClick(find, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(find->selectedText(), QStringLiteral("two"));
    EXPECT_EQ(view->selectedRange(), match);
    QTest::keyClick(find, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(find->text(), QString());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("two"));
    QTest::keyClick(find, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(find->text(), QStringLiteral("two"));
    EXPECT_EQ(text(), original);

    // The find commands still work from the field.
    view->setSelectedRange(Range(0, 0));
    QTest::keyClick(find, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(view->selectedRange(), Range(6, 3));

    // With the replace row shown, Tab goes from the find field to the
    // replace field and Shift+Tab back.
    perform(Command::showReplaceInterface);
    ASSERT_TRUE(bar()->isReplaceVisible());
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Tab);
    EXPECT_EQ(focus(), bar()->replaceField());
    QTest::keyClick(bar()->replaceField(), Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(bar()->replaceField(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focus(), find);
    EXPECT_EQ(text(), original);
    EXPECT_EQ(undo.count(), 0);
}

TEST_F(TextServicesTest, ALongTextIsCountedInTheBackgroundAndHighlightedOnlyWhereShown)
{
    QStringList lines;
    for (int i = 0; i < 3000; ++i) lines << QStringLiteral("Line %1 has a needle in it.").arg(i);
    open(lines.join(u'\n'));
    view->setSelectedRange(Range(text().indexOf(QStringLiteral("Line 1500")), 0));
    perform(Command::showFindInterface);
    QTest::keyClicks(bar()->findField(), QStringLiteral("needle"));
    EXPECT_EQ(view->selectedRange().location, text().indexOf(QStringLiteral("needle"), text().indexOf("Line 1500")));
    ASSERT_TRUE(waitForCount());
    const QLocale locale;
    EXPECT_EQ(services().find().findStatus(), locale.toString(1501) + QStringLiteral(" of ") + locale.toString(3000));
    repaint();
    EXPECT_GT(services().find().paintedMatches().size(), 5u);
    EXPECT_LT(services().find().paintedMatches().size(), 100u);

    // Moving in the text makes typing in the field search from there.
    const qsizetype later = text().indexOf(QStringLiteral("Line 2500"));
    view->setSelectedRange(Range(later, 0));
    QTest::keyClick(bar()->findField(), Qt::Key_End);
    QTest::keyClicks(bar()->findField(), QStringLiteral(" in"));
    EXPECT_EQ(view->selectedRange(), Range(text().indexOf(QStringLiteral("needle in"), later), 9));

    // An edit makes the count stale; it is counted again after a pause.
    view->setFocus();
    view->setSelectedRange(Range(0, 0));
    type(QStringLiteral("needle in "));
    const QString recounted = locale.toString(3001) + QStringLiteral(" matches");
    ASSERT_TRUE(QTest::qWaitFor([&] { return services().find().findStatus() == recounted; }, test::patience));
}

TEST_F(TextServicesTest, ReplaceAndReplaceAllGoThroughTheGateAndUndoInOneStep)
{
    open(QStringLiteral("one fish two fish red fish blue fish"));
    key(Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(view->isFindBarVisible());
    ASSERT_TRUE(bar()->isReplaceVisible());
    QTest::keyClicks(bar()->findField(), QStringLiteral("fish"));
    bar()->replaceField()->setText(QStringLiteral("cat"));
    EXPECT_EQ(view->selectedRange(), Range(4, 4));
    QTest::keyClick(bar()->replaceField(), Qt::Key_Return); // Replace: this one, then the next
    EXPECT_EQ(text(), QStringLiteral("one cat two fish red fish blue fish"));
    EXPECT_EQ(view->selectedRange(), Range(12, 4));

    view->setSelectedRange(Range(22, 0)); // inside the second "fish"
    EXPECT_EQ(services().find().replaceAll(), 3);
    EXPECT_EQ(text(), QStringLiteral("one cat two cat red cat blue cat"));
    EXPECT_EQ(view->selectedRange(), Range(20, 0)); // at the start of its replacement: no jump
    EXPECT_EQ(services().find().findStatus(), QStringLiteral("3 replaced"));
    view->setFocus(); // in the field, the keys undo the field's typing
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one cat two fish red fish blue fish"));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one fish two fish red fish blue fish"));
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("one cat two cat red cat blue cat"));

    // Replacing with Markdown restyles what it touched, as typing would.
    EditorFind::setSharedFindString(QStringLiteral("cat"));
    bar()->setFindString(QStringLiteral("cat"));
    bar()->replaceField()->setText(QStringLiteral("**cat**"));
    const int restyles = view->restyleCount();
    EXPECT_EQ(services().find().replaceAll(), 4);
    EXPECT_GT(view->restyleCount(), restyles);
    const qsizetype bold = text().indexOf(QStringLiteral("**cat**")) + 3;
    EXPECT_TRUE(Markdown::unboxed(storage->attribute(AttributeKey::InlineMarkdown, bold)).has_value());
}

TEST_F(TextServicesTest, ReplacingFollowsTheNoEditingRule)
{
    open(QStringLiteral("red fish, blue fish"));
    perform(Command::showReplaceInterface);
    QTest::keyClicks(bar()->findField(), QStringLiteral("fish"));
    bar()->replaceField()->setText(QStringLiteral("cat"));
    Settings::shared().setNoEditingEnabled(true);
    perform(Command::showReplaceInterface);
    EXPECT_FALSE(bar()->replaceButton()->isEnabled());
    EXPECT_FALSE(bar()->replaceAllButton()->isEnabled());
    EXPECT_EQ(services().find().replaceAll(), 0);
    services().find().replaceCurrent();
    EXPECT_EQ(text(), QStringLiteral("red fish, blue fish"));
    EXPECT_EQ(undo.count(), 0);
    // Finding still works.
    EXPECT_TRUE(services().find().findNext(false));
}

TEST_F(TextServicesTest, ReplaceAllOfManyMatchesIsOneStep)
{
    QStringList lines;
    for (int i = 0; i < 2000; ++i) lines << QStringLiteral("# Part %1\nA *word* and a word, word word word.").arg(i);
    const QString original = lines.join(u'\n');
    open(original);
    EditorFind::setSharedFindString(QStringLiteral("word"));
    perform(Command::showReplaceInterface);
    bar()->replaceField()->setText(QStringLiteral("sentence"));
    EXPECT_EQ(services().find().replaceAll(), 10000);
    EXPECT_EQ(text().count(QStringLiteral("sentence")), 10000);
    EXPECT_EQ(undo.count(), 1);
    view->setFocus();
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), original);
}

TEST_F(TextServicesTest, UseSelectionForFindAndJumpToSelection)
{
    QStringList lines;
    for (int i = 0; i < 300; ++i) lines << QStringLiteral("Paragraph %1 about a dog.").arg(i);
    open(lines.join(u'\n'));
    EXPECT_FALSE(validated(Command::useSelectionForFind).first); // nothing selected
    EXPECT_FALSE(validated(Command::findNext).first); // nothing to find
    view->setSelectedRange(Range(text().indexOf(QStringLiteral("dog")), 3));
    key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(EditorFind::sharedFindString(), QStringLiteral("dog"));
    EXPECT_TRUE(validated(Command::findNext).first);
    key(Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(view->selectedRange().location, text().indexOf(QStringLiteral("dog"), text().indexOf("dog") + 1));

    const qsizetype far = text().indexOf(QStringLiteral("Paragraph 250"));
    view->setSelectedRange(Range(far, 9));
    view->verticalScrollBar()->setValue(0);
    key(Qt::Key_J, Qt::ControlModifier);
    QTextCursor c(view->document());
    c.setPosition(int(far));
    EXPECT_NEAR(view->cursorRect(c).center().y(), view->viewport()->height() / 2, 30);
}

TEST_F(TextServicesTest, SpellingUnderlinesProseOnlyAndNotTheWordBeingTyped)
{
    option("continuousSpellCheckingEnabled", true);
    open(QStringLiteral("The qiuck fox `teh code` and [a link](http://exmple.org/pth) <b class=\"x\">it</b>.\n\n"
                        "```\nteh fenced\n```\n[^lbl]: A wrod in a note."));
    repaint();
    EXPECT_EQ(painted(services().spelling().paintedMisspellings()), (QStringList{"qiuck", "wrod"}));

    view->setSelectedRange(Range(text().size(), 0));
    type(QStringLiteral(" writting"));
    repaint();
    EXPECT_FALSE(painted(services().spelling().paintedMisspellings()).contains(QStringLiteral("writting")));
    type(QStringLiteral(" "));
    repaint();
    EXPECT_TRUE(painted(services().spelling().paintedMisspellings()).contains(QStringLiteral("writting")));

    // A fence four columns in closes nothing: what follows is still code,
    // up to the fence that does close the block.
    open(QStringLiteral("```\nteh\n    ```\nA qiuck fox.\n```\nA wrod in a note."));
    repaint();
    EXPECT_EQ(painted(services().spelling().paintedMisspellings()), (QStringList{"wrod"}));

    option("continuousSpellCheckingEnabled", false);
    repaint();
    EXPECT_TRUE(services().spelling().paintedMisspellings().empty());
}

TEST_F(TextServicesTest, AVeryLongParagraphIsCheckedOnlyWhereItIsShown)
{
    option("continuousSpellCheckingEnabled", true);
    QString paragraph;
    for (int i = 0; i < 4000; ++i) paragraph += QStringLiteral("the qiuck fox ");
    open(paragraph);
    repaint();
    const auto shown = services().spelling().paintedMisspellings().size();
    EXPECT_GT(shown, 5u);
    EXPECT_LT(shown, 1000u);
    // Far down the paragraph, the word under the pointer is still found.
    view->setSelectedRange(Range(text().size(), 0));
    view->ensureCursorVisible();
    std::unique_ptr<QMenu> menu(view->createContextMenu(pointAt(text().size() - 9)));
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("quick"));
}

TEST_F(TextServicesTest, UnderlinesAndMatchesReadOnlyTheShownTextWhileTyping)
{
    // Painting the misspellings and the find matches after each key reads
    // the shown paragraphs, not the whole text: typing near the start of a
    // long text moves a few characters of its storage per key.
    option("continuousSpellCheckingEnabled", true);
    QString long_;
    while (long_.size() < 400'000) long_ += QStringLiteral("The qiuck fox finds a needle in the hay.\n\n");
    open(long_);
    view->setSelectedRange(Range(0, 0));
    perform(Command::showFindInterface);
    QTest::keyClicks(bar()->findField(), QStringLiteral("needle"));
    ASSERT_TRUE(view->isFindBarVisible());
    view->setFocus();
    view->setSelectedRange(Range(4, 0));
    // The first paint finds the code fences in the whole text, once.
    for (const QChar c : QStringLiteral("xy")) {
        type(QString(c));
        repaint();
    }
    const std::uint64_t before = storage->charactersMoved();
    for (const QChar c : QStringLiteral("very ")) {
        type(QString(c));
        repaint();
    }
    EXPECT_LT(storage->charactersMoved() - before, 20u * 1000u);
    EXPECT_TRUE(text().startsWith(QStringLiteral("The xyvery qiuck")));
    EXPECT_TRUE(painted(services().spelling().paintedMisspellings()).contains(QStringLiteral("qiuck")));
    EXPECT_TRUE(painted(services().find().paintedMatches()).contains(QStringLiteral("needle")));
}

TEST_F(TextServicesTest, ContextMenuOffersGuessesIgnoreAndLearn)
{
    option("continuousSpellCheckingEnabled", true);
    open(QStringLiteral("The qiuck fox and the jmups and the frobble."));
    std::unique_ptr<QMenu> first(view->createContextMenu(pointAt(6)));
    ASSERT_FALSE(first->actions().isEmpty());
    EXPECT_EQ(first->actions().first()->text(), QStringLiteral("quick"));
    first->actions().first()->trigger();
    EXPECT_EQ(text(), QStringLiteral("The quick fox and the jmups and the frobble."));
    key(Qt::Key_Z, Qt::ControlModifier); // an edit like any other
    EXPECT_EQ(text(), QStringLiteral("The qiuck fox and the jmups and the frobble."));

    const auto trigger = [&](qsizetype at, const QString& title) {
        std::unique_ptr<QMenu> menu(view->createContextMenu(pointAt(at)));
        for (QAction* action : menu->actions())
            if (action->text() == title) return action->trigger(), true;
        return false;
    };
    EXPECT_TRUE(trigger(text().indexOf(QStringLiteral("jmups")) + 1, QStringLiteral("Ignore Spelling")));
    EXPECT_TRUE(trigger(text().indexOf(QStringLiteral("frobble")) + 1, QStringLiteral("Learn Spelling")));
    repaint();
    EXPECT_EQ(painted(services().spelling().paintedMisspellings()), QStringList{"qiuck"});
    // A correctly spelt word gets no spelling items.
    EXPECT_FALSE(trigger(1, QStringLiteral("Learn Spelling")));
    // The learnt word is known after a restart; the ignored one is not.
    SpellChecker fresh(QStringLiteral("en_ZZ"));
    EXPECT_TRUE(fresh.isCorrect(u"frobble"));
    EXPECT_FALSE(fresh.isCorrect(u"jmups"));
}

TEST_F(TextServicesTest, AWordIgnoredInOneEditorIsUnmarkedInEvery)
{
    option("continuousSpellCheckingEnabled", true);
    open(QStringLiteral("The jmups and the fox."));
    // Another editor, over another text with the same word, has checked it.
    TextStorage otherText(QStringLiteral("The fox and the jmups."), Settings::shared().parsedStylesheet()->base);
    restyleParagraphs(otherText, *Settings::shared().parsedStylesheet(), Range(0, otherText.length()), true);
    UndoManager otherUndo;
    TextView other;
    other.setTextStorage(&otherText, &otherUndo);
    other.resize(600, 300);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.viewport()->repaint();
    ASSERT_EQ(other.services().spelling().paintedMisspellings().size(), 1u);

    std::unique_ptr<QMenu> menu(view->createContextMenu(pointAt(text().indexOf(QStringLiteral("jmups")) + 1)));
    QAction* ignore = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Ignore Spelling")) ignore = action;
    ASSERT_TRUE(ignore);
    ignore->trigger();
    other.viewport()->repaint();
    EXPECT_TRUE(other.services().spelling().paintedMisspellings().empty());
    other.setTextStorage(nullptr, nullptr);
}

TEST_F(TextServicesTest, CheckDocumentNowAndTheSpellingPanel)
{
    open(QStringLiteral("Fine wrod here, `qiuk` and qiuck there."));
    view->setSelectedRange(Range(0, 0));
    key(Qt::Key_Semicolon, Qt::ControlModifier);
    EXPECT_EQ(view->selectedRange(), Range(5, 4));
    perform(Command::checkSpelling);
    EXPECT_EQ(view->selectedRange(), Range(27, 5)); // the code span is passed over
    perform(Command::checkSpelling);
    EXPECT_EQ(view->selectedRange(), Range(5, 4)); // round again

    perform(Command::showGuessPanel);
    SpellingPanel& panel = SpellingPanel::shared();
    ASSERT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.word(), QStringLiteral("wrod"));
    EXPECT_TRUE(panel.guesses().contains(QStringLiteral("word")));
    panel.guessList()->setCurrentRow(int(panel.guesses().indexOf(QStringLiteral("word"))));
    panel.changeButton()->click();
    EXPECT_EQ(text(), QStringLiteral("Fine word here, `qiuk` and qiuck there."));
    EXPECT_EQ(panel.word(), QStringLiteral("qiuck"));
    panel.wordField()->setText(QStringLiteral("quick"));
    panel.changeButton()->click();
    EXPECT_EQ(text(), QStringLiteral("Fine word here, `qiuk` and quick there."));
    EXPECT_EQ(panel.message(), QStringLiteral("No misspelt words."));
    EXPECT_FALSE(panel.changeButton()->isEnabled());
    panel.hide();
    // Grammar is not checked: the item stays, disabled and off.
    EXPECT_EQ(validated(Command::toggleGrammarChecking), std::make_pair(false, MenuItem::State::off));
}

TEST_F(TextServicesTest, SmartQuotesAndDashesAsTheWriterTypes)
{
    option("automaticQuoteSubstitutionEnabled", true);
    option("automaticDashSubstitutionEnabled", true);
    open(QString());
    type(QStringLiteral("It's -- as they say -- \"fine\""));
    EXPECT_EQ(text(), QString::fromUtf8("It’s — as they say — “fine”"));

    // Undo right after a substitution gives back what was typed.
    type(QStringLiteral(" '"));
    EXPECT_EQ(text(), QString::fromUtf8("It’s — as they say — “fine” ‘"));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QString::fromUtf8("It’s — as they say — “fine” '"));
    EXPECT_EQ(view->selectedRange(), Range(text().size(), 0));

    // Code and link addresses stay as typed.
    open(QString());
    type(QStringLiteral("`say \"hi\" -- x` and [a](http://x.org/a--b\"c) ok"));
    EXPECT_EQ(text(), QStringLiteral("`say \"hi\" -- x` and [a](http://x.org/a--b\"c) ok"));
    open(QStringLiteral("```\n\n```"));
    view->setSelectedRange(Range(4, 0));
    type(QStringLiteral("x = \"y\" -- z"));
    EXPECT_EQ(text(), QStringLiteral("```\nx = \"y\" -- z\n```"));
    // A fence that closes its block as it is typed (taking back the
    // indentation Return carried) leaves the quotes after it alone.
    open(QStringLiteral("```\n    x\n    ``\nA \"word\" -- here"));
    view->setSelectedRange(Range(16, 0));
    type(QStringLiteral("`"));
    EXPECT_EQ(text(), QStringLiteral("```\n    x\n```\nA \"word\" -- here"));

    // No-editing mode: typing works, the substitution (a replacement) does not.
    open(QString());
    Settings::shared().setNoEditingEnabled(true);
    type(QStringLiteral("\"a"));
    EXPECT_EQ(text(), QStringLiteral("\"a"));
}

TEST_F(TextServicesTest, TextReplacementCorrectionAndSmartCopyPaste)
{
    option("automaticTextReplacementEnabled", true);
    option("automaticSpellingCorrectionEnabled", true);
    TextReplacements::setEntries({{QStringLiteral("(c)"), QString::fromUtf8("©")},
                                  {QStringLiteral("omw"), QStringLiteral("on my way")}});
    open(QString());
    type(QStringLiteral("(c) Hello, omw. The qiuck "));
    EXPECT_EQ(text(), QString::fromUtf8("© Hello, on my way. The quick "));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QString::fromUtf8("© Hello, on my way. The qiuck "));
    TextReplacements::setEntries({});

    option("smartInsertDeleteEnabled", true);
    open(QStringLiteral("one two three"));
    view->setSelectedRange(Range(4, 3));
    key(Qt::Key_Delete);
    EXPECT_EQ(text(), QStringLiteral("one three"));
    QApplication::clipboard()->setText(QStringLiteral("two"));
    view->setSelectedRange(Range(3, 0));
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("one two three"));
}

TEST_F(TextServicesTest, SubstitutionsPanelEditsTheSwitchesAndTheList)
{
    open(QStringLiteral("text"));
    perform(Command::orderFrontSubstitutionsPanel);
    SubstitutionsPanel& panel = SubstitutionsPanel::shared();
    ASSERT_TRUE(panel.isVisible());
    QCheckBox* quotes = panel.checkBox(QStringLiteral("automaticQuoteSubstitutionEnabled"));
    ASSERT_TRUE(quotes);
    EXPECT_FALSE(quotes->isChecked());
    quotes->click();
    EXPECT_TRUE(view->textOption(QStringLiteral("automaticQuoteSubstitutionEnabled")));
    EXPECT_EQ(Settings::shared().userDefaults()->object(QStringLiteral("automaticQuoteSubstitutionEnabled")), QVariant(true));
    EXPECT_EQ(validated(Command::toggleAutomaticQuoteSubstitution).second, MenuItem::State::on);
    perform(Command::toggleAutomaticQuoteSubstitution);
    EXPECT_FALSE(quotes->isChecked());

    TextReplacements::setEntries({});
    panel.refresh();
    panel.addButton()->click();
    panel.table()->item(0, 0)->setText(QStringLiteral("brb"));
    panel.table()->item(0, 1)->setText(QStringLiteral("be right back"));
    const auto list = TextReplacements::entries();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].with, QStringLiteral("be right back"));
    EXPECT_EQ(Settings::shared().userDefaults()->arrayValue(QStringLiteral("textReplacements"))->size(), 1);
    panel.table()->setCurrentCell(0, 0);
    panel.removeButton()->click();
    EXPECT_TRUE(TextReplacements::entries().empty());
    panel.hide();
    Settings::shared().userDefaults()->remove(QStringLiteral("textReplacements"));
}

TEST_F(TextServicesTest, TransformationsChangeCaseThroughTheGate)
{
    open(QString::fromUtf8("straße and more"));
    view->setSelectedRange(Range(0, 6));
    perform(Command::uppercaseWord);
    EXPECT_EQ(text(), QString::fromUtf8("STRASSE and more"));
    EXPECT_EQ(view->selectedRange(), Range(0, 7));
    view->setSelectedRange(Range(14, 0)); // inside "more"
    perform(Command::capitalizeWord);
    EXPECT_EQ(text(), QString::fromUtf8("STRASSE and More"));
    EXPECT_EQ(view->selectedRange(), Range(16, 0));
    view->setSelectedRange(Range(0, 16));
    perform(Command::lowercaseWord);
    EXPECT_EQ(text(), QString::fromUtf8("strasse and more"));
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QString::fromUtf8("straße and more"));

    Settings::shared().setNoEditingEnabled(true);
    EXPECT_FALSE(validated(Command::uppercaseWord).first);
    perform(Command::uppercaseWord);
    EXPECT_EQ(text(), QString::fromUtf8("straße and more"));
}

TEST_F(TextServicesTest, SpeechWithoutAnEngineIsDisabledQuietly)
{
    SpeechSynthesizer::setEngineOrder(QStringList());
    open(QStringLiteral("Read me aloud."));
    EXPECT_FALSE(validated(Command::startSpeaking).first);
    EXPECT_FALSE(validated(Command::stopSpeaking).first);
    perform(Command::startSpeaking);
    EXPECT_FALSE(SpeechSynthesizer::shared().isSpeaking());
    SpeechSynthesizer::setEngineOrder(std::nullopt);
}

TEST_F(TextServicesTest, TogglesShowTheirOptionsAndAreStored)
{
    open(QStringLiteral("text"));
    for (Command action : {Command::toggleContinuousSpellChecking, Command::toggleAutomaticSpellingCorrection,
                           Command::toggleSmartInsertDelete, Command::toggleAutomaticQuoteSubstitution,
                           Command::toggleAutomaticDashSubstitution, Command::toggleAutomaticLinkDetection,
                           Command::toggleAutomaticDataDetection, Command::toggleAutomaticTextReplacement}) {
        EXPECT_EQ(validated(action), std::make_pair(true, MenuItem::State::off)) << action;
        perform(action);
        EXPECT_EQ(validated(action), std::make_pair(true, MenuItem::State::on)) << action;
    }
    // Stored at once; an editor shown afterwards starts with them.
    EXPECT_EQ(Settings::shared().userDefaults()->object(QStringLiteral("automaticLinkDetectionEnabled")), QVariant(true));
    TextView other;
    other.show();
    EXPECT_TRUE(other.textOption(QStringLiteral("automaticLinkDetectionEnabled")));
    // Smart links and data detectors change nothing in the text.
    view->setSelectedRange(Range(4, 0));
    type(QStringLiteral(" https://example.org "));
    EXPECT_EQ(text(), QStringLiteral("text https://example.org "));
}
