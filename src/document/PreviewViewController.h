#pragma once


#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QWebEngineProfile;
class QWebEngineView;

namespace lumora {

class Document;
class PreviewPage;
class ScratchFolder;

// The content of a document window's preview window: the document rendered
// as HTML in a web view. It is a snapshot, not a live view: updatePreview
// renders the document as it is when the window is brought forward, and
// nothing changes while the writer types.
//
// The page is the writer's own text, shown safely: no JavaScript runs,
// nothing is loaded from the network, local files only by the rules
// printing follows too (LocalResources.h: ordinary files of bounded size,
// never a pipe or a device; relative addresses from the document's
// folder), the view never navigates away from the page (a web or mail
// link goes to the desktop's browser or mail program, a link to a text
// document opens it in Lumora, any other file is only shown in the file
// manager, never opened, other schemes go nowhere; a link to a place on
// the page scrolls there), and nothing is stored. The page is drawn in the
// current theme's colours.
//
// Pages too large for the web view to take as a string (about 2 MB) load
// from a file in a private scratch folder (ScratchFolder "preview"),
// removed with the preview, or at the next start after a crash.
//
// As a window it closes with File ▸ Close (Ctrl+W).
class PreviewViewController : public QWidget {
    Q_OBJECT

public:
    explicit PreviewViewController(QWidget* parent = nullptr);
    ~PreviewViewController() override;

    // The document shown; set before each update.
    QPointer<Document> document;

    QWebEngineView* webView() const { return m_webView; }

    // Renders document into the web view and titles the window after the
    // document's first window. The conversion runs off the main thread and
    // the page follows when it is done (the latest request wins). Without a
    // document nothing happens; when the conversion gives no HTML the last
    // page stays.
    void updatePreview();

    // Shows html as the page, in the theme's colours, with images relative
    // to folder (none when folder is empty). A complete HTML document keeps
    // its own head, which may style it further.
    void loadHTML(const QString& html, const QString& folder = {});

    // Removes the page files of previews whose process crashed or was
    // killed (never those of a Lumora still running); run at start-up.
    static void removeAbandonedPages();

    // Pages whose UTF-8 is longer than this load from a file.
    static constexpr qsizetype maximumInlineSize = 1500 * 1000;

signals:
    // The page finished loading (false when it could not be shown).
    void loadFinished(bool ok);

private:
    QWebEngineProfile* m_profile = nullptr;
    PreviewPage* m_page = nullptr;
    QWebEngineView* m_webView = nullptr;
    std::unique_ptr<ScratchFolder> m_folder;
    int m_loads = 0;
    int m_conversions = 0; // requests made; only the latest is shown
};

} // namespace lumora
