#pragma once

#include "ShellTestSupport.h"
#include "library/LibraryTestSupport.h"

#include "library/File.h"
#include "library/FileController.h"
#include "library/FileRowDelegate.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryFileCommands.h"
#include "library/LibraryPaneHeader.h"
#include "library/LibraryRows.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryView.h"
#include "library/LibraryViewController.h"
#include "platform/foundation/Bundle.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QToolButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace lumora::test {

inline bool waitFor(const std::function<bool()>& condition, int milliseconds = patience)
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

// The shared library list emptied, with no sidebar watching it; the
// introduction of a first launch is not due.
inline void resetLibraries()
{
    UserDefaults::standard().set("lastVersion", Bundle::buildNumber());
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

// Waits until the pane has read the tree of the library it shows (folders
// are read on another thread).
inline bool waitForTree(LibraryViewController& pane, int milliseconds = patience)
{
    return waitFor([&] { return !pane.isLoadingTree(); }, milliseconds);
}

// The row of the file at path in the pane (invalid when not shown).
inline QModelIndex rowOf(LibraryViewController& pane, const QString& path)
{
    FileController* controller = pane.library() ? pane.library()->fileController() : nullptr;
    if (!controller || !controller->rootFile()) return {};
    Directory* shown = pane.rows().filteredRootFile();
    File* file = shown ? shown->fileAtPath(path) : nullptr;
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

namespace lumora::test {

// A window showing the library of folder beside the document at path (an
// untitled document when path is empty), shown and active.
struct LibraryWindow {
    WindowController* window = nullptr;
    LibraryViewController* pane = nullptr;

    LibraryWindow(Shell& shell, const QString& path)
    {
        Document* document = nullptr;
        if (path.isEmpty()) {
            auto made = shell.controller->openUntitledDocument(true);
            document = made ? qobject_cast<Document*>(*made) : nullptr;
        } else {
            document = shell.open(path);
        }
        window = windowOf(document);
        if (!window) return;
        window->setLibraryVisible(true);
        window->window()->resize(1000, 760);
        activate(window);
        pane = &window->libraryPane();
        QCoreApplication::processEvents();
        waitForTree(*pane);
    }
    // Shows a library and waits until its tree is read.
    void show(const std::shared_ptr<Library>& library) const
    {
        pane->setLibrary(library);
        waitForTree(*pane);
    }
    Document* document() const { return window->document(); }
    QString documentPath() const { return window->document() ? window->document()->filePath() : QString(); }
    QModelIndex row(const QString& path) const { return rowOf(*pane, path); }
    void click(const QString& path) const { clickRow(*pane, row(path)); }
    void select(const QString& path) const
    {
        pane->fileView()->selectionModel()->select(row(path), QItemSelectionModel::ClearAndSelect
                                                                  | QItemSelectionModel::Rows);
    }
    // Types into the editor, so the document is edited.
    void type(const QString& text) const
    {
        TextView* editor = window->documentViewController()->textView();
        editor->setFocus();
        QTest::keyClicks(editor, text);
    }
    // The ink where the search field's clear button stands.
    int clearButtonInk() const
    {
        QLineEdit* field = pane->searchField();
        QRect area;
        for (QToolButton* button : field->findChildren<QToolButton*>())
            if (button->geometry().center().x() > field->width() / 2) area = button->geometry();
        if (area.isEmpty()) return 0;
        const QImage image = field->grab().toImage();
        const QColor background = image.pixelColor(area.left() - 2, area.top() + 2);
        int ink = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) != background) ++ink;
        return ink;
    }
    // The field of a row's name being edited, once it opens.
    QLineEdit* nameEditor() const
    {
        QLineEdit* field = nullptr;
        waitFor([&] {
            field = pane->fileView()->viewport()->findChild<QLineEdit*>();
            return field && field->isVisible();
        });
        return field;
    }
};

// The library sidebar tests. Each starts from an empty library list that no
// sidebar watches, with the application started over it.
class LibrarySidebar : public ::testing::Test {
protected:
    LibrarySidebar()
    {
        resetLibraries();
        m_shell.emplace(true);
    }

    Shell& shell() { return *m_shell; }
    // The application quits and starts again: it reads the stored list.
    void relaunch()
    {
        m_shell.reset();
        m_shell.emplace(true);
    }

    // A notes folder (see makeNotesFolder) becomes folder, the list's first
    // library.
    void addNotesLibrary(const QString& name)
    {
        folder = makeNotesFolder(name);
        LibraryController::shared().addLibrary(folder, 0);
    }
    // The usual start: a notes library, and a window showing it beside one of
    // its documents (by name; none: an untitled document).
    LibraryWindow openNotes(const QString& name, const QString& document = QString())
    {
        addNotesLibrary(name);
        return LibraryWindow(shell(), document.isEmpty() ? QString() : folder + QLatin1Char('/') + document);
    }

    // The folder of the library the test is about.
    QString folder;

private:
    std::optional<Shell> m_shell;
};

} // namespace lumora::test
