#pragma once

class QColor;
class QPoint;

namespace lumora {

class DocumentViewController;
class DocumentWindowBase;
class LibraryViewController;
class OutlineViewController;
class SplitView;

// The panes of a document window: a split view of three panes in fixed
// order, 0 the library pane, 1 the editor pane, 2 the outline pane, which is
// the window's content. A side pane is visible exactly when it is not
// collapsed; the panes' widths are kept under "mainSplitView". The widgets
// belong to the window.
class WindowPanes {
public:
    // The split view's items.
    enum Item { libraryItem = 0, editorItem = 1, outlineItem = 2 };

    // Builds the panes and makes their split view the window's content.
    explicit WindowPanes(DocumentWindowBase& window);

    SplitView* splitView() const { return m_splitView; }
    LibraryViewController& library() const { return *m_library; }
    DocumentViewController& editor() const { return *m_editor; }
    OutlineViewController& outline() const { return *m_outline; }

    bool isLibraryVisible() const;
    bool isOutlineVisible() const;
    // Shows or collapses the side pane, and nothing else: what showing it
    // means to the window is the window controller's.
    void setLibraryCollapsed(bool collapsed);
    void setOutlineCollapsed(bool collapsed);

    // The width the visible side panes take beside the editor, with their
    // hairlines.
    int sidePanesWidth() const;
    // Whether the point (global) lies on a visible side pane.
    bool isOverLibrary(const QPoint& global) const;
    bool isOverOutline(const QPoint& global) const;

    // The panes and the hairlines between them on the theme's colours.
    void applyTheme(const QColor& background, const QColor& foreground);

private:
    SplitView* m_splitView = nullptr;
    LibraryViewController* m_library = nullptr;
    DocumentViewController* m_editor = nullptr;
    OutlineViewController* m_outline = nullptr;
};

} // namespace lumora
