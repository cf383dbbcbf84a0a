// The standard dialogs: each button, and Escape, gives the answer it says.
#include "shell/Dialogs.h"

#include "document/Document.h"
#include "ShellTestSupport.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace lumora;

namespace {

// Runs answer on the dialog that opens next.
void whenModal(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            whenModal(answer);
            return;
        }
        answer(dialog);
    });
}

void click(const QString& title)
{
    whenModal([title](QWidget* dialog) {
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            if (button->text() == title) return button->click();
        ADD_FAILURE() << "no button " << title.toStdString();
        static_cast<QDialog*>(dialog)->reject();
    });
}

// Presses the dialog's Open button, as the writer would.
void pressOpen(QFileDialog* dialog)
{
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_TRUE(box);
    QAbstractButton* open = box->button(QDialogButtonBox::Open);
    ASSERT_TRUE(open && open->isEnabled());
    open->click();
}

void escape()
{
    whenModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
}

} // namespace

TEST(StandardDialogs, ButtonsAndEscapeGiveTheirAnswers)
{
    StandardDialogs dialogs;
    Document document;
    click("Don’t Save");
    EXPECT_EQ(dialogs.askToSaveChanges(document), SaveChoice::dontSave);
    click("Save…");
    EXPECT_EQ(dialogs.askToSaveChanges(document), SaveChoice::save);
    escape();
    EXPECT_EQ(dialogs.askToSaveChanges(document), SaveChoice::cancel);

    // Escape never loads the other version over the writer's.
    click("Load Theirs");
    EXPECT_EQ(dialogs.askAboutExternalChange(document), ExternalChangeChoice::reloadTheirs);
    escape();
    EXPECT_EQ(dialogs.askAboutExternalChange(document), ExternalChangeChoice::keepMine);

    click("Duplicate");
    EXPECT_EQ(dialogs.askAboutLockedDocument(document), Dialogs::LockedChoice::duplicate);
    escape();
    EXPECT_EQ(dialogs.askAboutLockedDocument(document), Dialogs::LockedChoice::cancel);
    escape();
    EXPECT_FALSE(dialogs.confirmRevert(document));
}

TEST(StandardDialogs, TheOpenDialogOpensAChosenFolderAsItIs)
{
    const QString folder = test::freshDirectory("open-dialog/Chapters");
    test::writeFile(folder + "/one.txt", "One");
    StandardDialogs dialogs;
    whenModal([folder](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_TRUE(dialog);
        dialog->setDirectory(QFileInfo(folder).path());
        dialog->selectFile(folder);
        pressOpen(dialog);
    });
    EXPECT_EQ(dialogs.chooseFilesToOpen(), QStringList{folder});

    whenModal([folder](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        dialog->setDirectory(folder);
        dialog->selectFile(folder + "/one.txt");
        pressOpen(dialog);
    });
    EXPECT_EQ(dialogs.chooseFilesToOpen(), QStringList{folder + "/one.txt"});
}

TEST(StandardDialogs, TheSaveDialogKeepsTheExtensionTheWriterTypes)
{
    const QString folder = test::freshDirectory("save-dialog");
    StandardDialogs dialogs;
    // The writer types over the proposed name ("A title.txt"), which is
    // selected when the dialog opens.
    const auto saveAs = [&](const QString& typed, const std::function<void(QFileDialog*)>& after = {}) {
        whenModal([folder, typed, after](QWidget* widget) {
            // A question about replacing a file is answered with Escape.
            if (after) escape();
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            ASSERT_TRUE(dialog);
            dialog->setDirectory(folder);
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_TRUE(name);
            EXPECT_EQ(name->selectedText(), QStringLiteral("A title.txt"));
            QTest::keyClicks(name, typed);
            QTest::keyClick(name, Qt::Key_Return);
            if (after) after(dialog);
        });
        Document document;
        document.data().textStorage().replaceCharacters(Range(0, 0), QStringLiteral("A title"), Attributes{});
        return dialogs.chooseSaveLocation(document).value_or(QString());
    };
    EXPECT_EQ(saveAs("notes.md"), folder + "/notes.md");
    EXPECT_EQ(saveAs("notes.markdown"), folder + "/notes.markdown");
    EXPECT_EQ(saveAs("Chapter 1.draft"), folder + "/Chapter 1.draft");
    EXPECT_EQ(saveAs("notes"), folder + "/notes.txt");
    // A dot inside a sentence is no extension.
    EXPECT_EQ(saveAs("Mr. Smith"), folder + "/Mr. Smith.txt");

    // The completed name is the one Qt asks about before replacing a file.
    test::writeFile(folder + "/Mr. Smith.txt", "Keep me");
    const QString chosen = saveAs("Mr. Smith", [](QFileDialog* dialog) {
        // Escape in the question keeps the file; the writer then cancels.
        EXPECT_TRUE(dialog->isVisible());
        dialog->reject();
    });
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(test::readFile(folder + "/Mr. Smith.txt"), QByteArray("Keep me"));

    for (const char* name : {"notes.md", "a.txt", "Chapter 1.draft", "archive.tar-gz", "x.Markdown"})
        EXPECT_TRUE(StandardDialogs::hasExtension(name)) << name;
    for (const char* name : {"notes", "Mr. Smith", "v1.", ".notes", "Done...", "1.5 pages", "a.verylongextension1"})
        EXPECT_FALSE(StandardDialogs::hasExtension(name)) << name;
}

TEST(StandardDialogs, DialogsStartInTheCurrentDocumentsFolder)
{
    test::Shell shell;
    const QString folder = test::freshDirectory("dialog-start/Novel");
    test::writeFile(folder + "/chapter.md", "Once");
    Document* document = shell.open(folder + "/chapter.md");
    ASSERT_TRUE(document);
    ASSERT_TRUE(test::activate(test::windowOf(document)));
    StandardDialogs dialogs;
    QString started;
    const auto note = [&started] {
        whenModal([&started](QWidget* widget) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            ASSERT_TRUE(dialog);
            started = dialog->directory().absolutePath();
            dialog->reject();
        });
    };
    note();
    EXPECT_TRUE(dialogs.chooseFilesToOpen().isEmpty());
    EXPECT_EQ(started, folder);
    note();
    EXPECT_FALSE(dialogs.chooseSaveLocation(*document));
    EXPECT_EQ(started, folder);
    note();
    EXPECT_FALSE(dialogs.chooseExportLocation(*document, "chapter"));
    EXPECT_EQ(started, folder);
}
