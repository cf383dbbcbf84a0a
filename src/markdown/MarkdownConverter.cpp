#include "markdown/MarkdownConverter.h"

#include "markdown/MarkdownScanner.h"
#include "platform/foundation/CharacterSet.h"

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

    if (!body.isEmpty()) {
        const WhitespaceTrimmedParts parts = whitespaceTrimmedParts(body);
        if (parts.core.isEmpty()) {
            // White space alone: it waits outside the markers, which open
            // and close only around text.
            state.heldWhitespace = state.heldWhitespace.value_or(QString()) + parts.leading;
        } else {
            const QStringList markers = MarkdownConverter::markers(attributes);
            for (qsizetype i = state.openMarkers.size() - 1; i >= 0; --i) {
                if (markers.contains(state.openMarkers[i])) continue;
                state.output += state.openMarkers.takeAt(i);
            }
            writeHeldWhitespace(state);
            state.output += parts.leading;
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
