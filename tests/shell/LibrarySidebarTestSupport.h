#pragma once

#include "ShellTestSupport.h"

#include "library/File.h"
#include "library/FileController.h"
#include "library/FileRowDelegate.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryViewController.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

namespace lumora::test {

inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    return QTest::qWaitFor(condition, milliseconds);
}

// A library folder of a few documents and folders, as a writer keeps them.
inline QString makeNotesFolder(const QString& name)
{
    const QString folder = freshDirectory(name);
    writeFile(folder + "/Chapter One.md", "# Chapter One\n\nThe rain had stopped by the time the ferry left the "
                                          "harbour, and the town behind them grew small and quiet.\n");
    writeFile(folder + "/Chapter Two.md", "# Chapter Two\n\nShe kept the letter in her coat for three days before "
                                          "she found the courage to open it.\n");
    writeFile(folder + "/Ideas.txt", "A lighthouse keeper who collects lost gloves.\nA map drawn on the back of a "
                                     "receipt.\n");
    writeFile(folder + "/Research/Tides.md", "Spring tides come twice a month, near the new and full moon.\n");
    writeFile(folder + "/Research/Ferries.md", "The first crossing leaves at six.\n");
    writeFile(folder + "/Drafts/Opening lines.md", "It was the kind of morning that forgives everything.\n");
    writeFile(folder + "/Drafts/Old ending.md", "");
    return folder;
}

// The shared library list emptied, with no sidebar watching it.
inline void resetLibraries()
{
    LibraryController& list = LibraryController::shared();
    while (!list.libraries().empty()) {
        Library& library = *list.libraries().front();
        if (library.isLinked()) list.toggleLinked(library);
        else list.removeLibrary(library);
    }
    UserDefaults::standard().remove("libraries");
    UserDefaults::standard().remove("selectedLibrary");
}

// The document a window shows and its pane.
inline LibraryViewController& paneOf(WindowController* window) { return window->libraryPane(); }

// The row of the file at path in the pane (invalid when not shown).
inline QModelIndex rowOf(LibraryViewController& pane, const QString& path)
{
    FileController* controller = pane.library() ? pane.library()->fileController() : nullptr;
    if (!controller || !controller->rootFile()) return {};
    File* file = pane.filteredRootFile() ? pane.filteredRootFile()->fileAtPath(path) : nullptr;
    return file ? pane.model().indexOf(file) : QModelIndex();
}

// Clicks a row of the outline as the writer would.
inline void clickRow(LibraryViewController& pane, const QModelIndex& row)
{
    LibraryOutlineView* view = pane.fileView();
    view->scrollTo(row);
    const QRect rect = view->visualRect(row);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

} // namespace lumora::test
