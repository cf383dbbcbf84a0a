#pragma once

#include "document/DocumentData.h"
#include "platform/application/DocumentBase.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace lumora {

class Document;
class DocumentEditor;
class PrintOperation;

// What a document needs of the application around it. The document
// controller installs one (Document::setHost); tests install a scripted one.
// Without one a document has no windows, exports nothing (no location) and,
// when the last library row lets go of it, closes itself.
class DocumentHost {
public:
    virtual ~DocumentHost() = default;
    // Builds one document window for the document; its editor pane attaches
    // with Document::addEditor.
    virtual void makeWindow(Document& document) = 0;
    // The last library row let go of a document without windows: forget it
    // as a child document (it stays out of the recent documents) and close it.
    virtual void closeChildDocument(Document& document) = 0;
    // Where to export the document as HTML: the save panel for the HTML type,
    // as a sheet on the document's last window, with proposedName in its
    // name field (left to the panel when empty). None when cancelled.
    virtual std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) = 0;
    // Opens the file at path for a library row without showing it (handing
    // back a document that is already open), then calls completion with the
    // document or the error.
    using OpenCompletion = std::function<void(Document* document, const std::optional<PlatformError>& error)>;
    virtual void openDocumentWithoutDisplay(const QString& path, OpenCompletion completion) = 0;
    // Opens the file at path as File ▸ Open does, in a window (bringing
    // forward the one it has when it is open); an error is presented.
    // Nothing by default.
    virtual void openDocumentInWindow(const QString& path) { (void)path; }
    // Shows that something slow is under way for the document (message
    // says what) when it takes longer than a moment; the returned function
    // ends the indication. None by default.
    virtual std::function<void()> beginProgress(const Document& document, const QString& message)
    {
        (void)document;
        (void)message;
        return {};
    }
};

// The document of one plain-text Markdown file: its DocumentData, the editors
// of its windows, reading and writing through the data, export as HTML, the
// Markdown switch, and the count of library rows that hold it.
//
// Opening, saving, autosaving in place, the check for a file changed by
// another program and closing are DocumentBase's. After each read the
// editors refresh their statistics line, highlight colours and outline; after
// each save or autosave their statistics line (both on a later turn of the
// main thread). The review request counts saves through DocumentBase::saved.
//
// Printing takes a list of documents and reads their data (see
// PrintOperation); the document prints itself alone.
//
// The save dialog's encoding choice reaches the document through
// setSaveDialogEncoding: it applies to the save that follows and, once that
// succeeded, becomes the encoding the document remembers. Reverting (and
// loading the other version of a file changed elsewhere) reads the file in
// the remembered encoding first.
//
// Its window's commands reach it through the window's controller: the
// Markdown switch (checked while Markdown is on), Export as HTML, Print,
// Page Setup, and the title's document menu: Rename, Move To and Locked
// (checked while locked).
class Document : public DocumentBase {
    Q_OBJECT

public:
    explicit Document(QObject* parent = nullptr);
    ~Document() override;

    // The application's document controller, or nullptr (not owned).
    static DocumentHost* host();
    static void setHost(DocumentHost* host);

    // Every file is saved with this extension, whatever its type.
    static QString fileNameExtension() { return QStringLiteral("txt"); }

    DocumentData& data() { return m_data; }
    const DocumentData& data() const { return m_data; }

    // Windows -------------------------------------------------------------

    // Asks the host for one document window.
    void makeWindowControllers();
    // Makes a window first when the document has none (one opened for a
    // library row), then brings every window to the front.
    void showWindows();
    // An editor pane whose mirror shows data().textStorage(): registers it,
    // restyles the text when its styling is stale (see DocumentEditor), and
    // refreshes its statistics line. Adding an editor twice does nothing.
    void addEditor(DocumentEditor& editor);
    // The window closed: the editor leaves the document. (Closing the last
    // window closes the document; that is the window's business.)
    void removeEditor(DocumentEditor& editor);
    const std::vector<DocumentEditor*>& editors() const { return m_data.editors(); }

    // Library rows -------------------------------------------------------

    // How many library rows hold this document. A row takes a reference when
    // it is bound to the document and lets go when it is unbound; when the
    // count falls to 0 while the document has no window, the host's
    // closeChildDocument closes it.
    int referencesCount() const { return m_referencesCount; }
    void addReference();
    void removeReference();

    // Opens a library file without showing it (through the host) and hands
    // the document to completion, which binds the row (addReference).
    static void openLibraryFile(const QString& path, DocumentHost::OpenCompletion completion);

    // Commands -------------------------------------------------------------

    // The name the save and export panels propose for a document without a
    // file: the first sentence of its text (without its Markdown line prefix
    // while Markdown is on), made usable as a file name: whitespace and line
    // breaks trimmed, "/" and control characters replaced, no leading ".",
    // short enough for the file system with the extension added. None for a
    // document with a file, or when the text gives no name.
    std::optional<QString> suggestedFileName() const;

    // Switches Markdown for this document; when it is off afterwards, the
    // first window hides its outline pane.
    void toggleMarkdown();
    bool isMarkdownEnabled() const { return m_data.enableMarkdown; }

    // Converts the whole text to HTML and writes it, as UTF-16 with a
    // byte-order mark, atomically, where the host's export panel says.
    // The conversion and the write run off the main thread (the window
    // stays responsive; the host shows progress when it takes long), on the
    // text as it was when the panel closed; exportFinished tells the end.
    // Errors are presented; cancelling does nothing. The document is not
    // changed either way.
    void exportAsHTML();
    bool isExporting() const { return m_exportsRunning > 0; }
    // The HTML of the whole text, or none when the conversion gives nothing.
    // The conversion runs off the main thread; when it takes more than a
    // moment the host shows progress, and the main thread keeps drawing the
    // windows while it waits (input waits until it is done).
    std::optional<QString> htmlOfText() const;
    // The same without waiting: done gets the HTML on the main thread, later
    // (never when the document went away first).
    void convertToHTML(std::function<void(const std::optional<QString>& html)> done) const;
    // The conversion export uses, Markdown text to HTML: the one every HTML
    // output uses (MultiMarkdown::applicationHtml: smart typography, notes,
    // CriticMarkup, transclusion; HTML; English), installed at start-up.
    // None installed means no HTML.
    using HTMLConverter = std::function<std::optional<QString>(const QString& markdown)>;
    static void setHTMLConverter(HTMLConverter converter);

    // One print job over the documents, printed one after another (the
    // library prints several at once).
    static std::unique_ptr<PrintOperation> makePrintOperation(const std::vector<Document*>& documents);
    // Prints this document alone through the print panel, in front of its
    // window; what goes wrong (nothing to print, a failed job) is presented.
    void printDocument();

    // The encoding chosen in the save dialog for the save that follows: an
    // encoding's number, or -1 for automatic (the remembered encoding, else
    // the "saveEncoding" preference). That save writes in it (UTF-8 when the
    // text does not fit), and once it succeeded the document remembers it.
    void setSaveDialogEncoding(qint64 choice);

    // The refreshes after reading and after producing file data; each is
    // queued on the main thread by the read or save that calls for it.
    void refreshAfterRead();
    void refreshAfterSave();

    // The title's document menu and Page Setup, each failure presented
    // (a cancelled dialog is none).
    void renameDocument();
    void moveDocument();
    void toggleDocumentLocked();
    void runPageLayout();

signals:
    // An export to path ended; error is empty when the file was written.
    void exportFinished(const QString& path, const QString& error);

protected:
    PlatformStatus readFromData(const QByteArray& data, const QString& type, const QString& path) override;
    PlatformResult<QByteArray> dataOfType(const QString& type) override;
    // Reverting and reloading are one undoable edit of the text.
    PlatformStatus replaceContents(const QByteArray& data, const QString& type, const QString& path) override;
    void didSave() override;
    // An earlier dialog's encoding choice never outlives its save.
    std::optional<QString> chooseSaveLocation() override;

private:
    void closeIfUnreferenced();
    void presentFailure(const PlatformStatus& status);
    QWidget* frontWindow() const;

    DocumentData m_data;
    int m_referencesCount = 0;
    int m_exportsRunning = 0;
    std::optional<TextFileFormat> m_saveDialogFormat;
};

} // namespace lumora
