#include "document/TextView.h"

#include "document/EditorClipboard.h"
#include "document/EditorCommands.h"
#include "document/EditorKeys.h"
#include "document/EditorScrolling.h"
#include "document/TextServices.h"

#include "markdown/FocusHighlighting.h"
#include "markdown/Markdown.h"
#include "markdown/MarkdownEditing.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/AudioPlayer.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/SafeTextDocument.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumora {

namespace {

Settings& settings() { return Settings::shared(); }

// What Qt accepts as typed text (the rules of its own text widgets).
bool isAcceptableInput(const QKeyEvent* event)
{
    const QString text = event->text();
    if (text.isEmpty()) return false;
    const QChar c = text.at(0);
    if (c.category() == QChar::Other_Format) return true;
    const Qt::KeyboardModifiers m = event->modifiers();
    if (m == Qt::ControlModifier || m == (Qt::ShiftModifier | Qt::ControlModifier)) return false;
    if (c.isPrint()) return true;
    if (c.category() == QChar::Other_PrivateUse) return true;
    if (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate()) return true;
    return false;
}

} // namespace

const std::array<TextView::TextOption, 9>& TextView::persistedTextOptions()
{
    static const std::array<TextOption, 9> options{{
        {"automaticDashSubstitutionEnabled", false},
        {"automaticDataDetectionEnabled", false},
        {"automaticLinkDetectionEnabled", false},
        {"automaticQuoteSubstitutionEnabled", false},
        {"automaticSpellingCorrectionEnabled", true},
        {"automaticTextReplacementEnabled", true},
        {"continuousSpellCheckingEnabled", true},
        {"grammarCheckingEnabled", false},
        {"smartInsertDeleteEnabled", true},
    }};
    return options;
}

// ---- Set-up -------------------------------------------------------------------------

TextView::TextView(QWidget* parent)
    : QTextEdit(parent),
      m_mirror(std::make_unique<TextMirror>()),
      m_gate(std::make_unique<EditGate>(*this)),
      m_scrolling(std::make_unique<EditorScrolling>(*this)),
      m_clipboard(std::make_unique<EditorClipboard>(*this))
{
    setDocument(m_mirror->document());
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setTabChangesFocus(false);
    setCursorWidth(m_caretWidth);
    viewport()->setAutoFillBackground(true);

    for (size_t i = 0; i < m_textOptions.size(); ++i) m_textOptions[i] = persistedTextOptions()[i].defaultValue;

    const auto& parsed = settings().parsedStylesheet();
    m_typingAttributes = parsed->base;
    m_mirror->setDefaultAttributes(parsed->base);
    // While focus highlighting is on, the alphas of text colours are the
    // focus's, which the view paints itself (paintFocusDimming).
    m_mirror->setDrawsTextAlpha([] { return settings().highlighting() == Settings::Highlighting::off; });
    // Heights corrected above what is shown keep the text shown in place.
    EditorLayout* layout = m_mirror->layout();
    connect(verticalScrollBar(), &QScrollBar::valueChanged, layout, [layout](int value) { layout->setAnchor(value); });
    // The layout keeps the anchor to the fraction of a pixel: the view
    // scrolls to the nearest whole pixel each time, and never adds up the
    // roundings of many small corrections.
    connect(layout, &EditorLayout::anchorMoved, this, [this, layout](double) {
        verticalScrollBar()->setValue(int(std::lround(layout->anchor())));
    });
    m_appliedStylesheet = parsed;

    // The selection survives a rebuild of the mirror.
    connect(m_mirror.get(), &TextMirror::aboutToRebuild, this, [this] {
        m_selectionBeforeRebuild = selectedRange();
    });
    connect(m_mirror.get(), &TextMirror::rebuilt, this, [this] {
        m_adjustingSelection = true;
        setSelectedRange(m_selectionBeforeRebuild);
        m_adjustingSelection = false;
    });
    connect(this, &QTextEdit::cursorPositionChanged, this, &TextView::selectionDidChange);
    connect(this, &QTextEdit::selectionChanged, this, &TextView::selectionDidChange);

    connect(&settings(), &Settings::highlightingChanged, this, [this] { updateHighlightAttributes(); });
    connect(&settings(), &Settings::editorSizeChanged, this, [this] { updateTextContainerInset(); });
    connect(&settings(), &Settings::textAttributesChanged, this, [this] { applyTextAttributes(); });
    m_services = std::make_unique<TextServices>(*this);
    connect(m_services.get(), &TextServices::findBarVisibilityChanged, this, &TextView::findBarVisibilityChanged);
    applyTheme(*settings().theme());

    m_commands = std::make_unique<EditorCommands>(*this);
}

namespace {

bool mayChange(const TextView& view) { return view.isEditable() && !settings().isNoEditingEnabled(); }

} // namespace

bool TextView::canUndo() const { return mayChange(*this) && m_undo && m_undo->canUndo(); }

bool TextView::canRedo() const { return mayChange(*this) && m_undo && m_undo->canRedo(); }

bool TextView::canCut() const { return mayChange(*this) && canCopy(); }

bool TextView::canCopy() const { return m_storage && !selectedRange().isEmpty(); }

bool TextView::isEditable() const
{
    return m_storage && (!m_hooks.isEditable || m_hooks.isEditable());
}

bool TextView::checkEditable()
{
    if (isEditable()) return true;
    if (m_hooks.editingRefused) m_hooks.editingRefused();
    return false;
}

TextView::~TextView()
{
    // Giving up the document moves the selection: nothing may react to that
    // now (the window around the view is being destroyed).
    m_hooks = Hooks();
    m_storage = nullptr;
    // The control must not outlive its document: give it a throwaway one.
    // The selection it drops on the way is no change to report: the panes
    // the hooks reach may be gone already.
    disconnect(this, &QTextEdit::cursorPositionChanged, this, &TextView::selectionDidChange);
    disconnect(this, &QTextEdit::selectionChanged, this, &TextView::selectionDidChange);
    m_hooks = Hooks{};
    if (m_storage && m_storageObserver) m_storage->removeObserver(m_storageObserver);
    disconnect(this, nullptr, this, nullptr);
    setDocument(nullptr);
}

void TextView::setTextStorage(TextStorage* storage, UndoManager* undoManager)
{
    if (m_storage && m_storageObserver) m_storage->removeObserver(m_storageObserver);
    m_storageObserver = 0;
    m_lineEnding.reset();
    if (storage) {
        m_storageObserver = storage->addObserver([this](const TextStorage::Change& change) {
            if (change.characters && !m_gate->isInGate()) m_lineEnding.reset();
        });
    }
    m_storage = storage;
    m_undo = undoManager;
    m_prepareStorage = storage != nullptr;
    m_mirror->setStorage(storage);
    m_lastSelection = Range();
    m_focusRange = storage ? Range(0, storage->length()) : Range();
    m_services->setStorage(storage);
    setSelectedRange(Range());
    updateTypingAttributes();
}

void TextView::forgetTextStorage()
{
    m_services->forgetStorage();
    m_storageObserver = 0;
    m_mirror->forgetStorage();
    m_storage = nullptr;
    m_undo = nullptr;
}

bool TextView::isMarkdownEnabled() const
{
    return m_hooks.isMarkdownEnabled ? m_hooks.isMarkdownEnabled() : true;
}

bool TextView::isOutlineVisible() const
{
    return m_hooks.isOutlineVisible && m_hooks.isOutlineVisible();
}

// ---- Selection ---------------------------------------------------------------------

Range TextView::selectedRange() const
{
    const QTextCursor c = textCursor();
    return Range(c.selectionStart(), c.selectionEnd() - c.selectionStart());
}

void TextView::setSelectedRange(Range range)
{
    const qsizetype length = m_storage ? m_storage->length() : 0;
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, length);
    QTextCursor c(document());
    c.setPosition(int(from));
    if (to != from) c.setPosition(int(to), QTextCursor::KeepAnchor);
    setTextCursor(c);
}


void TextView::selectionDidChange()
{
    if (!m_storage || m_mirror->isUpdating() || m_adjustingSelection) return;
    Range s = selectedRange();
    // The caret never stands between "\r" and "\n": it moves on in the
    // direction it was going.
    if (s.isEmpty() && splitsCharacter(*m_storage, s.location)) {
        const bool forward = s.location > m_lastSelection.location;
        s = Range(forward ? s.location + 1 : s.location - 1, 0);
        m_adjustingSelection = true;
        setSelectedRange(s);
        m_adjustingSelection = false;
    }
    if (s == m_lastSelection) return;
    if (!s.isEmpty() || !m_lastSelection.isEmpty()) repaintSelectionBlocks(m_lastSelection, s);
    m_lastSelection = s;

    // A selection change that is not part of an edit ends the typing step.
    if (!m_gate->isChangingText() && m_undo) m_undo->breakCoalescing();

    const bool highlighting = settings().highlighting() != Settings::Highlighting::off;
    if (!s.isEmpty() || m_wasSelectionNotEmpty) {
        if (m_hooks.updateInfo) m_hooks.updateInfo();
        if (highlighting) updateHighlighting();
        // The caret is not drawn while text is selected.
        setCursorWidth(s.isEmpty() ? m_caretWidth : 0);
    } else if (!m_gate->isChangingText()) {
        updateTypingAttributes();
        if (highlighting) {
            const Range h = highlightedRange(*m_storage);
            if (!(h.location < s.location && s.location < h.end())) updateHighlighting();
        }
    }
    m_wasSelectionNotEmpty = s.length > 0;
}

// The selection fills whole line boxes, the space between lines included,
// where Qt repaints only the glyphs' rectangles: the blocks the old and the
// new selection cover are repainted whole, so no strip of a selection stays
// behind.
void TextView::repaintSelectionBlocks(Range before, Range after)
{
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const int characters = document()->characterCount();
    QRectF area;
    for (const Range r : {before, after}) {
        if (r.isEmpty()) continue;
        const QTextBlock first = document()->findBlock(int(std::min<qsizetype>(r.location, characters - 1)));
        const QTextBlock last = document()->findBlock(int(std::min<qsizetype>(r.end(), characters - 1)));
        const QRectF top = layout->blockBoundingRect(first);
        const QRectF bottom = layout->blockBoundingRect(last);
        area |= QRectF(0, top.top(), viewport()->width(), bottom.bottom() - top.top());
    }
    if (area.isEmpty()) return;
    area.translate(0, -verticalScrollBar()->value());
    viewport()->update(area.toAlignedRect().adjusted(0, -2, 0, 2) & viewport()->rect());
}

// ---- The edit gate ---------------------------------------------------------------------

void TextView::replaceText(const QString& text, Range range)
{
    replaceCharacters(range, text, EditOptions{});
}

// ---- Upkeep --------------------------------------------------------------------------

void TextView::updateTypingAttributes()
{
    if (!m_storage) return;
    const qsizetype c = selectedRange().location;
    if (c > 0 && c <= m_storage->length() && !text::isNewline(m_storage->characterAt(c - 1).unicode()))
        m_typingAttributes = m_storage->attributes(c - 1);
    else
        m_typingAttributes = settings().parsedStylesheet()->base;
}

void TextView::updateHighlighting()
{
    if (!m_storage) return;
    const Range focus = lumora::focusRange(*m_storage, selectedRange(), settings().highlighting());
    {
        TextMirror::ColourAlphaPass pass;
        highlightFocus(*m_storage, focus, false);
    }
    if (focus != m_focusRange) {
        m_focusRange = focus;
        viewport()->update();
    }
}

void TextView::updateHighlightAttributes()
{
    applyTheme(*settings().theme());
    if (!m_storage) return;
    if (settings().highlighting() == Settings::Highlighting::off) {
        // Nothing is dimmed: the colours stay as the styling gave them, with
        // the stylesheet's own alphas (a pass would lift them all to full
        // strength, on every character of the text).
        TextMirror::ColourAlphaPass pass;
        m_storage->removeAttribute(AttributeKey::HighlightColor, Range(0, m_storage->length()));
        m_focusRange = Range(0, m_storage->length());
        viewport()->update();
        return;
    }
    const Range focus = lumora::focusRange(*m_storage, selectedRange(), settings().highlighting());
    {
        TextMirror::ColourAlphaPass pass;
        highlightFocus(*m_storage, focus, true);
    }
    m_focusRange = focus;
    viewport()->update();
}

void TextView::applyTheme(const Theme& theme)
{
    QPalette p = palette();
    const QColor background = theme.backgroundColor.toQColor();
    const QColor foreground = theme.foregroundColor.toQColor();
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Window, background);
    // All text carries its own colour, so the text colour of the palette
    // only draws the caret.
    p.setColor(QPalette::Text, theme.cursorColor.toQColor());
    QColor selection = foreground;
    selection.setAlphaF(float(unhighlightedTextAlpha));
    p.setColor(QPalette::Highlight, selection);
    p.setColor(QPalette::HighlightedText, foreground);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Highlight, selection);
        p.setColor(group, QPalette::HighlightedText, foreground);
    }
    setPalette(p);
    viewport()->update();
}

void TextView::applyTextAttributes()
{
    // Once per change of the text attributes, whoever asks first: a second
    // call would lay the whole text out again.
    const auto& parsed = settings().parsedStylesheet();
    if (m_appliedStylesheet == parsed) return;
    m_appliedStylesheet = parsed;
    m_mirror->setDefaultAttributes(parsed->base);
    updateTypingAttributes();
}

void TextView::updateTextContainerInset()
{
    m_scrolling->updateInsets(!m_resizing);
}

// ---- Text options ------------------------------------------------------------------------

void TextView::loadTextOptions()
{
    const UserDefaults* defaults = settings().userDefaults();
    for (size_t i = 0; i < m_textOptions.size(); ++i) {
        const auto& option = persistedTextOptions()[i];
        const QVariant stored = defaults ? defaults->object(QLatin1String(option.key)) : QVariant();
        m_textOptions[i] = stored.typeId() == QMetaType::Bool ? stored.toBool() : option.defaultValue;
    }
    m_textOptionsLoaded = true;
    applyTextOptions();
}

void TextView::applyTextOptions()
{
    const bool corrections = textOption(QStringLiteral("automaticSpellingCorrectionEnabled"))
        || textOption(QStringLiteral("automaticTextReplacementEnabled"));
    setInputMethodHints(corrections ? Qt::ImhNone : Qt::ImhNoPredictiveText);
}

bool TextView::textOption(const QString& key) const
{
    const auto& options = persistedTextOptions();
    for (size_t i = 0; i < options.size(); ++i)
        if (key == QLatin1String(options[i].key)) return m_textOptions[i];
    return false;
}

void TextView::setTextOption(const QString& key, bool on)
{
    const auto& options = persistedTextOptions();
    for (size_t i = 0; i < options.size(); ++i) {
        if (key != QLatin1String(options[i].key)) continue;
        m_textOptions[i] = on;
        if (UserDefaults* defaults = settings().userDefaults()) defaults->set(key, on);
        applyTextOptions();
        m_services->textOptionsChanged();
        return;
    }
}

// ---- Entry points: keys -----------------------------------------------------------------

bool TextView::event(QEvent* e)
{
    // Tab and Shift+Tab edit; they never move the focus out of the editor.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            if (key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier))) {
                insertBacktab();
                return true;
            }
            if (key->key() == Qt::Key_Tab) {
                insertTab();
                return true;
            }
        }
    }
    return QTextEdit::event(e);
}

void TextView::keyPressEvent(QKeyEvent* e)
{
    if (!m_storage) {
        e->ignore();
        return;
    }
    e->accept();
    if (m_services->handleKeyPress(e)) return;
    // Only the keys that move the caret or the selection reach Qt's own
    // handling; every edit goes through the gate (see EditorKeys.h).
    switch (editorKey(*e)) {
    case EditorKey::undo: return undo();
    case EditorKey::redo: return redo();
    case EditorKey::cut: return cut();
    case EditorKey::copy: return copy();
    case EditorKey::paste: return paste();
    case EditorKey::pasteSelection: return insertFromMimeData(QApplication::clipboard()->mimeData(
        QApplication::clipboard()->supportsSelection() ? QClipboard::Selection : QClipboard::Clipboard));
    case EditorKey::deleteForward: return deleteText(Deletion::forward);
    case EditorKey::deleteBackward: return deleteText(Deletion::backward);
    case EditorKey::deleteWordBackward: return deleteText(Deletion::wordBackward);
    case EditorKey::deleteWordForward: return deleteText(Deletion::wordForward);
    case EditorKey::newline: return insertNewline();
    case EditorKey::switchedOff: return;
    case EditorKey::navigation:
        // Navigation and selection: the caret only needs to stay in sight.
        QTextEdit::keyPressEvent(e);
        return;
    case EditorKey::other: break;
    }
    if (isAcceptableInput(e)) return insertTyped(e->text());
    e->ignore();
}

void TextView::insertTyped(const QString& text)
{
    const qsizetype start = selectedRange().location;
    if (replaceCharacters(selectedRange(), text, EditOptions{UndoCoalescing::typing, std::nullopt, true}))
        m_services->textWasTyped(Range(start, text.size()));
}

void TextView::insertNewline()
{
    insertTyped(lineEnding());
}

QString TextView::lineEnding() const
{
    static const QString lf = QStringLiteral("\n"), crlf = QStringLiteral("\r\n"), cr = QStringLiteral("\r");
    if (!m_storage) return lf;
    if (m_lineEnding) return *m_lineEnding;
    // Read where the text lies, without gathering it into one string.
    const auto [head, tail] = m_storage->pieces();
    qsizetype lfs = 0, crlfs = 0, crs = 0;
    if (head.contains(u'\r') || tail.contains(u'\r')) {
        const TextStorage& s = *m_storage;
        for (qsizetype i = 0, n = s.length(); i < n; ++i) {
            const QChar c = s.characterAt(i);
            if (c == u'\n') {
                ++lfs;
            } else if (c == u'\r') {
                if (s.characterAt(i + 1) == u'\n') {
                    ++crlfs;
                    ++i;
                } else {
                    ++crs;
                }
            }
        }
    }
    // Ties go to "\n", the platform's own.
    m_lineEnding = crlfs > lfs && crlfs >= crs ? crlf : crs > lfs && crs > crlfs ? cr : lf;
    return *m_lineEnding;
}

QString TextView::withDocumentLineEndings(const QString& text) const
{
    if (!text.contains(u'\r') && !text.contains(u'\n')) return text;
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(u'\r', u'\n');
    const QString ending = lineEnding();
    if (ending != QLatin1String("\n")) normal.replace(QStringLiteral("\n"), ending);
    return normal;
}

// Tab indents a list item by one level; anywhere else it types a tab.
void TextView::insertTab()
{
    if (m_storage && isMarkdownEnabled()) {
        if (const auto edit = indentListItem(*m_storage, selectedRange().location)) {
            applyIndentation(*edit);
            return;
        }
    }
    insertTyped(QStringLiteral("\t"));
}

// Shift+Tab takes one level of indentation from a list item; elsewhere it
// does nothing.
void TextView::insertBacktab()
{
    if (!m_storage || !isMarkdownEnabled()) return;
    if (const auto edit = outdentListItem(*m_storage, selectedRange().location)) applyIndentation(*edit);
}

// The caret (or selection) moves with the text the edit adds or removes in
// front of it: indentation always stands before the item's text.
void TextView::applyIndentation(const IndentationEdit& edit)
{
    const Range before = selectedRange();
    const qsizetype delta = edit.replacement.size() - edit.range.length;
    const qsizetype lengthBefore = m_storage->length();
    replaceText(edit.replacement, edit.range);
    if (m_storage->length() != lengthBefore + delta) return; // refused (no-editing mode)
    const qsizetype location = std::max(edit.range.location, before.location + delta);
    setSelectedRange(Range(location, std::min(before.length, m_storage->length() - location)));
}

void TextView::deleteText(Deletion deletion)
{
    const Range selection = selectedRange();
    Range range = selection;
    UndoCoalescing coalescing = UndoCoalescing::none;
    if (selection.isEmpty()) {
        QTextCursor c = textCursor();
        const qsizetype at = c.position();
        switch (deletion) {
        case Deletion::backward:
            // One character back: a whole surrogate pair or "\r\n", but the
            // accent of a decomposed letter on its own.
            if (at == 0) return;
            range = Range(at - 1, 1);
            coalescing = UndoCoalescing::deleteBackward;
            break;
        case Deletion::forward:
            c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteForward;
            break;
        case Deletion::wordBackward:
            c.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteBackward;
            break;
        case Deletion::wordForward:
            c.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteForward;
            break;
        }
        if (deletion != Deletion::backward)
            range = Range(c.selectionStart(), c.selectionEnd() - c.selectionStart());
    } else {
        range = m_services->smartDeleteRange(range);
    }
    range = m_gate->safeRange(range);
    if (range.isEmpty()) return;
    replaceCharacters(range, QString(), EditOptions{coalescing, std::nullopt, false});
}

void TextView::deleteSelection()
{
    if (!m_storage || selectedRange().isEmpty()) return;
    replaceCharacters(m_services->smartDeleteRange(selectedRange()), QString(), EditOptions{});
}

// ---- Entry points: input methods -------------------------------------------------------

void TextView::inputMethodEvent(QInputMethodEvent* e)
{
    if (!m_storage) {
        e->ignore();
        return;
    }
    const Range selection = selectedRange();
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        Range range = selection;
        if (e->replacementStart() != 0 || e->replacementLength() != 0) {
            // The replacement counts from the caret, once the selection is gone.
            if (!selection.isEmpty() && !replaceCharacters(selection, QString(), EditOptions{}))
                setSelectedRange(Range(selection.end(), 0));
            const qsizetype caret = textCursor().position();
            range = Range(caret + e->replacementStart(), e->replacementLength());
        }
        const qsizetype start = m_gate->safeRange(range).location;
        if (replaceCharacters(range, e->commitString(), EditOptions{UndoCoalescing::typing, std::nullopt, true}))
            m_services->textWasTyped(Range(start, e->commitString().size()));
    } else if (!e->preeditString().isEmpty() && !selection.isEmpty()) {
        // Composing over a selection replaces it: the deletion goes first.
        if (!replaceCharacters(selection, QString(), EditOptions{})) setSelectedRange(Range(selection.end(), 0));
    }
    // Qt draws the preedit; the event it sees commits nothing.
    QInputMethodEvent preedit(e->preeditString(), e->attributes());
    {
        TextMirror::LayoutOnlyChange layoutOnly(*m_mirror);
        QTextEdit::inputMethodEvent(&preedit);
    }
    e->accept();
}

// ---- Entry points: clipboard, drops, context menu --------------------------------------

bool TextView::canInsertFromMimeData(const QMimeData* source) const
{
    return EditorClipboard::canInsert(source);
}

void TextView::insertFromMimeData(const QMimeData* source)
{
    m_clipboard->insert(source);
}

QMimeData* TextView::createMimeDataFromSelection() const
{
    return m_clipboard->mimeDataFromSelection();
}

void TextView::copy()
{
    m_clipboard->copy();
}

void TextView::cut()
{
    m_clipboard->cut();
}

void TextView::paste()
{
    m_clipboard->paste();
}

void TextView::dropEvent(QDropEvent* e)
{
    // Qt's drop would edit the document itself; let it only clear its drop caret.
    QDragLeaveEvent leave;
    QTextEdit::dragLeaveEvent(&leave);
    m_clipboard->drop(e);
}

void TextView::dropText(const QString& text, qsizetype position, bool moveSelection)
{
    m_clipboard->dropText(text, position, moveSelection);
}

QMenu* TextView::createContextMenu(const QPoint& position)
{
    return m_clipboard->contextMenu(position);
}


void TextView::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu* menu = createContextMenu(e->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

// ---- Undo ---------------------------------------------------------------------------------

void TextView::undo()
{
    undoOrRedo(false);
}

void TextView::redo()
{
    undoOrRedo(true);
}

// Undo and redo replay whole steps through the gate, so they are restyled
// and shown like any edit. In no-editing mode they are refused as a whole:
// nearly every step takes text away, and half a step must never be applied.
void TextView::undoOrRedo(bool redo)
{
    if (!m_storage || !m_undo || settings().isNoEditingEnabled()) return;
    if ((redo ? m_undo->canRedo() : m_undo->canUndo()) && !checkEditable()) return;
    m_undo->setTextApplier([this](Range range, const QString& text) {
        replaceCharacters(range, text, EditOptions{});
    });
    m_undo->setBatchApplier([this](const std::vector<Range>& ranges, const QStringList& texts) {
        replaceCharacters(ranges, texts);
    });
    const std::optional<Range> selection = redo ? m_undo->redo() : m_undo->undo();
    if (selection) setSelectedRange(*selection);
}

// ---- Drawing and geometry ----------------------------------------------------------------

void TextView::paintEvent(QPaintEvent* e)
{
    // Once the text is on screen, and before the writer's first key, the
    // storage gets its characters ready for typing at the caret.
    if (m_prepareStorage && m_storage) {
        m_prepareStorage = false;
        QTimer::singleShot(0, this, [this] {
            if (!m_storage) return;
            m_storage->prepareForEditing(selectedRange().location);
            m_mirror->prepareForEditing();
        });
    }
    {
        QPainter painter(viewport());
        m_services->paintBelowText(painter, e->rect());
    }
    QTextEdit::paintEvent(e);
    {
        QPainter painter(viewport());
        m_services->paintAboveText(painter, e->rect());
    }
    paintFocusDimming();
}

// Focus highlighting is drawn, not stored in formats: everything outside the
// focus is covered by the background at 70%, which shows the text at 30%.
void TextView::paintFocusDimming()
{
    if (!m_storage || settings().highlighting() == Settings::Highlighting::off) return;
    const Range focus = m_focusRange;
    if (focus.location <= 0 && focus.end() >= m_storage->length()) return;

    const QRect view = viewport()->rect();
    const QPointF offset(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    QRegion lit;
    for (QTextBlock block = document()->findBlock(int(focus.location));
         block.isValid() && block.position() <= focus.end(); block = block.next()) {
        const QRectF blockRect = layout->blockBoundingRect(block).translated(offset);
        if (blockRect.top() > view.bottom()) break;
        if (blockRect.bottom() < view.top()) continue;
        const QTextLayout* textLayout = block.layout();
        const QPointF origin = textLayout->position() + offset;
        const qsizetype start = block.position();
        for (int i = 0; i < textLayout->lineCount(); ++i) {
            const QTextLine line = textLayout->lineAt(i);
            const qsizetype from = std::max(start + line.textStart(), focus.location);
            const qsizetype to = std::min(start + line.textStart() + line.textLength(), focus.end());
            if (from >= to) continue;
            const qreal x1 = line.cursorToX(int(from - start));
            const qreal x2 = line.cursorToX(int(to - start));
            lit += QRectF(origin.x() + std::min(x1, x2), origin.y() + line.y(), std::abs(x2 - x1), line.height())
                       .toAlignedRect();
        }
    }
    QPainter painter(viewport());
    QColor veil = palette().color(QPalette::Base);
    veil.setAlphaF(float(1.0 - unhighlightedTextAlpha));
    painter.setClipRegion(QRegion(view).subtracted(lit));
    painter.fillRect(view, veil);
}

void TextView::resizeEvent(QResizeEvent* e)
{
    // The text keeps its place through the new width and insets; the sizes
    // a view is given before it first shows leave it at the top.
    const EditorScrolling::ViewAnchor anchor = m_scrolling->viewAnchor();
    m_resizing = true;
    QTextEdit::resizeEvent(e);
    m_services->layoutFindBar();
    updateTextContainerInset();
    m_resizing = false;
    if (m_everShown) m_scrolling->restoreViewAnchor(anchor);
}

bool TextView::isFindBarVisible() const
{
    return m_services->isFindBarVisible();
}

void TextView::centerSelectionInVisibleArea()
{
    m_scrolling->centerSelection();
}

Range TextView::shownRange() const
{
    return m_scrolling->shownRange();
}

int TextView::selectionDistanceFromTop() const
{
    return m_scrolling->selectionDistanceFromTop();
}

void TextView::scrollSelectionToDistanceFromTop(int distance)
{
    m_scrolling->scrollPositionToDistanceFromTop(selectedRange().location, distance);
}

void TextView::scrollPositionToDistanceFromTop(qsizetype position, int distance)
{
    m_scrolling->scrollPositionToDistanceFromTop(position, distance);
}


void TextView::showEvent(QShowEvent* e)
{
    QTextEdit::showEvent(e);
    if (!m_textOptionsLoaded) loadTextOptions();
    updateTextContainerInset();
    m_everShown = true;
}

} // namespace lumora
