#include "TextDocument.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/CommandTable.h"
#include "platform/application/DocumentControllerBase.h"
#include "platform/files/UserDefaults.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace lumora;
using lumora::test::freshDirectory;
using lumora::test::writeFile;

namespace {

// Keeps some files out of the recent documents, as library rows' documents are.
class Controller : public DocumentControllerBase {
public:
    using DocumentControllerBase::DocumentControllerBase;
    QStringList children;
    QStringList shown;
    void noteNewRecentDocument(const QString& path) override
    {
        if (!children.contains(path)) DocumentControllerBase::noteNewRecentDocument(path);
    }
    void showDocument(DocumentBase& document) override { shown << document.displayName(); }
};

struct Fixture {
    QString folder;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<Controller> controller;
    QList<PlatformError> presented;

    explicit Fixture(const char* name)
        : folder(freshDirectory(QLatin1String(name))),
          defaults(std::make_unique<UserDefaults>(folder + QStringLiteral("/defaults.json")))
    {
        remake();
    }
    void remake()
    {
        controller = std::make_unique<Controller>(defaults.get());
        controller->setDocumentFactory([](const QString& type) -> std::unique_ptr<DocumentBase> {
            if (type != DocumentControllerBase::plainTextType) return nullptr;
            return std::make_unique<test::TextDocument>();
        });
        controller->errorPresenter = [this](const PlatformError& e) { presented << e; };
    }
    QString file(const QString& name, const QByteArray& bytes = "text")
    {
        const QString path = folder + QLatin1Char('/') + name;
        writeFile(path, bytes);
        return path;
    }
};

} // namespace

TEST(DocumentControllerBase, AFileOpenTwiceIsOneDocument)
{
    Fixture f("controller-open");
    const QString path = f.file("a.txt", "hello");
    QFile::link(path, f.folder + "/link.txt");

    bool again = true;
    DocumentBase* first = nullptr;
    f.controller->openDocument(path, true, [&](DocumentBase* d, bool wasOpen, const std::optional<PlatformError>& e) {
        first = d;
        again = wasOpen;
        EXPECT_FALSE(e);
    });
    ASSERT_TRUE(first);
    EXPECT_FALSE(again);
    EXPECT_EQ(static_cast<test::TextDocument*>(first)->text, QStringLiteral("hello"));

    f.controller->openDocument(f.folder + "/link.txt", true,
                               [&](DocumentBase* d, bool wasOpen, const std::optional<PlatformError>&) {
                                   EXPECT_EQ(d, first);
                                   again = wasOpen;
                               });
    EXPECT_TRUE(again);
    EXPECT_EQ(f.controller->documents().size(), 1u);
    EXPECT_EQ(f.controller->shown, (QStringList{"a.txt", "a.txt"}));

    // A file that cannot be read, and a folder, give errors and no document.
    EXPECT_FALSE(f.controller->openDocument(f.folder + "/missing.txt", true));
    const auto folder = f.controller->openDocument(f.folder, true);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().filePath, f.folder);
    EXPECT_EQ(f.controller->documents().size(), 1u);

    // A closed document leaves the list.
    ASSERT_TRUE(first->close());
    EXPECT_TRUE(f.controller->documents().empty());

    // Errors go to the presenter, cancellations nowhere.
    f.controller->presentError(PlatformError::cancelled());
    f.controller->presentError(PlatformError(PlatformError::Code::generic, "Broken"));
    ASSERT_EQ(f.presented.size(), 1);
    EXPECT_EQ(f.presented[0].errorDescription, QStringLiteral("Broken"));
}

TEST(DocumentControllerBase, UntitledDocumentsTakeTheLowestFreeNumber)
{
    Fixture f("controller-untitled");
    QList<DocumentBase*> made;
    for (int i = 0; i < 3; ++i) made << *f.controller->openUntitledDocument(false);
    EXPECT_EQ(made[0]->displayName(), QStringLiteral("Untitled"));
    EXPECT_EQ(made[1]->displayName(), QStringLiteral("Untitled 2"));
    EXPECT_EQ(made[2]->displayName(), QStringLiteral("Untitled 3"));

    ASSERT_TRUE(made[1]->close()); // unedited: closes without asking
    EXPECT_EQ((*f.controller->openUntitledDocument(false))->displayName(), QStringLiteral("Untitled 2"));
    ASSERT_TRUE(made[0]->saveAs(f.folder + "/saved.txt"));
    EXPECT_EQ((*f.controller->openUntitledDocument(false))->displayName(), QStringLiteral("Untitled"));

    // An edited untitled document asks; without an answer it stays open.
    static_cast<test::TextDocument*>(made[2])->edit(QStringLiteral("x"));
    EXPECT_FALSE(f.controller->closeAllDocuments());
    EXPECT_FALSE(made[2]->isClosed());

    DocumentControllerBase::setAutosavingDelay(15.0); // seconds here, milliseconds below
    EXPECT_EQ(DocumentBase::autosavingDelay(), 15000);
}

TEST(DocumentControllerBase, RecentDocumentsKeepTheLatestFirst)
{
    Fixture f("controller-recent");
    QStringList paths;
    for (int i = 0; i < 12; ++i) paths << f.file(QStringLiteral("%1.txt").arg(i));
    f.controller->children << paths[11];
    for (const QString& path : paths) ASSERT_TRUE(f.controller->openDocument(path, false));
    f.controller->noteNewRecentDocument(paths[3]);

    QStringList expected{paths[3], paths[10], paths[9], paths[8], paths[7], paths[6], paths[5], paths[4], paths[2], paths[1]};
    EXPECT_EQ(f.controller->recentDocumentPaths(), expected); // no child, no duplicate, ten at most

    // The menu lists files that still exist, then "Clear Menu".
    QFile::remove(paths[10]);
    auto recent = f.controller->makeRecentDocumentsMenu();
    // The application's table binds the menu's commands to the controller.
    CommandTable table;
    table.add(Command::openRecentDocument, "openRecentDocument")
        .handledBy(on<DocumentControllerBase>(&DocumentControllerBase::openRecentDocument));
    table.add(Command::clearRecentDocuments, "clearRecentDocuments")
        .handledBy(on<DocumentControllerBase>(&DocumentControllerBase::clearRecentDocuments)
                       .enabledIf(&DocumentControllerBase::hasRecentDocuments));
    ActionDispatcher::instance().setCommandTable(&table);
    ActionDispatcher::instance().addApplicationTarget(f.controller.get());
    ActionDispatcher::instance().validateMenu(*recent);
    ASSERT_EQ(recent->count(), 11);
    EXPECT_EQ(recent->itemAt(0)->title(), QStringLiteral("3.txt"));
    EXPECT_EQ(recent->itemAt(1)->representedObject().toString(), paths[9]);
    MenuItem& clear = *recent->itemAt(10);
    EXPECT_TRUE(clear.isEnabled());
    ActionDispatcher::instance().performMenuItem(clear);
    EXPECT_TRUE(f.controller->recentDocumentPaths().isEmpty());
    ActionDispatcher::instance().validateMenu(*recent);
    EXPECT_EQ(recent->count(), 1);
    EXPECT_FALSE(recent->itemAt(0)->isEnabled());
    ActionDispatcher::instance().removeApplicationTarget(f.controller.get());
    ActionDispatcher::instance().setCommandTable(nullptr);
}

TEST(DocumentControllerBase, OpenDocumentsComeBackAtTheNextLaunch)
{
    // Stored and brought back by the program itself in LaunchTest.cpp; here
    // what is read back: a frame survives, a file gone since and a broken
    // entry are skipped.
    Fixture f("controller-restore");
    const QString a = f.file("a.txt");
    f.defaults->set("restorableWindows",
                    QVariantList{QVariantMap{{"path", a},
                                             {"frame", QVariantList{10, 20, 800, 600}},
                                             {"state", QVariantMap{{"pane", "shown"}}}},
                                 QVariantMap{{"path", f.folder + "/gone.txt"}}, 5});
    const auto restored = f.controller->restoreWindows();
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0].document->filePath(), a);
    EXPECT_EQ(restored[0].frame, QRect(10, 20, 800, 600));
    EXPECT_EQ(restored[0].state, (QVariantMap{{"pane", "shown"}}));
    EXPECT_EQ(f.controller->shown, QStringList{"a.txt"});
}
