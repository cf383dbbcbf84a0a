#pragma once

#include "document/EditGate.h"
#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/UndoManager.h"

#include <QStringList>
#include <QTextEdit>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace lumora {

class EditorClipboard;
class EditorCommands;
class EditorHighlighting;
class EditorScrolling;
class EditorTyping;
class ParsedMarkdownStylesheet;
class TextMirror;
class TextServices;
class TextStorage;
class Theme;

// The editor of a document window. It shows the document's text storage
// through a mirror of its own and never lets Qt edit that mirror: every
// entry point (keys, input methods, paste, drops, the context menu, undo)
// turns the writer's intent into a replacement of a range and hands it to
// the one edit gate, replaceCharacters(). The gate asks whether the change is
// allowed (the no-editing rule), replaces the characters in the storage,
// restyles the touched paragraphs in the same editing bracket (so the mirror
// and its layout are updated once), records the change for undo, sets the
// selection and then does what follows an edit: the outline, focus
// highlighting, typing attributes, typewriter scrolling, list continuation
// and the typing sound.
//
// Until the document and the window exist, the view is given its storage and
// undo stack directly, and reaches its window through Hooks.
//
// It carries the standard edit commands (undo, redo, cut, copy, paste,
// delete, select all, Tab and Shift+Tab), each through the gate; its
// EditorCommands and TextServices carry the editor's other commands.
// Qt's own key bindings reach Qt only when they move the caret or the
// selection (EditorKeys.h).
//
// The view itself takes Qt's events (keys, input methods, painting, sizes)
// and keeps the selection, the focus highlight and the text options; its
// parts do the rest: EditGate (the gate and what follows an edit),
// EditorScrolling (the writing column, places, typewriter scrolling) and
// EditorClipboard (the clipboard, drag and drop, the context menu).
class TextView : public QTextEdit {
    Q_OBJECT

public:
    // What the view asks of its document and window. Every hook may be empty.
    struct Hooks {
        // The document's Markdown switch; on when empty.
        std::function<bool()> isMarkdownEnabled;
        // Whether the window's outline pane is shown, and its reload.
        std::function<bool()> isOutlineVisible;
        std::function<void()> reloadOutline;
        // The statistics line of the window.
        std::function<void()> updateInfo;
        // Whether the document may be changed at all (a locked document may
        // not); editable when empty.
        std::function<bool()> isEditable;
        // A change was refused because the document may not be changed.
        std::function<void()> editingRefused;
    };

    // The nine text options kept in the user defaults, each under its own
    // key, with the value used when the defaults hold no Bool for the key.
    struct TextOption {
        const char* key;
        bool defaultValue;
    };
    static const std::array<TextOption, 9>& persistedTextOptions();

    explicit TextView(QWidget* parent = nullptr);
    ~TextView() override;

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // Shows storage and records edits on undoManager (neither owned; both
    // must outlive the view or be detached with nullptr). The selection
    // goes to the start of the text.
    void setTextStorage(TextStorage* storage, UndoManager* undoManager);
    TextStorage* textStorage() const { return m_storage; }
    // Lets go of a storage that no longer exists (its document was
    // destroyed first): nothing is edited or read any more.
    void forgetTextStorage();
    UndoManager* undoManager() const { return m_undo; }
    TextMirror& mirror() const { return *m_mirror; }

    // The selection in storage offsets (location, length).
    Range selectedRange() const;
    void setSelectedRange(Range range);

    // ---- The edit gate (EditGate.h)

    EditGate& gate() const { return *m_gate; }
    using EditOptions = lumora::EditOptions;
    // Replaces range by text through the whole edit road. False when the
    // change was refused (no-editing mode) or there is no storage.
    bool replaceCharacters(Range range, const QString& text, const EditOptions& options)
    {
        return m_gate->replaceCharacters(range, text, options);
    }
    // The program's replace operation (commands, list continuation): one
    // change, not grouped for undo; callers that make several group them.
    void replaceText(const QString& text, Range range);
    // Many replacements as one change and one undo step (replace all):
    // texts[i] replaces ranges[i]; the ranges are in order and apart. Only
    // the paragraphs whose Markdown an edit touched are restyled. Without a
    // selection the caret stays with the text it stood in. False when
    // refused (no-editing mode, a locked document) or empty.
    bool replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts,
                           std::optional<Range> selection = std::nullopt)
    {
        return m_gate->replaceCharacters(ranges, texts, selection);
    }

    // Whether a change may be made; when it may, prepares for it.
    bool shouldChangeText(Range range, const QString& text) { return m_gate->shouldChangeText(range, text); }
    void prepareForChange(Range range, const QString& text) { m_gate->prepareForChange(range, text); }
    void processChange() { m_gate->processChange(); }

    // What the view asks of its window (see Hooks): the document's
    // Markdown switch, whether the outline is shown, and whether the
    // document may be changed (false, after telling the window, when not).
    const Hooks& hooks() const { return m_hooks; }
    bool isMarkdownEnabled() const;
    bool isOutlineVisible() const;
    bool checkEditable();

    // ---- Upkeep

    // The writing column (the editor size, centred) and the top and bottom
    // insets; changes the layout only when a value changed.
    void updateTextContainerInset();
    // Takes the current text attributes for the empty text and for typing
    // (done once per change of the text attributes).
    void applyTextAttributes();
    void updateTypingAttributes();
    // The selection colour and the focus colours after a theme or
    // highlighting change, a read or a whole-text restyle.
    void updateHighlightAttributes();
    // Moves the focus highlight to the selection.
    void updateHighlighting();
    // Background, caret colour and selection colours from the theme.
    void applyTheme(const Theme& theme);

    const Attributes& typingAttributes() const { return m_typingAttributes; }
    // What stays at full strength while focus highlighting is on.
    Range focusRange() const;

    // The persisted text options (see persistedTextOptions()): setting one
    // writes its key at once; other editors read it when they are next
    // shown. The text services
    // read them (spelling, substitutions, smart copy and paste); the two
    // correction options also ask input methods for no predictive text when
    // off. Grammar checking, smart links and data detectors are kept and
    // do nothing else.
    bool textOption(const QString& key) const;
    void setTextOption(const QString& key, bool on);

    // The line break the document uses most ("\n", "\r\n" or "\r"; "\n"
    // in a text without one). Return types it, and pasted and dropped text
    // is given it, so that a file keeps its own line endings.
    QString lineEnding() const;
    // Text with every line break made the document's.
    QString withDocumentLineEndings(const QString& text) const;

    // A drop of text at position: inserted there and selected; with
    // moveSelection the selection is taken away from where it was, in the
    // same undo step. Dropping a selection onto itself does nothing.
    void dropText(const QString& text, qsizetype position, bool moveSelection);

    // The context menu with Qt's standard actions wired to the gate.
    QMenu* createContextMenu(const QPoint& position);

    // Whether the standard edit commands can act now: undo and redo, cut
    // and delete change the text; copy needs a selection; select all a text.
    bool canUndo() const;
    bool canRedo() const;
    bool canCut() const;
    bool canCopy() const;
    bool canSelectAll() const { return m_storage != nullptr; }
    // The commands of the main menu beyond the standard edit commands.
    EditorCommands& commands() const { return *m_commands; }

    // What the edit being processed did to the headings, while the outline
    // is reloaded after it.
    using HeadingChange = lumora::HeadingChange;
    const HeadingChange& headingChange() const { return m_gate->headingChange(); }

    // For tests and benchmarks: paragraph restyles made after edits.
    int restyleCount() const { return m_gate->restyleCount(); }

    // Find, spelling, substitutions, transformations and speech.
    TextServices& services() const { return *m_services; }
    // Where the text stands in the view, and typewriter scrolling.
    EditorScrolling& scrolling() const { return *m_scrolling; }
    bool isFindBarVisible() const;
    // Scrolls the selection to the middle of the view (Jump to Selection).
    void centerSelectionInVisibleArea();
    // How far below the top of the visible area the selection's first line
    // starts; and the scroll that puts it that far below again (as far as
    // the text can scroll).
    int selectionDistanceFromTop() const;
    void scrollSelectionToDistanceFromTop(int distance);
    // The same for the line of any position: the text between it and the
    // top of the view is measured first, so that the place holds while the
    // rest of a long text is measured.
    void scrollPositionToDistanceFromTop(qsizetype position, int distance);
    // The text in view and a screen's height above and below it (storage
    // offsets, whole lines), by the heights known now: what a restyle of
    // the whole text does first.
    Range shownRange() const;
    // A storage is shown and the document may be changed (it is not locked).
    bool isEditable() const;

signals:
    void findBarVisibilityChanged(bool visible);

public slots:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void deleteSelection();
    void insertNewline();
    void insertTab();
    void insertBacktab();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // It sets the viewport's margins for the find bar.
    friend class TextServices;

    void selectionDidChange();
    void loadTextOptions();
    void applyTextOptions();
    void undoOrRedo(bool redo);

    TextStorage* m_storage = nullptr;
    UndoManager* m_undo = nullptr;
    std::unique_ptr<TextMirror> m_mirror;
    std::unique_ptr<EditGate> m_gate;
    std::unique_ptr<EditorScrolling> m_scrolling;
    std::unique_ptr<EditorClipboard> m_clipboard;
    std::unique_ptr<EditorTyping> m_typing;
    std::unique_ptr<EditorHighlighting> m_highlighting;
    std::unique_ptr<EditorCommands> m_commands;
    std::unique_ptr<TextServices> m_services;
    Hooks m_hooks;
    Attributes m_typingAttributes;

    int m_storageObserver = 0;
    // A resize keeps the text's place itself: new insets leave it alone.
    bool m_resizing = false;
    // The text attributes the mirror and the typing attributes were last given.
    std::shared_ptr<const ParsedMarkdownStylesheet> m_appliedStylesheet;
    // Shown at least once: until then there is no place on screen to keep.
    bool m_everShown = false;
    // The storage is to be made ready for typing once it is painted.
    bool m_prepareStorage = false;

    Range m_lastSelection;
    Range m_selectionBeforeRebuild;
    bool m_wasSelectionNotEmpty = false;
    bool m_adjustingSelection = false;
    std::array<bool, 9> m_textOptions{};
    bool m_textOptionsLoaded = false;
    int m_caretWidth = 2;
};

} // namespace lumora
