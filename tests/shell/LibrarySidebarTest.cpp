// The library pane in a document window: what it shows, and its looks.
#include "LibrarySidebarTestSupport.h"

#include "settings/Settings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

void useTheme(const char* id)
{
    Settings& settings = Settings::shared();
    for (const auto& theme : settings.themes)
        if (theme->id == id) settings.setTheme(theme);
}

} // namespace

TEST(LibrarySidebar, LooksFinishedBesideTheEditorInLightAndDark)
{
    resetLibraries();
    Shell shell(true);
    const QString folder = makeNotesFolder("looks");
    LibraryController::shared().addLibrary(folder, 0);
    Document* document = shell.open(folder + "/Chapter One.md");
    ASSERT_TRUE(document);
    WindowController* window = windowOf(document);
    window->setLibraryVisible(true);
    window->window()->resize(1100, 720);
    ASSERT_TRUE(activate(window));
    LibraryViewController& pane = paneOf(window);
    ASSERT_TRUE(pane.library());
    // The window's document is selected once its row shows.
    ASSERT_TRUE(waitFor([&] { return pane.fileView()->selectionModel()->hasSelection(); }));
    ASSERT_TRUE(waitFor([&] {
        auto* file = pane.regularFile(folder + "/Chapter Two.md");
        return file && !file->summary().isEmpty();
    }));
    const QDir dir(QString::fromLocal8Bit(qgetenv("LUMORA_SCREENSHOT_DIR")));
    for (const char* id : {"light", "dark"}) {
        useTheme(id);
        QTest::qWait(50);
        const QImage image = window->window()->grab().toImage();
        if (!dir.path().isEmpty() && dir.path() != ".") image.save(dir.filePath(QStringLiteral("library-%1.png").arg(id)));
    }
    useTheme("light");
}
