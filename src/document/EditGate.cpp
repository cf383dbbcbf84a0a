#include "document/EditGate.h"

#include "document/EditorScrolling.h"
#include "document/TextServices.h"
#include "document/TextView.h"

#include "markdown/Markdown.h"
#include "markdown/MarkdownEditing.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "markdown/ProgressiveRestyle.h"
#include "platform/application/AudioPlayer.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"

#include <algorithm>
#include <utility>

namespace lumora {

namespace {

Settings& settings() { return Settings::shared(); }

} // namespace

bool splitsCharacter(const TextStorage& s, qsizetype index)
{
    if (index <= 0 || index >= s.length()) return false;
    const QChar before = s.characterAt(index - 1);
    const QChar at = s.characterAt(index);
    return (before.isHighSurrogate() && at.isLowSurrogate()) || (before == u'\r' && at == u'\n');
}

EditGate::EditGate(TextView& view) : m_view(view) {}

EditGate::~EditGate() = default;

TextStorage* EditGate::storage() const { return m_view.textStorage(); }

UndoManager* EditGate::undoManager() const { return m_view.undoManager(); }

// A range that neither starts nor ends inside a surrogate pair or a "\r\n".
Range EditGate::safeRange(Range range) const
{
    const TextStorage& s = *storage();
    qsizetype from = std::clamp<qsizetype>(range.location, 0, s.length());
    qsizetype to = std::clamp<qsizetype>(range.end(), from, s.length());
    if (splitsCharacter(s, from)) --from;
    if (to > from && splitsCharacter(s, to)) ++to;
    if (to < from) to = from;
    return Range(from, to - from);
}

bool EditGate::shouldChangeText(Range range, const QString& text)
{
    if (!m_view.checkEditable()) return false;
    // No-editing mode: only text added at the caret. Deleting, cutting,
    // overwriting a selection and replacing by paste are refused. (Composed
    // characters arrive committed, so no replacement needs letting through.)
    if (settings().isNoEditingEnabled() && range.length > 0) return false;
    prepareForChange(range, text);
    return true;
}

void EditGate::prepareForChange(Range range, const QString& text)
{
    m_textHasChanged = true;
    if (m_view.isMarkdownEnabled()) {
        m_affectedCharRange = Range(range.location, text.size());
        // The test reads the range and the characters on either side of it.
        m_resetMarkdown = editTouchesMarkdownSyntax(storage()->stringBefore(range.end() + 1), range, text);
        // Only while the outline is shown does a heading force a restyle; once
        // it is hidden the flag must not keep every later edit restyling.
        const bool outline = m_view.isOutlineVisible();
        m_resetOutline = outline && outlineAt(*storage(), range) != nullptr;
        m_headingsBefore = outline ? headingsAround(range) : std::nullopt;
    }
    // The sound is chosen by this edit but made only when it plays: an edit
    // made while processing (list continuation) takes its place, and a
    // player made and never played would never leave the playing set.
    if (settings().isTypewriterSoundsEnabled()) m_typewriterSound.emplace(range, text);
    else m_typewriterSound.reset();
    // Typewriter scrolling keeps the selection's line where it stands now.
    m_view.scrolling().noteInsertionLine(settings().isTypewriterScrollingEnabled());
}

bool EditGate::replaceCharacters(Range range, const QString& text, const EditOptions& options)
{
    if (!storage()) return false;
    range = safeRange(range);
    if (range.isEmpty() && text.isEmpty()) return false;
    if (!shouldChangeText(range, text)) return false;
    if (options.silent) m_typewriterSound.reset();

    const Range before = m_view.selectedRange();
    const QString oldText = storage()->substring(range);
    const Range after = options.selection.value_or(Range(range.location + text.size(), 0));

    // The replacement and the restyle reach the mirror as one change.
    // (Edits made here keep the document's line endings as they were.)
    const bool wasInGate = std::exchange(m_inGate, true);
    storage()->beginEditing();
    if (storage()->length() == 0 || options.typed)
        storage()->replaceCharacters(range, text, m_view.typingAttributes());
    else
        storage()->replaceCharacters(range, text);
    restyleAfterChange();
    storage()->endEditing();
    m_inGate = wasInGate;

    if (undoManager()) undoManager()->recordReplacement({range, oldText, text, before, after}, options.coalescing);
    m_view.setSelectedRange(after);
    m_continuesLists = options.continuesLists;
    processChange();
    return true;
}

bool EditGate::replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts, std::optional<Range> selection)
{
    if (!storage() || ranges.empty() || qsizetype(ranges.size()) != texts.size()) return false;
    qsizetype previousEnd = 0;
    for (const Range& r : ranges) {
        if (r.location < previousEnd || r.length < 0 || r.end() > storage()->length()) return false;
        previousEnd = r.end();
    }
    if (!m_view.checkEditable()) return false;
    const bool removes = std::any_of(ranges.begin(), ranges.end(), [](Range r) { return !r.isEmpty(); });
    if (settings().isNoEditingEnabled() && removes) return false;

    // What each edit touches, judged on the text before the change.
    const QString& string = storage()->string();
    const bool markdown = m_view.isMarkdownEnabled();
    const bool outline = markdown && m_view.isOutlineVisible();
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
            const bool heading = outlineAt(*storage(), r) != nullptr;
            touchesOutline = touchesOutline || (outline && heading);
            const bool wordForWord = isWord(text) && isWord(oldTexts.back())
                && (r.location == 0 || !syntax.contains(string[r.location - 1]))
                && (r.end() == string.size() || !syntax.contains(string[r.end()]));
            if (heading || (!wordForWord && editTouchesMarkdownSyntax(string, r, text)))
                restyle.emplace_back(r.location + shift, text.size());
        }
        shift += text.size() - r.length;
    }
    const Range before = m_view.selectedRange();
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
    const TextMirror::DeferredLayout deferred(m_view.mirror());
    storage()->replaceCharacters(ranges, texts);
    qsizetype restyledUntil = 0;
    for (const Range& r : restyle) {
        if (r.location < restyledUntil && r.end() < restyledUntil) continue; // its paragraph is done
        const QString& s = storage()->string();
        qsizetype n = r.length;
        if (r.end() > 0 && r.end() < s.size() && text::isNewline(s[r.end() - 1])) ++n;
        qsizetype followFrom = -1;
        restyledUntil =
            restyleParagraphs(*storage(), *settings().parsedStylesheet(), Range(r.location, n), true, &followFrom).end();
        restyleLater(followFrom);
        ++m_restyleCount;
    }

    if (undoManager()) undoManager()->recordReplacements({ranges, oldTexts, texts, before, after});
    m_view.setSelectedRange(after);
    m_textHasChanged = false;
    // What follows an edit, without list continuation or a sound.
    if (outline && (touchesOutline || !restyle.empty()) && m_view.hooks().reloadOutline) m_view.hooks().reloadOutline();
    if (settings().highlighting() != Settings::Highlighting::off) m_view.updateHighlighting();
    m_view.updateTypingAttributes();
    return true;
}

// Restyles the paragraphs around the edit when it touched Markdown syntax or
// a heading: the lines of the edit, and the line after a typed line break.
void EditGate::restyleAfterChange()
{
    m_restyleFollowed = false;
    if (!m_view.isMarkdownEnabled() || !m_affectedCharRange || !(m_resetMarkdown || m_resetOutline)) return;
    const qsizetype a = m_affectedCharRange->location;
    qsizetype n = m_affectedCharRange->length;
    const qsizetype e = a + n;
    if (e > 0 && e < storage()->length() && text::isNewline(storage()->characterAt(e - 1).unicode())) ++n;
    qsizetype followFrom = -1;
    const Range own = paragraphsToRestyle(*storage(), Range(a, n));
    const Range done = restyleParagraphs(*storage(), *settings().parsedStylesheet(), Range(a, n), true, &followFrom);
    m_restyleFollowed = done.end() > own.end();
    restyleLater(followFrom);
    ++m_restyleCount;
}

void EditGate::dropBackgroundRestyle(bool gone)
{
    if (m_restyleLater && gone) m_restyleLater->forgetStorage();
    m_restyleLater.reset();
}

// A fenced block opened or closed far up a long text: what follows it is
// restyled in the background, from where the edit's own restyle stopped.
void EditGate::restyleLater(qsizetype from)
{
    if (from < 0) return;
    if (!m_restyleLater || m_restyleLater->isFinished()) {
        const auto parsed = settings().parsedStylesheet();
        m_restyleLater = std::make_unique<ProgressiveRestyle>(*storage(), parsed, true);
        // A new stylesheet, or Markdown switched off, restyles the whole text.
        m_restyleLater->wanted = [this, parsed] {
            return m_view.isMarkdownEnabled() && settings().parsedStylesheet() == parsed;
        };
        m_restyleLater->finished = [this] {
            if (settings().highlighting() != Settings::Highlighting::off) m_view.updateHighlighting();
            m_view.updateTypingAttributes();
            if (m_view.isOutlineVisible() && m_view.hooks().reloadOutline) m_view.hooks().reloadOutline();
        };
    }
    m_restyleLater->startFrom(from);
}

void EditGate::processChange()
{
    if (m_processDepth == 0) m_followUpShift = 0;
    ++m_processDepth;
    m_textHasChanged = false;
    const bool markdown = m_view.isMarkdownEnabled();

    if (markdown && m_affectedCharRange && m_view.isOutlineVisible() && m_view.hooks().reloadOutline) {
        const auto before = std::exchange(m_headingsBefore, std::nullopt);
        if (m_restyleFollowed) {
            // The restyle went on past the edit's lines (a fenced block
            // opened or closed): headings after them may have come or gone.
            m_view.hooks().reloadOutline();
        } else if (const auto after = headingsAround(*m_affectedCharRange);
                   !before || !after || !before->empty() || !after->empty()) {
            // Edits away from any heading leave the outline alone.
            m_headingChange = headingChangeBetween(before, after);
            m_view.hooks().reloadOutline();
            m_headingChange = HeadingChange();
        }
    }
    m_headingsBefore.reset();
    if (settings().highlighting() != Settings::Highlighting::off) m_view.updateHighlighting();
    m_view.updateTypingAttributes();
    if (settings().isTypewriterScrollingEnabled()) m_view.scrolling().keepInsertionLineInPlace();

    // List continuation (and the closing of a fence): its own undo step,
    // through the whole road again.
    if (markdown && m_continuesLists && m_affectedCharRange
        && !(undoManager() && (undoManager()->isUndoing() || undoManager()->isRedoing()))) {
        // Continuation reads the paragraph the edit ended.
        const qsizetype end = storage()->paragraphBounds(Range(m_affectedCharRange->location, 0)).end;
        const QStringView text = storage()->stringBefore(end);
        // A fence marker typed after the indentation Return carried into a
        // fenced block closes the block, at the opening fence's indentation.
        std::optional<MarkdownEdit> edit = listContinuation(text, *m_affectedCharRange);
        if (!edit)
            edit = fenceClosing(text, *m_affectedCharRange,
                                [this]() -> const CodeFences& { return m_view.services().codeFences(); });
        if (edit) {
            const Range edited = *m_affectedCharRange;
            if (undoManager()) undoManager()->beginGroup();
            // Refused (no-editing mode ending a list): the caret stays put.
            if (replaceCharacters(edit->range, edit->replacement, EditOptions{})) {
                m_view.setSelectedRange(edit->selection);
                if (edit->range.end() <= edited.location) m_followUpShift += edit->replacement.size() - edit->range.length;
            }
            if (undoManager()) undoManager()->endGroup();
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
std::optional<EditGate::Headings> EditGate::headingsAround(Range range) const
{
    const text::ParagraphBounds lines = storage()->paragraphBounds(range);
    const qsizetype end = lines.end < storage()->length() ? storage()->paragraphBounds(Range(lines.end, 0)).end : lines.end;
    if (end - lines.start > 64 * 1024) return std::nullopt;
    Headings headings;
    for (std::shared_ptr<Outline>& entry : outlinesIn(*storage(), Range(lines.start, end - lines.start))) {
        const int level = entry->level;
        headings.emplace_back(std::move(entry), level);
    }
    return headings;
}

// An edit's headings before and after it: the same, one more or one fewer,
// or anything else.
HeadingChange EditGate::headingChangeBetween(const std::optional<Headings>& before, const std::optional<Headings>& after) const
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
                                 : outlineBefore(*storage(), storage()->paragraphBounds(*m_affectedCharRange).start);
    } else if (b.size() == a.size() + 1 && restEqual(b, at + 1, a, at) && !isIn(a, b[at].first.get())) {
        change.kind = HeadingChange::Kind::unmade;
        change.heading = b[at].first;
    } else {
        return change;
    }
    for (const auto& h : a) change.headings.push_back(h.first);
    return change;
}

} // namespace lumora
