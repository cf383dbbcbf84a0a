#pragma once

#include "platform/application/DocumentBase.h"
#include "platform/application/Menu.h"
#include "platform/foundation/PlatformError.h"

#include <QHash>
#include <QLatin1String>
#include <QList>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumora {

class UserDefaults;

// A document window to bring back at the next launch: the document's file
// and the window's frame (empty when unknown).
struct RestorableWindow {
    QString path;
    QRect frame;
    // The window's own values to bring back (what its panes showed), kept as
    // given; empty when it has none.
    QVariantMap state;
    friend bool operator==(const RestorableWindow&, const RestorableWindow&) = default;
};

// A window brought back: its document, frame and own values.
struct RestoredWindow {
    DocumentBase* document = nullptr;
    QRect frame;
    QVariantMap state;
};

// The application's list of open documents and the ways documents open and
// close: open a file (a document already open is handed back), new untitled
// documents ("Untitled", "Untitled 2", ... the lowest number no open
// untitled document has), recent documents, closing everything, the
// autosaving delay, error presentation and the windows to restore at the
// next launch.
//
// Documents are made by a factory from a file type. The controller owns
// them and lets go of a document when it closes. Windows are not its
// business: showDocument() is where a subclass makes and shows them.
//
// It carries the commands for a new document, a recent document and
// clearing the recent documents.
class DocumentControllerBase : public QObject, public MenuDelegate {
    Q_OBJECT

public:
    using Factory = std::function<std::unique_ptr<DocumentBase>(const QString& type)>;
    using OpenCompletion =
        std::function<void(DocumentBase* document, bool wasAlreadyOpen, const std::optional<PlatformError>& error)>;

    static inline const QLatin1String plainTextType{"public.plain-text"};
    static inline const QLatin1String folderType{"public.folder"};
    static constexpr int maximumRecentDocumentCount = 10;

    // Recent documents and restorable windows are kept in defaults (not
    // owned; none keeps nothing).
    explicit DocumentControllerBase(UserDefaults* defaults, QObject* parent = nullptr);
    ~DocumentControllerBase() override;

    void setDocumentFactory(Factory factory) { m_factory = std::move(factory); }

    // The type of a file: a folder, or plain text for everything else.
    virtual QString typeForPath(const QString& path) const;

    std::vector<DocumentBase*> documents() const;
    // The open document of that file (paths compared after resolving links).
    DocumentBase* documentForPath(const QString& path) const;
    // Takes a document into the list; it leaves the list when it closes.
    DocumentBase* addDocument(std::unique_ptr<DocumentBase> document);
    // Hands a document back without closing it.
    std::unique_ptr<DocumentBase> removeDocument(DocumentBase* document);

    // Opens the file, or finds it open, and shows it when display is set;
    // the completion runs before this returns. The file joins the recent
    // documents.
    virtual void openDocument(const QString& path, bool display, const OpenCompletion& completion);
    PlatformResult<DocumentBase*> openDocument(const QString& path, bool display);
    // A new empty document with the next untitled name.
    virtual PlatformResult<DocumentBase*> openUntitledDocument(bool display);
    // Makes and shows the document's windows; nothing here.
    virtual void showDocument(DocumentBase& document);

    // Recent documents, most recent first. A document saved under a name for
    // the first time joins them; an entry follows its document when the
    // document's file is renamed or moved.
    QStringList recentDocumentPaths() const;
    // Puts the path first in the recent documents (a subclass may keep some out).
    virtual void noteNewRecentDocument(const QString& path);
    // The recent documents at from, or inside it, take their place under to
    // (a document renamed or moved, by the writer or the library).
    void relocateRecentDocuments(const QString& from, const QString& to);
    void clearRecentDocuments();
    bool hasRecentDocuments() const { return !recentDocumentPaths().isEmpty(); }
    // Opens the recent document at path (an Open Recent item's value).
    void openRecentDocument(const QVariant& path);
    // Opens and shows a new untitled document; a failure is presented.
    void newDocument();
    // "Open Recent": filled with the recent documents that still exist each
    // time it opens, then "Clear Menu".
    std::unique_ptr<Menu> makeRecentDocumentsMenu();
    void menuNeedsUpdate(Menu& menu) override;

    // Closes every document (each may ask to save); false when one stays open.
    bool closeAllDocuments();

    // The delay between the last change and the autosave, in seconds.
    static double autosavingDelay();
    static void setAutosavingDelay(double seconds);

    // Shows an error to the user through the presenter the shell installs
    // (a message box); without one the message goes to the log. A
    // cancellation is never shown.
    std::function<void(const PlatformError&)> errorPresenter;
    virtual void presentError(const PlatformError& error);

    // The windows to bring back: by default each open document that has a
    // file, without a frame; a subclass adds the frames of its windows.
    virtual QList<RestorableWindow> restorableWindows() const;
    void saveRestorableState();
    QList<RestorableWindow> storedRestorableWindows() const;
    // Opens the stored documents that still exist (shown, each once) and
    // returns them with their frames and values.
    QList<RestoredWindow> restoreWindows();
    // Before quitting: asks every document's questions first (saving in
    // place, or where the writer says; a document that cannot be saved asks
    // once, then keeps its text in a recovery file), and only then
    // remembers the windows and closes every document. False when the
    // writer cancelled: then nothing closed and the windows remembered stay
    // as they were.
    bool prepareToTerminate();
    // When the program must stop without asking anything (told to stop
    // while a question is open): remembers the windows, saves each edited
    // document where that needs no question and keeps the others' text in
    // recovery files. Documents stay open for the program to exit. Returns
    // the recovery files written.
    QStringList saveForImmediateExit();

signals:
    void documentAdded(DocumentBase* document);
    void documentRemoved(DocumentBase* document);

private:
    QString untitledNameFor(DocumentBase* document);
    void setRecentDocumentPaths(const QStringList& paths);

    UserDefaults* m_defaults;
    Factory m_factory;
    std::vector<std::unique_ptr<DocumentBase>> m_documents;
    QHash<DocumentBase*, int> m_untitledNumbers;
};

} // namespace lumora
