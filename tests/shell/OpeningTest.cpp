// Opening files and folders, child documents of the library, closing.
#include "ShellTestSupport.h"

#include "document/OutlineViewController.h"
#include "library/LibraryViewController.h"
#include "platform/application/SingleInstance.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/FolderListing.h"
#include "platform/files/NativePath.h"
#include "widgets/ViewUtilities.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace lumora;
using namespace lumora::test;

TEST(Opening, AFileOpensStyledInAThreePaneWindow)
{
    Shell shell;
    const QString path = freshDirectory("open-file") + "/notes.txt";
    writeFile(path, "# Notes\n\nPlain words.\n");
    Document* document = shell.open(path);
    ASSERT_TRUE(document);
    WindowController* window = windowOf(document);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(window->window()->titleStrip()->title(), QStringLiteral("notes.txt"));

    SplitView& split = *window->splitView();
    ASSERT_EQ(split.count(), 3);
    EXPECT_TRUE(qobject_cast<LibraryViewController*>(split.widget(0)));
    EXPECT_EQ(split.widget(1), window->documentViewController());
    EXPECT_TRUE(qobject_cast<OutlineViewController*>(split.widget(2)));
    EXPECT_EQ(window->documentViewController()->textView()->textStorage(), &document->data().textStorage());

    // Markdown is styled: the heading is set larger than the paragraph.
    const TextStorage& storage = document->data().textStorage();
    const AttributeValue heading = storage.attributes(2).value(AttributeKey::Font);
    const AttributeValue body = storage.attributes(12).value(AttributeKey::Font);
    ASSERT_TRUE(heading.font() && body.font());
    EXPECT_GT(heading.font()->pointSizeF(), body.font()->pointSizeF());

    // Opening it again brings the same document forward.
    EXPECT_EQ(shell.open(path), document);
    EXPECT_EQ(WindowController::controllersOf(*document).size(), size_t(1));
    EXPECT_EQ(shell.controller->recentDocumentPaths().value(0), QFileInfo(path).absoluteFilePath());
}

TEST(Opening, AFolderOpensAsTheLibraryOfANewUntitledWindowEachTime)
{
    Shell shell;
    const QString folder = freshDirectory("open-folder/Essays");
    Document* first = shell.open(folder);
    Document* second = shell.open(folder);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    for (Document* document : {first, second}) {
        EXPECT_TRUE(document->isUntitled());
        WindowController* window = windowOf(document);
        ASSERT_TRUE(window);
        ASSERT_TRUE(window->libraryViewController());
        EXPECT_EQ(window->libraryViewController()->library()->url(), folder);
    }
    EXPECT_EQ(shell.controller->recentDocumentPaths().value(0), folder);

    // Without display, the window is made but not shown.
    auto hidden = shell.controller->openDocument(folder, false);
    ASSERT_TRUE(hidden);
    auto* document = qobject_cast<Document*>(*hidden);
    ASSERT_TRUE(windowOf(document));
    EXPECT_FALSE(windowOf(document)->window()->isVisible());
    EXPECT_EQ(windowOf(document)->libraryPane().library()->url(), folder);
}

TEST(Opening, FilesThatCannotBeReadAreReportedAndTheRestOpen)
{
    Shell shell;
    const QString dir = freshDirectory("open-bad");
    writeFile(dir + "/binary.txt", QByteArray("\x00\x01\x02\xff\xfe", 5));
    writeFile(dir + "/good.txt", "fine\n");
    shell.controller->openDocuments({dir + "/missing.txt", dir + "/binary.txt", dir + "/good.txt"});
    ASSERT_EQ(shell.dialogs.errors.size(), 2);
    EXPECT_TRUE(shell.dialogs.errors[0].contains("missing.txt")) << shell.dialogs.errors[0].toStdString();
    EXPECT_TRUE(shell.dialogs.errors[1].contains("binary.txt")) << shell.dialogs.errors[1].toStdString();
    EXPECT_EQ(readFile(dir + "/binary.txt"), QByteArray("\x00\x01\x02\xff\xfe", 5)); // nothing written
    ASSERT_EQ(shell.controller->documents().size(), size_t(1));
    EXPECT_EQ(textOf(qobject_cast<Document*>(shell.controller->documents().front())), "fine\n");
    EXPECT_EQ(shell.controller->recentDocumentPaths(), QStringList{dir + "/good.txt"});
}

// A text document a preview's link names opens as File ▸ Open opens it: in
// a window, the one it has when it is open; a missing one is reported.
TEST(Opening, ADocumentALinkNamesOpensInAWindow)
{
    Shell shell;
    const QString dir = freshDirectory("open-linked");
    writeFile(dir + "/other.md", "# Other\n");
    ASSERT_EQ(Document::host(), shell.controller.get());
    Document::host()->openDocumentInWindow(dir + "/other.md");
    ASSERT_EQ(shell.controller->documents().size(), size_t(1));
    auto* other = qobject_cast<Document*>(shell.controller->documents().front());
    ASSERT_TRUE(other && windowOf(other));
    EXPECT_TRUE(windowOf(other)->window()->isVisible());
    Document::host()->openDocumentInWindow(dir + "/other.md");
    EXPECT_EQ(shell.controller->documents().size(), size_t(1));
    EXPECT_EQ(WindowController::controllersOf(*other).size(), size_t(1));

    Document::host()->openDocumentInWindow(dir + "/gone.md");
    ASSERT_EQ(shell.dialogs.errors.size(), 1);
    EXPECT_TRUE(shell.dialogs.errors[0].contains("gone.md")) << shell.dialogs.errors[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir + "/gone.md"));
}

TEST(Opening, ANameThatIsNotUtf8OpensAndSavesTheRealFile)
{
    Shell shell;
    const QString dir = freshDirectory("open-bytes");
    const QByteArray raw = QFile::encodeName(dir) + "/bad\xff.md";
    const QString path = NativePath::decode(raw);
    ASSERT_TRUE(writeFileSafely(path, "The real text.\n").ok());

    // As the command line gives it (`lumora $'bad\xff.md'` in that folder).
    const QStringList files = SingleInstance::fileArguments({"lumora", NativePath::decode("bad\xff.md")}, dir);
    ASSERT_EQ(files, QStringList{path});
    shell.controller->openLaunchDocuments(files);
    EXPECT_TRUE(shell.dialogs.errors.isEmpty()) << shell.dialogs.errors.join(" ").toStdString();
    ASSERT_EQ(shell.controller->documents().size(), size_t(1));
    auto* document = qobject_cast<Document*>(shell.controller->documents().front());
    EXPECT_EQ(textOf(document), "The real text.\n");
    EXPECT_EQ(document->filePath(), path);
    // The title reads sensibly: the byte shows as U+FFFD.
    EXPECT_EQ(document->displayName(), QString::fromUtf8("bad\xef\xbf\xbd.md"));

    // Saving writes the same file; no second one appears beside it.
    document->data().textStorage().replaceCharacters({0, 0}, "Edited. ");
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(readFileSafely(path).value(), "Edited. The real text.\n");
    const auto listing = FolderListing::list(dir);
    ASSERT_TRUE(listing.ok());
    ASSERT_EQ(listing->size(), 1u);
    EXPECT_EQ(NativePath::encode(dir + "/" + listing->front().name), raw);

    // A new name of that kind is made under its own bytes too.
    const QString fresh = NativePath::decode(QFile::encodeName(dir) + "/new\xfe.md");
    shell.controller->openDocuments({fresh}, true);
    auto* made = qobject_cast<Document*>(shell.controller->documentForPath(fresh));
    ASSERT_TRUE(made);
    made->data().textStorage().replaceCharacters({0, 0}, "New.");
    ASSERT_TRUE(made->save().ok());
    EXPECT_EQ(readFileSafely(fresh).value(), "New.");
}

TEST(Opening, ChildDocumentsStayOutOfRecentsAndSaveBeforeTheyClose)
{
    Shell shell;
    const QString dir = freshDirectory("child");
    const QString path = dir + "/chapter.txt";
    writeFile(path, "Once");
    Document* child = nullptr;
    Document::openLibraryFile(path, [&](Document* document, const std::optional<PlatformError>&) {
        child = document;
        if (document) document->addReference();
    });
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->editors().empty());
    EXPECT_EQ(shell.controller->childDocuments, QStringList{path});
    EXPECT_TRUE(shell.controller->recentDocumentPaths().isEmpty());

    // The last row lets go of an edited document without a window: it is
    // saved, then closed.
    type(*child, " upon a time");
    QPointer<Document> watched(child);
    child->removeReference();
    EXPECT_EQ(readFile(path), QByteArray("Once upon a time"));
    EXPECT_TRUE(!watched || watched->isClosed());
    EXPECT_TRUE(shell.controller->childDocuments.isEmpty());

    // When saving fails, the document stays open in a window rather than
    // lose the edits.
    const QString gone = freshDirectory("child-gone");
    writeFile(gone + "/draft.txt", "Draft");
    Document* draft = nullptr;
    Document::openLibraryFile(gone + "/draft.txt", [&](Document* document, const std::optional<PlatformError>&) {
        draft = document;
        document->addReference();
    });
    ASSERT_TRUE(draft);
    type(*draft, " two");
    ASSERT_TRUE(QDir(gone).removeRecursively());
    draft->removeReference();
    EXPECT_FALSE(draft->isClosed());
    ASSERT_TRUE(windowOf(draft));
    EXPECT_TRUE(windowOf(draft)->window()->isVisible());
    EXPECT_EQ(shell.dialogs.errors.size(), 1);

    // A document a row holds outlives its window.
    draft->addReference();
    windowOf(draft)->window()->close();
    EXPECT_FALSE(draft->isClosed());
    EXPECT_TRUE(draft->editors().empty());
}

TEST(Opening, ClosingAskAboutUntitledEditsAndSavesFilesSilently)
{
    Shell shell;
    const QString path = freshDirectory("closing") + "/kept.txt";
    writeFile(path, "Kept");
    Document* saved = shell.open(path);
    ASSERT_TRUE(saved);
    type(*saved, " safe");
    QPointer<Document> savedWatch(saved);
    windowOf(saved)->window()->close();
    EXPECT_EQ(readFile(path), QByteArray("Kept safe"));
    EXPECT_TRUE(shell.dialogs.asked.isEmpty());
    EXPECT_TRUE(!savedWatch || savedWatch->isClosed());

    // Untitled: asked. Cancelling, or cancelling the save dialog, keeps
    // the window; saving writes where the dialog says; not saving drops the
    // edits; without edits nothing is asked.
    const QString target = QFileInfo(path).path() + "/new.txt";
    struct Case {
        QString text;
        SaveChoice choice;
        std::optional<QString> location;
        bool closes;
        QStringList asked;
    };
    const Case cases[] = {
        {"New words", SaveChoice::cancel, std::nullopt, false, {"saveChanges:Untitled"}},
        {"New words", SaveChoice::save, std::nullopt, false, {"saveChanges:Untitled", "saveLocation"}},
        {"New words", SaveChoice::dontSave, std::nullopt, true, {"saveChanges:Untitled"}},
        {"New words", SaveChoice::save, target, true, {"saveChanges:Untitled", "saveLocation"}},
        {"", SaveChoice::cancel, std::nullopt, true, {}},
    };
    for (const Case& c : cases) {
        auto* untitled = qobject_cast<Document*>(*shell.controller->openUntitledDocument(true));
        if (!c.text.isEmpty()) type(*untitled, c.text);
        shell.dialogs.asked.clear();
        shell.dialogs.saveChoices = {c.choice};
        shell.dialogs.saveLocation = c.location;
        QPointer<DocumentWindowBase> window = windowOf(untitled)->window();
        window->close();
        EXPECT_EQ(shell.dialogs.asked, c.asked) << c.asked.join(",").toStdString();
        EXPECT_EQ(!window || !window->isVisible(), c.closes) << c.asked.join(",").toStdString();
        if (!c.closes) {
            untitled->undoManager().setClean(); // as if saved, so that the window can go
            window->close();
        }
    }
    EXPECT_EQ(readFile(target), QByteArray("New words"));
}
