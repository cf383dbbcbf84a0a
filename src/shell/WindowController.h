#pragma once

#include "library/LibraryViewController.h"
#include "shell/WindowPanes.h"

#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

namespace lumora {

class Document;
class DocumentViewController;
class DocumentWindowBase;
class Library;
class LibraryViewController;
class OutlineViewController;
class PreviewViewController;
class SplitView;
class TitleStripController;
class WindowCommands;

// The controller of one document window: a frameless window with its title
// strip (the main menu, the document's name, the window buttons) over the
// panes, the library, the editor and the outline side by side. It owns the
// window's parts and wires them together:
//
// - WindowPanes, the split view of the three panes;
// - TitleStripController, which shows and hides the title strip;
// - WindowPlacement, where the window goes and how wide it is;
// - WindowCommands, the window's commands and the validation of their items;
// - EditorPlace, the editor's selection and scroll position, kept to come
//   back to.
//
// In the responder chain it comes after the window and leads to its
// document; the command table reaches the window's commands through it.
//
// The window owns its controller. Closing the document's last window closes
// the document (which may ask to save, and may refuse); a window whose
// document the library still holds only lets go of it.
//
// The library pane may show another document in the window (a row opened
// there): the window then leaves its document the way closing would, and
// takes the new one in its place.
class WindowController : public QObject, public LibraryPaneHost {
    Q_OBJECT

public:
    // Builds the window for the document and attaches the editor pane to it
    // (the document's text, caret at the start); the window is not shown.
    explicit WindowController(Document& document);
    ~WindowController() override;

    // The controller of the window holding widget, or nullptr.
    static WindowController* of(const QWidget* widget);
    // The controllers of the document's windows, in window order.
    static std::vector<WindowController*> controllersOf(const Document& document);
    // Every document window's controller.
    static std::vector<WindowController*> all();

    DocumentWindowBase* window() const { return m_window; }
    Document* document() const { return m_document; }
    SplitView* splitView() const { return m_panes->splitView(); }
    QMenuBar* menuBar() const { return m_menuBar; }

    // The visible side panes (nullptr while collapsed) and the editor pane.
    LibraryViewController* libraryViewController() const;
    DocumentViewController* documentViewController() const { return &m_panes->editor(); }
    OutlineViewController* outlineViewController() const;
    // The side panes whether shown or not.
    LibraryViewController& libraryPane() const { return m_panes->library(); }
    OutlineViewController& outlinePane() const { return m_panes->outline(); }

    bool isLibraryVisible() const;
    bool isOutlineVisible() const;
    void setLibraryVisible(bool visible);
    // Showing it for a Markdown document rebuilds the outline first.
    void setOutlineVisible(bool visible);

    // Makes the window as wide as the editor size and the visible side panes
    // (see WindowPlacement).
    void resizeToEditorSize();

    // The window and its panes on the current theme's colours.
    void applyTheme();

    // The preview window of this window, once the preview command made it.
    PreviewViewController* previewWindowController() const;

    // The title strip's showing and hiding.
    TitleStripController& titleStrip() const { return *m_titleStrip; }

    // The library the library pane shows while it is visible, or none.
    // (The pane shows a folder: this is the library list's entry for it.)
    std::shared_ptr<Library> shownLibrary() const;

    // What the window brings back at the next launch besides its frame:
    // the folder its library pane shows, and the editor's selection and
    // scroll position.
    QVariantMap restorableState() const;
    void restoreState(const QVariantMap& state);

    // The window's commands, which the command table binds.
    WindowCommands& commands() const { return *m_commands; }

    // LibraryPaneHost
    Document* paneDocument() const override { return m_document; }
    bool leaveDocument() override;
    void showDocument(Document& document) override;
    void showUntitledDocument() override;
    QByteArray editorState() const override;
    void restoreEditorState(const QByteArray& state) override;
    void presentError(const PlatformError& error) override;
    void printDocuments(const std::vector<Document*>& documents) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUp();
    void connectDocument();
    void updateTitle();
    bool windowShouldClose();
    void detachFromDocument();

    QPointer<Document> m_document;
    DocumentWindowBase* m_window = nullptr;
    std::unique_ptr<WindowPanes> m_panes;
    std::unique_ptr<TitleStripController> m_titleStrip;
    std::unique_ptr<WindowCommands> m_commands;
    QPointer<QMenuBar> m_menuBar;
    bool m_closingDocument = false;
};

} // namespace lumora
