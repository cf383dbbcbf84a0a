#pragma once

namespace lumora {

class Document;

// One editor showing a document: the editor pane of one document window.
// Every window of a document edits the document's one text storage; the
// document and its text data reach the windows only through this interface.
//
// Attaching: once the editor's mirror is bound to Document::data().textStorage,
// the pane calls Document::addEditor(*this) (the window was added to the
// document). The document then restyles the text when its styling is stale
// (a document read from disk is styled here, once, when it gets its first
// window) and calls updateInfo(). The pane itself sets its selection to the
// start of the text and takes the keyboard focus.
//
// Detaching: Document::removeEditor(*this) when the window closes; an editor
// that is destroyed while attached detaches itself. Registration order is
// window order: the first editor is the document's first window.
//
// All calls come on the main thread.
class DocumentEditor {
public:
    DocumentEditor() = default;
    DocumentEditor(const DocumentEditor&) = delete;
    DocumentEditor& operator=(const DocumentEditor&) = delete;
    virtual ~DocumentEditor();

    // The document this editor is attached to, or nullptr.
    Document* document() const { return m_document; }

    // After the whole text was restyled (a window was added, Markdown was
    // toggled, the text attributes changed) and after the file was read
    // again: the selection and focus-highlight colours from the theme.
    virtual void updateHighlightAttributes() = 0;
    // After the whole text was restyled: the attributes that newly typed
    // text takes.
    virtual void updateTypingAttributes() = 0;
    // The statistics line, from DocumentData::documentStatistics with the
    // editor's selection: after each read, each save or autosave, and when
    // the window is attached.
    virtual void updateInfo() = 0;
    // Brings the window to the front.
    virtual void showWindow() = 0;

    // The outline pane of the window. Windows without one (there are none in
    // the application; a bare editor in a test) keep these defaults.
    virtual bool isOutlineVisible() const { return false; }
    // After the file was read, while the outline pane is shown.
    virtual void reloadOutline() {}
    // Markdown was switched off in this (the first) window: hide the pane.
    virtual void setOutlineVisible(bool visible) { (void)visible; }

private:
    friend class Document;
    Document* m_document = nullptr;
};

} // namespace lumora
