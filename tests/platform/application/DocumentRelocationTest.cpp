// A document follows its file when the program moves, renames or trashes it.
#include "platform/application/DocumentBase.h"
#include "platform/files/FileRelocations.h"

#include "TextDocument.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(DocumentRelocation, DocumentsFollowAnnouncedMovesOnly)
{
    const QString folder = freshDirectory("relocation");
    writeFile(folder + "/Doc/a.md", "a");
    writeFile(folder + "/Documents/b.md", "b");
    TextDocument a;
    TextDocument b;
    ASSERT_TRUE(a.readFromFile(folder + "/Doc/a.md", "public.plain-text").ok());
    ASSERT_TRUE(b.readFromFile(folder + "/Documents/b.md", "public.plain-text").ok());
    a.edit(" pending");
    b.edit(" pending too");
    FileRelocations& relocations = FileRelocations::shared();

    // Before a move, the documents inside save; a neighbour whose path only
    // starts with the same letters does not.
    relocations.announceWillMove(folder + "/Doc");
    EXPECT_FALSE(a.isDocumentEdited());
    EXPECT_EQ(readFile(folder + "/Doc/a.md"), "a pending");
    EXPECT_TRUE(b.isDocumentEdited());

    ASSERT_TRUE(QDir().rename(folder + "/Doc", folder + "/Renamed"));
    relocations.announceMoved(folder + "/Doc", folder + "/Renamed");
    EXPECT_EQ(a.filePath(), folder + "/Renamed/a.md");
    EXPECT_EQ(b.filePath(), folder + "/Documents/b.md");
    EXPECT_FALSE(a.fileChangedOnDisk());

    // Trashed: the document follows into the Trash, saves there and closes.
    const QString trash = freshDirectory("trash");
    relocations.announceWillMove(folder + "/Documents/b.md");
    b.edit(" and more");
    ASSERT_TRUE(QDir().rename(folder + "/Documents/b.md", trash + "/b.md"));
    relocations.announceTrashed(folder + "/Documents/b.md", trash + "/b.md");
    EXPECT_TRUE(b.isClosed());
    EXPECT_EQ(readFile(trash + "/b.md"), "b pending too and more");
    EXPECT_FALSE(QFileInfo::exists(folder + "/Documents/b.md"));
}
