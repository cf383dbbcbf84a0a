#include "document/TextView.h"

#include "document/EditorClipboard.h"
#include "document/EditorCommands.h"
#include "document/EditorHighlighting.h"
#include "document/EditorKeys.h"
#include "document/EditorScrolling.h"
#include "document/EditorTyping.h"
#include "document/TextServices.h"

#include "markdown/FocusHighlighting.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumora {

namespace {

Settings& settings() { return Settings::shared(); }

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
      m_clipboard(std::make_unique<EditorClipboard>(*this)),
      m_typing(std::make_unique<EditorTyping>(*this)),
      m_highlighting(std::make_unique<EditorHighlighting>(*this))
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
    // focus's, which the view paints itself (EditorHighlighting).
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
    // A text that outlives the view (another window still shows it) stops
    // telling it of its changes.
    if (m_storage && m_storageObserver) m_storage->removeObserver(m_storageObserver);
    m_storageObserver = 0;
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
    disconnect(this, nullptr, this, nullptr);
    setDocument(nullptr);
}

void TextView::setTextStorage(TextStorage* storage, UndoManager* undoManager)
{
    if (m_storage && m_storageObserver) m_storage->removeObserver(m_storageObserver);
    m_storageObserver = 0;
    m_gate->dropBackgroundRestyle(false);
    m_typing->forgetLineEnding();
    if (storage) {
        m_storageObserver = storage->addObserver([this](const TextStorage::Change& change) {
            if (change.characters && !m_gate->isInGate()) m_typing->forgetLineEnding();
        });
    }
    m_storage = storage;
    m_undo = undoManager;
    m_prepareStorage = storage != nullptr;
    m_mirror->setStorage(storage);
    m_lastSelection = Range();
    m_highlighting->setFocusRange(storage ? Range(0, storage->length()) : Range());
    m_services->setStorage(storage);
    setSelectedRange(Range());
    updateTypingAttributes();
}

void TextView::forgetTextStorage()
{
    m_gate->dropBackgroundRestyle(true);
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
    if (!s.isEmpty() || !m_lastSelection.isEmpty()) m_highlighting->repaintSelectionBlocks(m_lastSelection, s);
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

Range TextView::focusRange() const
{
    return m_highlighting->focusRange();
}

void TextView::updateHighlighting()
{
    m_highlighting->update();
}

void TextView::updateHighlightAttributes()
{
    m_highlighting->updateAttributes();
}

void TextView::applyTheme(const Theme& theme)
{
    m_highlighting->applyTheme(theme);
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
    using Deletion = EditorTyping::Deletion;
    switch (editorKey(*e)) {
    case EditorKey::undo: return undo();
    case EditorKey::redo: return redo();
    case EditorKey::cut: return cut();
    case EditorKey::copy: return copy();
    case EditorKey::paste: return paste();
    case EditorKey::pasteSelection: return insertFromMimeData(QApplication::clipboard()->mimeData(
        QApplication::clipboard()->supportsSelection() ? QClipboard::Selection : QClipboard::Clipboard));
    case EditorKey::deleteForward: return m_typing->deleteText(Deletion::forward);
    case EditorKey::deleteBackward: return m_typing->deleteText(Deletion::backward);
    case EditorKey::deleteWordBackward: return m_typing->deleteText(Deletion::wordBackward);
    case EditorKey::deleteWordForward: return m_typing->deleteText(Deletion::wordForward);
    case EditorKey::newline: return insertNewline();
    case EditorKey::switchedOff: return;
    case EditorKey::navigation:
        // Navigation and selection: the caret only needs to stay in sight.
        QTextEdit::keyPressEvent(e);
        return;
    case EditorKey::other: break;
    }
    if (EditorTyping::isAcceptableInput(*e)) return m_typing->insertTyped(e->text());
    e->ignore();
}

void TextView::insertNewline()
{
    m_typing->insertNewline();
}

void TextView::insertTab()
{
    m_typing->insertTab();
}

void TextView::insertBacktab()
{
    m_typing->insertBacktab();
}

void TextView::deleteSelection()
{
    m_typing->deleteSelection();
}

QString TextView::lineEnding() const
{
    return m_typing->lineEnding();
}

QString TextView::withDocumentLineEndings(const QString& text) const
{
    return m_typing->withDocumentLineEndings(text);
}

// ---- Entry points: input methods -------------------------------------------------------

void TextView::inputMethodEvent(QInputMethodEvent* e)
{
    if (!m_storage) {
        e->ignore();
        return;
    }
    m_typing->commitInput(*e);
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
    m_highlighting->paintFocusDimming();
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
