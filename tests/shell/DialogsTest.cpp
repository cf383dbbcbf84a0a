// The standard dialogs: each button, and Escape, gives the answer it says.
#include "shell/Dialogs.h"

#include "document/Document.h"
#include "platform/files/Encodings.h"
#include "platform/files/TextFileCodec.h"
#include "platform/files/UserDefaults.h"
#include "ShellTestSupport.h"
#include "support/HostileFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace lumora;
using lumora::test::whenModal;

namespace {

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

// Chooses the encoding in the dialog's chooser, as the writer would.
void chooseEncoding(QWidget* dialog, qint64 value)
{
    auto* chooser = dialog->findChild<QComboBox*>(QStringLiteral("saveEncoding"));
    ASSERT_TRUE(chooser);
    const int index = chooser->findData(value);
    ASSERT_GE(index, 0);
    chooser->setCurrentIndex(index);
    emit chooser->activated(index);
}

void pressButton(QFileDialog* dialog, QDialogButtonBox::StandardButton which)
{
    QAbstractButton* button = dialog->findChild<QDialogButtonBox*>()->button(which);
    ASSERT_TRUE(button && button->isEnabled());
    button->click();
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
    EXPECT_EQ(dialogs.chooseRevert(document, true, false), Dialogs::RevertChoice::cancel);
    click("Revert");
    EXPECT_EQ(dialogs.chooseRevert(document, true, false), Dialogs::RevertChoice::lastSaved);
    click("Revert");
    EXPECT_EQ(dialogs.chooseRevert(document, false, true), Dialogs::RevertChoice::lastOpened);
    click("Revert to the Version You Opened");
    EXPECT_EQ(dialogs.chooseRevert(document, true, true), Dialogs::RevertChoice::lastOpened);
    click("Revert to Saved");
    EXPECT_EQ(dialogs.chooseRevert(document, true, true), Dialogs::RevertChoice::lastSaved);
}

// Saving a document whose file another program deleted: write it again,
// Save As, or (Escape) leave it unsaved.
TEST(StandardDialogs, ADeletedFileIsWrittenAgainOnlyWhenTheWriterSaysSo)
{
    StandardDialogs dialogs;
    Document document;
    QString said;
    whenModal([&said](QWidget* dialog) {
        said = static_cast<QMessageBox*>(dialog)->text();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(dialogs.askAboutDeletedFile(document), DeletedFileChoice::cancel);
    EXPECT_TRUE(said.contains("was deleted by another program")) << said.toStdString();
    click("Save Again");
    EXPECT_EQ(dialogs.askAboutDeletedFile(document), DeletedFileChoice::saveAgain);
    click("Save As…");
    EXPECT_EQ(dialogs.askAboutDeletedFile(document), DeletedFileChoice::saveAs);
}

// A document that cannot be saved: each context offers its way out, and
// Escape never drops the writer's text.
TEST(StandardDialogs, AFailedSaveOffersAWayOut)
{
    StandardDialogs dialogs;
    Document document;
    const PlatformError error(PlatformError::Code::writeFailed, "The document couldn't be saved.",
                              "Its folder no longer exists.");
    click("Save As…");
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::saving), FailedSaveChoice::saveAs);
    escape();
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::saving), FailedSaveChoice::dismiss);

    click("Close Without Saving…");
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::closing),
              FailedSaveChoice::closeWithoutSaving);
    escape();
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::closing), FailedSaveChoice::dismiss);
    // The second confirmation: Return and Escape both keep the document.
    whenModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Return); });
    EXPECT_FALSE(dialogs.confirmCloseWithoutSaving(document));
    escape();
    EXPECT_FALSE(dialogs.confirmCloseWithoutSaving(document));
    click("Close Without Saving");
    EXPECT_TRUE(dialogs.confirmCloseWithoutSaving(document));

    // Quitting says where the text will be kept, and Escape quits.
    QString said;
    whenModal([&said](QWidget* dialog) {
        said = static_cast<QMessageBox*>(dialog)->informativeText();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::terminating),
              FailedSaveChoice::keepRecoveryCopy);
    EXPECT_TRUE(said.contains(document.reserveRecoveryFile())) << said.toStdString();
    EXPECT_TRUE(said.startsWith("Its folder no longer exists.")) << said.toStdString();
    click("Save As…");
    EXPECT_EQ(dialogs.askAfterFailedSave(document, error, FailedSaveContext::terminating), FailedSaveChoice::saveAs);

    // Rename offers the name, selected without its extension.
    whenModal([](QWidget* dialog) {
        auto* field = dialog->findChild<QLineEdit*>();
        ASSERT_TRUE(field);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return field->selectedText() == QStringLiteral("Untitled"); }, test::patience))
            << field->selectedText().toStdString();
        field->setText("Chapter One.md");
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(dialogs.chooseNewName(document), QStringLiteral("Chapter One.md"));
    escape();
    EXPECT_EQ(dialogs.chooseNewName(document), std::nullopt);
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

TEST(StandardDialogs, TheSaveDialogsEncodingChooserDecidesTheSave)
{
    UserDefaults::standard().remove(QStringLiteral("saveEncoding"));
    const QString folder = test::freshDirectory("save-encoding");
    StandardDialogs dialogs;
    DocumentBase::setPrompter(&dialogs);
    Document document;
    document.data().textStorage().replaceCharacters(Range(0, 0), QStringLiteral(u"Café"), Attributes{});

    QStringList items;
    int selected = -1;
    QVariant storedOnOpening;
    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_TRUE(dialog);
        auto* chooser = dialog->findChild<QComboBox*>(QStringLiteral("saveEncoding"));
        ASSERT_TRUE(chooser);
        for (int i = 0; i < chooser->count(); ++i) items << chooser->itemText(i);
        selected = chooser->currentIndex();
        storedOnOpening = UserDefaults::standard().object(QStringLiteral("saveEncoding"));
        chooseEncoding(dialog, qint64(Encoding::utf16));
        dialog->selectFile(folder + "/Wide.txt");
        pressButton(dialog, QDialogButtonBox::Save);
    });
    const PlatformStatus saved = document.save();
    DocumentBase::setPrompter(nullptr);
    ASSERT_TRUE(saved.ok()) << saved.error().message().toStdString();

    // Automatic first, then every encoding of the registry in its order;
    // on a first run automatic is stored and shown.
    QStringList expected{"Automatic"};
    for (StringEncoding encoding : Encodings::available()) expected << Encodings::displayName(encoding);
    EXPECT_EQ(items, expected);
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(storedOnOpening.toLongLong(), -1);

    // UTF-16 with its byte-order mark, remembered by the document.
    const QByteArray bytes = test::readFile(folder + "/Wide.txt");
    EXPECT_TRUE(bytes.startsWith("\xFF\xFE"));
    EXPECT_EQ(TextFileCodec::read(bytes, Encoding::utf8)->text, QStringLiteral(u"Café"));
    EXPECT_EQ(document.data().encoding(), Encoding::utf16);
    EXPECT_EQ(UserDefaults::standard().integerValue(QStringLiteral("saveEncoding")), qint64(Encoding::utf16));
    UserDefaults::standard().remove(QStringLiteral("saveEncoding"));
}

TEST(StandardDialogs, TheOpenDialogsEncodingReadsTheFilesChosen)
{
    const QString folder = test::freshDirectory("open-encoding");
    const QString text = QStringLiteral(u"It’s “quoted” — naïve, 5 €.\n");
    test::writeFile(folder + "/Windows.txt", *Encodings::encode(text, Encoding::windowsCP1252));
    StandardDialogs dialogs;

    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_TRUE(dialog);
        chooseEncoding(dialog, qint64(Encoding::windowsCP1252));
        dialog->setDirectory(folder);
        dialog->selectFile(folder + "/Windows.txt");
        pressButton(dialog, QDialogButtonBox::Open);
    });
    const QStringList chosen = dialogs.chooseFilesToOpen();
    ASSERT_EQ(chosen, QStringList{folder + "/Windows.txt"});
    EXPECT_EQ(UserDefaults::standard().integerValue(QStringLiteral("saveEncoding")), qint64(Encoding::windowsCP1252));
    Document document;
    ASSERT_TRUE(document.readFromFile(chosen.first(), QStringLiteral("text/plain")).ok());
    EXPECT_EQ(document.data().textStorage().string(), text);
    EXPECT_EQ(document.data().encoding(), Encoding::windowsCP1252);

    // Cancelling keeps the choice: the chooser is the preference.
    whenModal([&](QWidget* widget) {
        chooseEncoding(widget, qint64(Encoding::macOSRoman));
        static_cast<QDialog*>(widget)->reject();
    });
    EXPECT_TRUE(dialogs.chooseFilesToOpen().isEmpty());
    EXPECT_EQ(UserDefaults::standard().integerValue(QStringLiteral("saveEncoding")), qint64(Encoding::macOSRoman));
    UserDefaults::standard().remove(QStringLiteral("saveEncoding"));
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

// An export that fails before its progress window came up: the failure
// dialog stays in front and usable, with no progress window over it, even
// after the time the progress waits before it shows.
TEST(StandardDialogs, AnEndedProgressNeverComesUpOverTheDialogThatFollows)
{
    StandardDialogs dialogs;
    Document document;
    const auto visibleProgress = [] {
        int visible = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<QProgressDialog*>(widget) && widget->isVisible()) ++visible;
        return visible;
    };

    for (const bool longExport : {false, true}) {
        const std::function<void()> endProgress = dialogs.beginProgress(document, "Exporting “Notes.html”…");
        // A long export shows its progress first.
        if (longExport) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return visibleProgress() == 1; }, test::patience));
        }
        bool answered = false;
        whenModal([&](QWidget* dialog) {
            // Longer than the progress waits before it shows.
            QTest::qWait(1000);
            EXPECT_EQ(visibleProgress(), 0) << "a progress window covers the failure";
            EXPECT_EQ(QApplication::activeModalWidget(), dialog);
            answered = true;
            for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
                if (button->text() == "OK") return button->click();
            static_cast<QDialog*>(dialog)->reject();
        });
        // The export's end comes from the main loop, as the background
        // work hands it over.
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            endProgress();
            EXPECT_EQ(visibleProgress(), 0);
            dialogs.presentError(document, PlatformError(PlatformError::Code::writeFailed,
                                                         "The HTML file “Notes.html” couldn't be saved.",
                                                         "The disk is full."));
            loop.quit();
        });
        loop.exec();
        EXPECT_TRUE(answered);
    }
}

// A message names files as they are: a name that looks like HTML shows as
// written, and nothing it would name is loaded.
TEST(StandardDialogs, MessagesShowFileNamesAsWrittenAndLoadNothing)
{
    const QString dir = lumora::test::freshDirectory("dialog-names");
    lumora::test::WatchedPipe pipe(dir + "/pipe.png");
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir); // where a relative image would be looked for
    StandardDialogs dialogs;
    Document document;
    QStringList shown;
    whenModal([&](QWidget* dialog) {
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;
            shown << label->text();
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
        static_cast<QDialog*>(dialog)->reject();
    });
    const QString message = "The document “<img src=pipe.png><b>Notes</b>.md” couldn't be saved.";
    const QString reason = "<img src=pipe.png> Its folder no longer exists.";
    dialogs.presentError(document, PlatformError(PlatformError::Code::writeFailed, message, reason));
    QDir::setCurrent(before);
    EXPECT_TRUE(shown.contains(message)) << shown.join(" | ").toStdString();
    EXPECT_TRUE(shown.contains(reason)) << shown.join(" | ").toStdString();
    EXPECT_FALSE(pipe.opened()) << "the message loaded the image its file name names";
}
