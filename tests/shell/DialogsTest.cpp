// The standard dialogs: each button, and Escape, gives the answer it says.
#include "shell/Dialogs.h"

#include "document/Document.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
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
