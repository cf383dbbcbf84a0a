#include "markdown/FocusHighlighting.h"

#include "markdown/AttributeSequence.h"
#include "markdown/TextNavigation.h"

#include <limits>
#include <vector>

namespace lumora {

Range focusRange(QStringView text, Range selection, Highlighting mode)
{
    if (selection.length != 0 || mode == Highlighting::off) return Range(0, text.size());
    if (mode == Highlighting::sentence) return sentenceFocusRange(text, selection.location);
    return paragraphRange(text, selection.location);
}

Range focusRange(const TextStorage& storage, Range selection, Highlighting mode)
{
    if (selection.length != 0 || mode == Highlighting::off) return Range(0, storage.length());
    const qsizetype caret = std::clamp<qsizetype>(selection.location, 0, storage.length());
    const text::ParagraphBounds paragraph = storage.paragraphBounds(Range(caret, 0));
    return focusRange(storage.stringBefore(paragraph.end), Range(caret, 0), mode);
}

namespace {

// The parts of run outside focus: none, one or two.
std::vector<Range> outside(Range run, Range focus)
{
    std::vector<Range> parts;
    if (focus.isEmpty() || !run.intersects(focus)) {
        parts.push_back(run);
        return parts;
    }
    if (run.location < focus.location) parts.emplace_back(run.location, focus.location - run.location);
    if (run.end() > focus.end()) parts.emplace_back(focus.end(), run.end() - focus.end());
    return parts;
}

} // namespace

void highlightFocus(TextStorage& storage, Range focus, bool dimAll)
{
    storage.beginEditing();
    const Range whole(0, storage.length());
    const AttributeKey dimmedKey = dimAll ? AttributeKey::ForegroundColor : AttributeKey::HighlightColor;
    for (const auto& [value, run] : AttributeSequence(storage, dimmedKey, whole)) {
        // What the focus covers is lifted again right after: leave it as it
        // is, so that only what really changes is touched.
        for (const Range piece : outside(run, focus)) {
            // Each colour keeps its own hue: a restyle since the last pass may
            // have given parts of a lifted run colours of their own.
            for (const auto& [colorValue, colored] : AttributeSequence(storage, AttributeKey::ForegroundColor, piece)) {
                if (const Color* color = colorValue.color())
                    storage.addAttribute(AttributeKey::ForegroundColor,
                                         color->withAlpha(unhighlightedTextAlpha), colored);
            }
            storage.removeAttribute(AttributeKey::HighlightColor, piece);
        }
    }
    for (const auto& [value, run] : AttributeSequence(storage, AttributeKey::ForegroundColor, focus)) {
        const Color* color = value.color();
        if (!color) continue;
        const AttributeValue lifted(color->withAlpha(highlightedTextAlpha));
        storage.addAttribute(AttributeKey::HighlightColor, lifted, run);
        storage.addAttribute(AttributeKey::ForegroundColor, lifted, run);
    }
    storage.endEditing();
}

Range highlightedRange(const TextStorage& storage)
{
    qsizetype location = std::numeric_limits<qsizetype>::max();
    qsizetype length = 0;
    for (const auto& [value, run] : AttributeSequence(storage, AttributeKey::HighlightColor, Range(0, storage.length()))) {
        location = std::min(location, run.location);
        length += run.length;
    }
    if (length == 0) return Range(0, 0);
    return Range(location, length);
}

} // namespace lumora
