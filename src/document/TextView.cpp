#include "document/TextView.h"

#include "document/EditorCommands.h"
#include "document/EditorKeys.h"
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

// True when index stands inside a character the view never splits: a
// surrogate pair or a "\r\n".
bool splitsCharacter(const TextStorage& s, qsizetype index)
{
    if (index <= 0 || index >= s.length()) return false;
    const QChar before = s.characterAt(index - 1);
    const QChar at = s.characterAt(index);
    return (before.isHighSurrogate() && at.isLowSurrogate()) || (before == u'\r' && at == u'\n');
}

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

TextView::TextView(QWidget* parent) : QTextEdit(parent), m_mirror(std::make_unique<TextMirror>())
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
            if (change.characters && !m_inGate) m_lineEnding.reset();
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

// A range that neither starts nor ends inside a surrogate pair or a "\r\n".
Range TextView::safeRange(Range range) const
{
    const TextStorage& s = *m_storage;
    qsizetype from = std::clamp<qsizetype>(range.location, 0, s.length());
    qsizetype to = std::clamp<qsizetype>(range.end(), from, s.length());
    if (splitsCharacter(s, from)) --from;
    if (to > from && splitsCharacter(s, to)) ++to;
    if (to < from) to = from;
    return Range(from, to - from);
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
    if (!m_textHasChanged && m_undo) m_undo->breakCoalescing();

    const bool highlighting = settings().highlighting() != Settings::Highlighting::off;
    if (!s.isEmpty() || m_wasSelectionNotEmpty) {
        if (m_hooks.updateInfo) m_hooks.updateInfo();
        if (highlighting) updateHighlighting();
        // The caret is not drawn while text is selected.
        setCursorWidth(s.isEmpty() ? m_caretWidth : 0);
    } else if (!m_textHasChanged) {
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

bool TextView::shouldChangeText(Range range, const QString& text)
{
    if (!checkEditable()) return false;
    // No-editing mode: only text added at the caret. Deleting, cutting,
    // overwriting a selection and replacing by paste are refused. (Composed
    // characters arrive committed, so no replacement needs letting through.)
    if (settings().isNoEditingEnabled() && range.length > 0) return false;
    prepareForChange(range, text);
    return true;
}

void TextView::prepareForChange(Range range, const QString& text)
{
    m_textHasChanged = true;
    if (isMarkdownEnabled()) {
        m_affectedCharRange = Range(range.location, text.size());
        // The test reads the range and the characters on either side of it.
        m_resetMarkdown = editTouchesMarkdownSyntax(m_storage->stringBefore(range.end() + 1), range, text);
        // Only while the outline is shown does a heading force a restyle; once
        // it is hidden the flag must not keep every later edit restyling.
        const bool outline = isOutlineVisible();
        m_resetOutline = outline && outlineAt(*m_storage, range) != nullptr;
        m_headingsBefore = outline ? headingsAround(range) : std::nullopt;
    }
    // The sound is chosen by this edit but made only when it plays: an edit
    // made while processing (list continuation) takes its place, and a
    // player made and never played would never leave the playing set.
    if (settings().isTypewriterSoundsEnabled()) m_typewriterSound.emplace(range, text);
    else m_typewriterSound.reset();
    // A line scrolled out of sight counts as standing at the nearest edge,
    // so that the edit brings it into view there.
    if (settings().isTypewriterScrollingEnabled()) {
        const int bottom = insertionBottom();
        const int height = std::max(1, cursorRect().height());
        m_oldInsertionOrigin = std::clamp(bottom, std::min(height, viewport()->height()), viewport()->height());
    } else {
        m_oldInsertionOrigin.reset();
    }
}

bool TextView::replaceCharacters(Range range, const QString& text, const EditOptions& options)
{
    if (!m_storage) return false;
    range = safeRange(range);
    if (range.isEmpty() && text.isEmpty()) return false;
    if (!shouldChangeText(range, text)) return false;
    if (options.silent) m_typewriterSound.reset();

    const Range before = selectedRange();
    const QString oldText = m_storage->substring(range);
    const Range after = options.selection.value_or(Range(range.location + text.size(), 0));

    // The replacement and the restyle reach the mirror as one change.
    // (Edits made here keep the document's line endings as they were.)
    const bool wasInGate = std::exchange(m_inGate, true);
    m_storage->beginEditing();
    if (m_storage->length() == 0 || options.typed)
        m_storage->replaceCharacters(range, text, m_typingAttributes);
    else
        m_storage->replaceCharacters(range, text);
    restyleAfterChange();
    m_storage->endEditing();
    m_inGate = wasInGate;

    if (m_undo) m_undo->recordReplacement({range, oldText, text, before, after}, options.coalescing);
    setSelectedRange(after);
    m_continuesLists = options.continuesLists;
    processChange();
    return true;
}

void TextView::replaceText(const QString& text, Range range)
{
    replaceCharacters(range, text, EditOptions{});
}

bool TextView::replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts,
                                 std::optional<Range> selection)
{
    if (!m_storage || ranges.empty() || qsizetype(ranges.size()) != texts.size()) return false;
    qsizetype previousEnd = 0;
    for (const Range& r : ranges) {
        if (r.location < previousEnd || r.length < 0 || r.end() > m_storage->length()) return false;
        previousEnd = r.end();
    }
    if (!checkEditable()) return false;
    const bool removes = std::any_of(ranges.begin(), ranges.end(), [](Range r) { return !r.isEmpty(); });
    if (settings().isNoEditingEnabled() && removes) return false;

    // What each edit touches, judged on the text before the change.
    const QString& string = m_storage->string();
    const bool markdown = isMarkdownEnabled();
    const bool outline = markdown && isOutlineVisible();
    QStringList oldTexts;
    oldTexts.reserve(texts.size());
    std::vector<Range> restyle; // in the text after the change
    bool touchesOutline = false;
    qsizetype shift = 0;
    // One word put for another changes no Markdown (the paragraph keeps its
    // markers and its kind), unless it is a heading's title or stands next
    // to a marker: those paragraphs are restyled as typing would restyle
    // them.
    const auto isWord = [](QStringView s) {
        return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c.isLetterOrNumber() || c.isMark(); });
    };
    const CharacterSet& syntax = Markdown::syntaxCharacters();
    for (size_t i = 0; i < ranges.size(); ++i) {
        const Range r = ranges[i];
        const QString& text = texts[qsizetype(i)];
        oldTexts << string.mid(r.location, r.length);
        if (markdown) {
            const bool heading = outlineAt(*m_storage, r) != nullptr;
            touchesOutline = touchesOutline || (outline && heading);
            const bool wordForWord = isWord(text) && isWord(oldTexts.back())
                && (r.location == 0 || !syntax.contains(string[r.location - 1]))
                && (r.end() == string.size() || !syntax.contains(string[r.end()]));
            if (heading || (!wordForWord && editTouchesMarkdownSyntax(string, r, text)))
                restyle.emplace_back(r.location + shift, text.size());
        }
        shift += text.size() - r.length;
    }
    const Range before = selectedRange();
    // By default the caret stays with the text it stood in (at the start of
    // a replacement it stood in), so the view does not jump.
    Range after = Range(before.location, 0);
    if (!selection) {
        for (size_t i = 0; i < ranges.size() && ranges[i].location < before.location; ++i) {
            const qsizetype grown = texts[qsizetype(i)].size() - ranges[i].length;
            after.location = ranges[i].end() <= before.location ? after.location + grown
                                                                : after.location - (before.location - ranges[i].location);
        }
    }
    after = selection.value_or(after);

    m_textHasChanged = true;
    // The replacements alone, so that the mirror follows them one by one;
    // then each touched paragraph is restyled on its own. Paragraphs out of
    // sight are laid out again when they come into sight.
    const TextMirror::DeferredLayout deferred(*m_mirror);
    m_storage->replaceCharacters(ranges, texts);
    qsizetype restyledUntil = 0;
    for (const Range& r : restyle) {
        if (r.location < restyledUntil && r.end() < restyledUntil) continue; // its paragraph is done
        const QString& s = m_storage->string();
        qsizetype n = r.length;
        if (r.end() > 0 && r.end() < s.size() && text::isNewline(s[r.end() - 1])) ++n;
        restyledUntil = restyleParagraphs(*m_storage, *settings().parsedStylesheet(), Range(r.location, n), true).end();
        ++m_restyleCount;
    }

    if (m_undo) m_undo->recordReplacements({ranges, oldTexts, texts, before, after});
    setSelectedRange(after);
    m_textHasChanged = false;
    // What follows an edit, without list continuation or a sound.
    if (outline && (touchesOutline || !restyle.empty()) && m_hooks.reloadOutline) m_hooks.reloadOutline();
    if (settings().highlighting() != Settings::Highlighting::off) updateHighlighting();
    updateTypingAttributes();
    return true;
}

// Restyles the paragraphs around the edit when it touched Markdown syntax or
// a heading: the lines of the edit, and the line after a typed line break.
void TextView::restyleAfterChange()
{
    if (!isMarkdownEnabled() || !m_affectedCharRange || !(m_resetMarkdown || m_resetOutline)) return;
    const qsizetype a = m_affectedCharRange->location;
    qsizetype n = m_affectedCharRange->length;
    const qsizetype e = a + n;
    if (e > 0 && e < m_storage->length() && text::isNewline(m_storage->characterAt(e - 1).unicode())) ++n;
    restyleParagraphs(*m_storage, *settings().parsedStylesheet(), Range(a, n), true);
    ++m_restyleCount;
}

void TextView::processChange()
{
    ++m_processDepth;
    m_textHasChanged = false;
    const bool markdown = isMarkdownEnabled();

    if (markdown && m_affectedCharRange && isOutlineVisible() && m_hooks.reloadOutline) {
        const auto before = std::exchange(m_headingsBefore, std::nullopt);
        const auto after = headingsAround(*m_affectedCharRange);
        // Edits away from any heading leave the outline alone.
        if (!before || !after || !before->empty() || !after->empty()) {
            m_headingChange = headingChangeBetween(before, after);
            m_hooks.reloadOutline();
            m_headingChange = HeadingChange();
        }
    }
    m_headingsBefore.reset();
    if (settings().highlighting() != Settings::Highlighting::off) updateHighlighting();
    updateTypingAttributes();
    if (settings().isTypewriterScrollingEnabled()) keepInsertionLineInPlace();

    // List continuation: its own undo step, through the whole road again.
    if (markdown && m_continuesLists && m_affectedCharRange
        && !(m_undo && (m_undo->isUndoing() || m_undo->isRedoing()))) {
        // Continuation reads the paragraph the edit ended.
        const qsizetype end = m_storage->paragraphBounds(Range(m_affectedCharRange->location, 0)).end;
        if (const auto edit = listContinuation(m_storage->stringBefore(end), *m_affectedCharRange)) {
            if (m_undo) m_undo->beginGroup();
            // Refused (no-editing mode ending a list): the caret stays put.
            if (replaceCharacters(edit->range, edit->replacement, EditOptions{})) setSelectedRange(edit->selection);
            if (m_undo) m_undo->endGroup();
        }
    }

    // One sound per keystroke: the one of the last edit made for it.
    if (--m_processDepth == 0 && m_typewriterSound) {
        const auto [range, text] = *std::exchange(m_typewriterSound, std::nullopt);
        if (AudioPlayer* player = settings().typingSounds().typewriterSound(range, text)) player->play();
    }
}

// The headings of the lines range touches and of the line after them, with
// their levels; nothing when those lines are too long to read on every key.
std::optional<TextView::Headings> TextView::headingsAround(Range range) const
{
    const text::ParagraphBounds lines = m_storage->paragraphBounds(range);
    const qsizetype end = lines.end < m_storage->length() ? m_storage->paragraphBounds(Range(lines.end, 0)).end : lines.end;
    if (end - lines.start > 64 * 1024) return std::nullopt;
    Headings headings;
    for (std::shared_ptr<Outline>& entry : outlinesIn(*m_storage, Range(lines.start, end - lines.start))) {
        const int level = entry->level;
        headings.emplace_back(std::move(entry), level);
    }
    return headings;
}

// An edit's headings before and after it: the same, one more or one fewer,
// or anything else.
TextView::HeadingChange TextView::headingChangeBetween(const std::optional<Headings>& before,
                                                       const std::optional<Headings>& after) const
{
    HeadingChange change;
    if (!before || !after) return change;
    const Headings& b = *before;
    const Headings& a = *after;
    // The first place where they differ, and whether the rest lines up.
    auto differsFrom = [](const Headings& x, const Headings& y) {
        size_t i = 0;
        while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
        return i;
    };
    auto restEqual = [](const Headings& x, size_t i, const Headings& y, size_t j) {
        return x.size() - i == y.size() - j && std::equal(x.begin() + qsizetype(i), x.end(), y.begin() + qsizetype(j));
    };
    const size_t at = differsFrom(b, a);
    const auto isIn = [](const Headings& list, const Outline* entry) {
        return std::any_of(list.begin(), list.end(), [&](const auto& h) { return h.first.get() == entry; });
    };
    if (at == b.size() && at == a.size()) {
        change.kind = HeadingChange::Kind::titles;
    } else if (a.size() == b.size() + 1 && restEqual(b, at, a, at + 1) && !isIn(b, a[at].first.get())) {
        change.kind = HeadingChange::Kind::made;
        change.heading = a[at].first;
        change.previous = at > 0 ? a[at - 1].first
                                 : outlineBefore(*m_storage, m_storage->paragraphBounds(*m_affectedCharRange).start);
    } else if (b.size() == a.size() + 1 && restEqual(b, at + 1, a, at) && !isIn(a, b[at].first.get())) {
        change.kind = HeadingChange::Kind::unmade;
        change.heading = b[at].first;
    } else {
        return change;
    }
    for (const auto& h : a) change.headings.push_back(h.first);
    return change;
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
    double h = Settings::windowedVerticalInset;
    if (window()->isFullScreen()) {
        const QScreen* screen = window()->screen();
        h = std::round((screen ? screen->geometry().height() : 0) * Settings::fullscreenVerticalInsetFraction);
    }
    // Typewriter scrolling needs room below the text so that the last line,
    // where most writing happens, can rise to the middle. The top keeps the
    // plain inset: a document opens with its first lines at the top, and a
    // caret near the start simply stays above the middle.
    const double bottom = settings().isTypewriterScrollingEnabled()
        ? std::max(h, std::round(viewport()->height() * 0.5))
        : h;
    const double w = viewport()->width();
    const double s = settings().editorSize();
    const double padding = s == 0 ? 0.0 : std::max(0.0, std::round(w - s) * 0.5);
    const QMarginsF margins(padding, h, padding, bottom);
    if (margins == m_mirror->rootFrameMargins()) return;
    // New insets (entering or leaving full screen) leave the text where it
    // stood in the view.
    const ViewAnchor anchor = viewAnchor();
    m_mirror->setRootFrameMargins(margins);
    if (!m_resizing) restoreViewAnchor(anchor);
}

int TextView::insertionBottom() const
{
    const Range s = selectedRange();
    // The line of the last selected character, or of the caret.
    QTextCursor c(document());
    c.setPosition(int(s.isEmpty() ? s.location : s.end() - 1));
    const QRect line = cursorRect(c);
    return line.y() + line.height();
}

// After an edit the line of the selection stands at the height of the view
// where it stood before (see prepareForChange), as far as the text can
// scroll: a typewriter keeps the writer's line in one place.
void TextView::keepInsertionLineInPlace()
{
    if (!m_oldInsertionOrigin) return;
    QScrollBar* bar = verticalScrollBar();
    const int inDocument = insertionBottom() + bar->value();
    bar->setValue(std::clamp(inDocument - *m_oldInsertionOrigin, 0, std::max(0, bar->maximum())));
}

TextView::ViewAnchor TextView::viewAnchor() const
{
    const QRect caret = cursorRect();
    if (caret.bottom() >= 0 && caret.top() < viewport()->height()) return {textCursor().position(), caret.top()};
    const QTextCursor top = cursorForPosition(QPoint(viewport()->width() / 2, 0));
    return {top.position(), cursorRect(top).top()};
}

void TextView::restoreViewAnchor(const ViewAnchor& anchor)
{
    // A new width or inset leaves the text above only estimated: measured
    // first, it cannot move the anchor's line again when it is painted.
    measureShownAround(anchor.position, anchor.y);
    QTextCursor c(document());
    c.setPosition(int(std::clamp<qsizetype>(anchor.position, 0, document()->characterCount() - 1)));
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + cursorRect(c).top() - anchor.y);
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
    range = safeRange(range);
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
        const qsizetype start = safeRange(range).location;
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

QString TextView::plainText(const QMimeData* source) const
{
    if (!source) return {};
    if (source->hasText()) return source->text();
    if (source->hasHtml()) {
        // Nothing the HTML names (a style sheet, a background) is read.
        const SafeTextDocument noResources;
        return QTextDocumentFragment::fromHtml(source->html(), &noResources).toPlainText();
    }
    if (source->hasUrls()) {
        QStringList parts;
        for (const QUrl& url : source->urls()) parts.append(url.isLocalFile() ? url.toLocalFile() : url.toString());
        return parts.join(u'\n');
    }
    return {};
}

bool TextView::canInsertFromMimeData(const QMimeData* source) const
{
    return source && (source->hasText() || source->hasHtml() || source->hasUrls());
}

void TextView::insertFromMimeData(const QMimeData* source)
{
    if (!m_storage) return;
    const QString text = withDocumentLineEndings(plainText(source));
    if (text.isEmpty()) return;
    const Range range = selectedRange();
    replaceCharacters(range, m_services->smartPasteText(range, text),
                      EditOptions{UndoCoalescing::none, std::nullopt, true});
}

QMimeData* TextView::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    if (m_storage) {
        const Range r = selectedRange();
        data->setText(m_storage->substring(r));
    }
    return data;
}

void TextView::copy()
{
    if (!m_storage || selectedRange().isEmpty()) return;
    QApplication::clipboard()->setMimeData(createMimeDataFromSelection());
}

void TextView::cut()
{
    if (!m_storage || selectedRange().isEmpty()) return;
    if (settings().isNoEditingEnabled() || !checkEditable()) return;
    copy();
    deleteSelection();
}

void TextView::paste()
{
    insertFromMimeData(QApplication::clipboard()->mimeData());
}

void TextView::dropEvent(QDropEvent* e)
{
    // Qt's drop would edit the document itself; let it only clear its drop caret.
    QDragLeaveEvent leave;
    QTextEdit::dragLeaveEvent(&leave);
    const QMimeData* source = e->mimeData();
    if (!m_storage || !canInsertFromMimeData(source)) {
        e->ignore();
        return;
    }
    const QString text = plainText(source);
    const qsizetype at = cursorForPosition(e->position().toPoint()).position();
    const bool move = (e->source() == this || e->source() == viewport()) && e->dropAction() == Qt::MoveAction;
    dropText(text, at, move);
    e->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    e->accept();
    setFocus();
}

void TextView::dropText(const QString& dropped, qsizetype at, bool moveSelection)
{
    if (!m_storage || dropped.isEmpty()) return;
    const QString text = withDocumentLineEndings(dropped);
    const Range selection = selectedRange();
    const bool move = moveSelection && !selection.isEmpty();
    if (move && at >= selection.location && at <= selection.end()) return;
    if (m_undo) m_undo->beginGroup();
    const Range inserted(at, text.size());
    const bool done = replaceCharacters(Range(at, 0), text, EditOptions{UndoCoalescing::none, inserted, true});
    if (done && move) {
        // The moved text goes away from where it was; it shifted when it
        // stood after the drop.
        const bool before = at <= selection.location;
        const Range old = before ? Range(selection.location + text.size(), selection.length) : selection;
        const Range after = before ? inserted : Range(at - selection.length, text.size());
        replaceCharacters(old, QString(), EditOptions{UndoCoalescing::none, after, false});
    }
    if (m_undo) m_undo->endGroup();
}

QMenu* TextView::createContextMenu(const QPoint& position)
{
    QMenu* menu = createStandardContextMenu(position);
    QObject* control = nullptr;
    for (QObject* child : children())
        if (child->inherits("QWidgetTextControl")) control = child;
    const bool hasSelection = m_storage && !selectedRange().isEmpty();
    const bool editable = isEditable() && !settings().isNoEditingEnabled();
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            // Inserting control characters would bypass the gate.
            menu->removeAction(action);
            continue;
        }
        const QString name = action->objectName();
        void (TextView::*slot)() = nullptr;
        bool enabled = action->isEnabled();
        if (name == QLatin1String("edit-undo")) {
            slot = &TextView::undo;
            enabled = editable && m_undo && m_undo->canUndo();
        } else if (name == QLatin1String("edit-redo")) {
            slot = &TextView::redo;
            enabled = editable && m_undo && m_undo->canRedo();
        } else if (name == QLatin1String("edit-cut")) {
            slot = &TextView::cut;
            enabled = editable && hasSelection;
        } else if (name == QLatin1String("edit-copy")) {
            slot = &TextView::copy;
            enabled = hasSelection;
        } else if (name == QLatin1String("edit-paste")) {
            slot = &TextView::paste;
            enabled = m_storage && canInsertFromMimeData(QApplication::clipboard()->mimeData());
        } else if (name == QLatin1String("edit-delete")) {
            slot = &TextView::deleteSelection;
            enabled = editable && hasSelection;
        } else {
            continue;
        }
        if (control) QObject::disconnect(action, &QAction::triggered, control, nullptr);
        connect(action, &QAction::triggered, this, slot);
        action->setEnabled(enabled);
    }
    m_services->addContextMenuItems(menu, position);
    return menu;
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
    const ViewAnchor anchor = viewAnchor();
    m_resizing = true;
    QTextEdit::resizeEvent(e);
    m_services->layoutFindBar();
    updateTextContainerInset();
    m_resizing = false;
    if (m_everShown) restoreViewAnchor(anchor);
}

bool TextView::isFindBarVisible() const
{
    return m_services->isFindBarVisible();
}

void TextView::centerSelectionInVisibleArea()
{
    if (!m_storage) return;
    const Range selection = selectedRange();
    measureShownAround(selection.location, viewport()->height() / 2);
    QTextCursor start(document());
    start.setPosition(int(selection.location));
    QTextCursor end(document());
    end.setPosition(int(selection.end()));
    const int middle = (cursorRect(start).top() + cursorRect(end).bottom()) / 2;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + middle - viewport()->height() / 2);
}

Range TextView::shownRange() const
{
    if (!m_storage) return Range();
    const EditorLayout* layout = m_mirror->layout();
    const double height = viewport()->height();
    const double top = verticalScrollBar()->value();
    const QTextBlock first = layout->blockAt(top - height);
    const QTextBlock last = layout->blockAt(top + 2 * height);
    const qsizetype from = std::min<qsizetype>(first.position(), m_storage->length());
    const qsizetype to = std::clamp<qsizetype>(last.position() + last.length() - 1, from, m_storage->length());
    return Range(from, to - from);
}

int TextView::selectionDistanceFromTop() const
{
    QTextCursor start(document());
    start.setPosition(int(std::clamp<qsizetype>(selectedRange().location, 0, document()->characterCount() - 1)));
    return cursorRect(start).top();
}

void TextView::scrollSelectionToDistanceFromTop(int distance)
{
    scrollPositionToDistanceFromTop(selectedRange().location, distance);
}

void TextView::scrollPositionToDistanceFromTop(qsizetype position, int distance)
{
    position = std::clamp<qsizetype>(position, 0, document()->characterCount() - 1);
    measureShownAround(position, distance);
    QTextCursor at(document());
    at.setPosition(int(position));
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + cursorRect(at).top() - distance);
}

// The paragraphs that will stand in the view once position is `distance`
// below its top are measured first: the layout only estimates text it has
// not shown, and measuring them when they are painted would move position
// away from where it was put. Those below count too: near the end of a text
// estimated too short, the view's range would not reach the place.
void TextView::measureShownAround(qsizetype position, int distance)
{
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const QTextBlock at = document()->findBlock(int(std::clamp<qsizetype>(position, 0, document()->characterCount() - 1)));
    double covered = -layout->blockBoundingRect(at).height();
    for (QTextBlock b = at; b.isValid() && covered <= distance; b = b.previous())
        covered += layout->blockBoundingRect(b).height();
    covered = 0;
    const int below = viewport()->height() - distance;
    for (QTextBlock b = at.next(); b.isValid() && covered <= below; b = b.next())
        covered += layout->blockBoundingRect(b).height();
    // Finding them measured more of the text: the scroll range must know
    // that before it can reach down there.
    if (const auto* editorLayout = qobject_cast<const EditorLayout*>(layout)) editorLayout->updateDocumentSize();
}

void TextView::showEvent(QShowEvent* e)
{
    QTextEdit::showEvent(e);
    if (!m_textOptionsLoaded) loadTextOptions();
    updateTextContainerInset();
    m_everShown = true;
}

} // namespace lumora
