#include "markdown/MarkdownConverter.h"

#include "markdown/MarkdownScanner.h"
#include "platform/foundation/CharacterSet.h"

#include <algorithm>

namespace lumora {

namespace {

void closeAll(MarkdownConverter::State& state)
{
    while (!state.openMarkers.isEmpty()) state.output += state.openMarkers.takeLast();
}

void writeHeldWhitespace(MarkdownConverter::State& state)
{
    if (state.heldWhitespace) state.output += *std::exchange(state.heldWhitespace, std::nullopt);
}

void writeBlankLine(MarkdownConverter::State& state)
{
    if (!state.output.isEmpty() && !state.output.endsWith(QStringLiteral("\n\n"))) state.output += u'\n';
}

// Before the first item of a list that begins where another list of its
// level is open, which Markdown would go on with: an outermost list stands
// after a blank line, and a list of the same kind as the other (both
// numbered or both bulleted) after an empty comment as well. Inside an item
// the comment alone does, since a blank line there would make the lists
// around it loose.
void startApart(const ParagraphStyle::ListItem& item, const QString& indentation, MarkdownConverter::State& state)
{
    QList<ParagraphStyle::ListItem>& open = state.listItems;
    const auto level = std::find_if(open.begin(), open.end(),
                                    [&item](const ParagraphStyle::ListItem& o) { return o.depth >= item.depth; });
    const bool outermost = level == open.begin();
    const bool apart = level != open.end() && level->depth == item.depth && level->list != item.list;
    const bool sameKind = apart && level->numbered == item.numbered;
    open.erase(level, open.end());
    open.append(item);
    if (!apart) return;
    if (outermost) {
        writeBlankLine(state);
        if (sameKind) state.output += QStringLiteral("<!-- -->\n\n");
    } else if (sameKind) {
        state.output += indentation + QStringLiteral("<!-- -->\n");
    }
}

// At the start of a line: the list item's marker, or the indentation of its
// further lines. True when the line's leading white space must go (it would
// push the text past the marker).
bool writeListPrefix(const Attributes& attributes, MarkdownConverter::State& state)
{
    const ParagraphStyle* style = attributes.paragraphStyle();
    const std::optional<ParagraphStyle::ListItem> item = style ? style->listItem : std::nullopt;
    if (!item && state.listItems.isEmpty()) return false;
    const QString indentation(4 * ((item ? item->depth : 1) - 1), u' ');
    if (item && !state.listItems.isEmpty() && *item == state.listItems.last()) {
        state.output += indentation + QStringLiteral("    ");
        return true;
    }
    // A list and the paragraphs around it are apart by a blank line: a
    // paragraph right under an item would go on with the item's text.
    if (item.has_value() == state.listItems.isEmpty()) writeBlankLine(state);
    if (!item) {
        state.listItems.clear();
        return false;
    }
    startApart(*item, indentation, state);
    state.output += indentation + (item->numbered ? QString::number(item->number) + QStringLiteral(". ") : QStringLiteral("- "));
    state.heldWhitespace.reset();
    return true;
}

} // namespace

QStringList MarkdownConverter::markers(const Attributes& attributes)
{
    QStringList result;
    if (const QFont* font = attributes.font()) {
        const bool bold = font->weight() >= QFont::DemiBold;
        const bool italic = font->italic();
        // Bold italic opens as "***" but is two markers, so that a
        // neighbour that is only bold or only italic keeps its half open.
        if (bold) result << QStringLiteral("**");
        if (italic) result << QStringLiteral("*");
        if (font->fixedPitch()) result << QStringLiteral("`");
    }
    if (attributes.contains(AttributeKey::UnderlineStyle)) result << QStringLiteral("_");
    if (attributes.contains(AttributeKey::StrikethroughStyle)) result << QStringLiteral("~~");
    return result;
}

void MarkdownConverter::markdownForRun(const Attributes& attributes, Range range, const TextStorage& string,
                                       State& state) const
{
    const QStringView text = QStringView(string.string()).sliced(range.location, range.length);
    qsizetype bodyEnd = text.size();
    while (bodyEnd > 0 && text::isNewline(text[bodyEnd - 1])) --bodyEnd;
    const QStringView body = text.first(bodyEnd);
    const QStringView lineEnds = text.sliced(bodyEnd);

    // In and around lists every line starts on its own: it may need an
    // item's marker, its indentation, or a blank line after the list.
    const ParagraphStyle* style = attributes.paragraphStyle();
    if ((!state.listItems.isEmpty() || (style && style->listItem))
        && std::any_of(body.begin(), body.end(), [](QChar c) { return text::isNewline(c); })) {
        qsizetype start = 0;
        while (start < text.size()) {
            qsizetype end = start;
            while (end < text.size() && !text::isNewline(text[end])) ++end;
            while (end < text.size() && text::isNewline(text[end])) ++end;
            markdownForRun(attributes, Range(range.location + start, end - start), string, state);
            start = end;
        }
        return;
    }

    if (!body.isEmpty()) {
        const WhitespaceTrimmedParts parts = whitespaceTrimmedParts(body);
        if (parts.core.isEmpty()) {
            // White space alone: it waits outside the markers, which open
            // and close only around text.
            state.heldWhitespace = state.heldWhitespace.value_or(QString()) + parts.leading;
        } else {
            const bool lineStart = state.output.isEmpty() || text::isNewline(state.output.back());
            const bool dropLeading = lineStart && writeListPrefix(attributes, state);
            const QStringList markers = MarkdownConverter::markers(attributes);
            for (qsizetype i = state.openMarkers.size() - 1; i >= 0; --i) {
                if (markers.contains(state.openMarkers[i])) continue;
                state.output += state.openMarkers.takeAt(i);
            }
            writeHeldWhitespace(state);
            if (!dropLeading) state.output += parts.leading;
            QString core = parts.core;
            QString escaped;
            for (const QString& marker : markers) {
                if (!escaped.contains(marker.front())) {
                    core.replace(marker.front(), QStringLiteral("\\") + marker.front());
                    escaped += marker.front();
                }
                if (state.openMarkers.contains(marker)) continue;
                state.openMarkers << marker;
                state.output += marker;
            }
            state.output += core;
            state.heldWhitespace = parts.trailing;
        }
    }
    if (!lineEnds.isEmpty()) {
        closeAll(state);
        writeHeldWhitespace(state);
        state.output += lineEnds;
    }
}

void MarkdownConverter::finish(State& state)
{
    closeAll(state);
    writeHeldWhitespace(state);
}

QString MarkdownConverter::markdown(const TextStorage& string)
{
    const MarkdownConverter converter;
    State state;
    string.enumerateAttributes(Range(0, string.length()), [&](const Attributes& attributes, Range range) {
        converter.markdownForRun(attributes, range, string, state);
        return true;
    });
    finish(state);
    return state.output;
}

} // namespace lumora
