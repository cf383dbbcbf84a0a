#pragma once

#include <QObject>
#include <QString>

namespace lumora {

class Document;
class File;
class LibraryViewController;
class RegularFile;

// Opens the documents of the library pane's rows in its window. Choosing a
// document row opens it there once the window's current document agreed to
// go (see LibraryPaneHost::leaveDocument); every way of switching documents
// goes this road, and a refusal puts the selection back on the window's
// document. A document the library opened stays open with its row (a
// search's copy and the library's own row share it), and each document's
// place in the editor is kept per library.
class LibraryDocumentOpener : public QObject {
public:
    explicit LibraryDocumentOpener(LibraryViewController& pane);

    // The Open command, and a click on a row: opens the acted-on row's
    // document, when the window shows a document.
    void openSelectedFile();
    // Open acts while the file list has the focus.
    bool canOpenSelectedFile() const;
    // Selects a document's row alone and opens it (a folder: nothing).
    void selectAndOpenFile(File* file);
    // The row of path (and a search's copy of it) holds document.
    void bindDocument(const QString& path, Document* document);

    // The editor's place in a document, kept with its library.
    void saveDocumentState(RegularFile& file);
    void restoreDocumentState(RegularFile& file);

private:
    void openFileAtActedRow();
    void openDocumentAt(const QString& path);
    void switchWindowToFile(const QString& path);

    LibraryViewController& m_pane;
};

} // namespace lumora
