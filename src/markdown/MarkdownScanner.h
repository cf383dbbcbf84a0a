#pragma once

#include "markdown/Markdown.h"

#include <QString>
#include <QStringView>

#include <optional>

// The two scanners of Lumora's Markdown dialect: narrow and fixed, with no
// setext headings, fenced code, code spans, flanking rules or nesting. Both
// are pure functions of the text and the range they are given, work on the
// UTF-16 text directly and never look outside that range except for the one
// character before an inline marker (a backslash escapes it). A line is
// told to be a code fence by fenceLine(); which block a line belongs to
// depends on the lines before it, which the styling (and CodeFences) follow.
namespace lumora {

// Which line element the paragraph at (location, length) is (normally with
// its line break), and where its inline content starts; nothing when it is
// none or when location is the end of the text.
std::optional<Markdown::LineElement> markdownLineElement(QStringView text, qsizetype location, qsizetype length);

// A fence line of a fenced code block, as CommonMark reads one: up to three
// spaces (a tab is four columns: never), then three or more "`" or "~". A
// run of backticks followed by a backtick anywhere on the line is no fence.
struct FenceLine {
    char16_t marker;  // '`' or '~'
    qsizetype indent; // the spaces before the marker run
    qsizetype count;  // the length of the marker run
    bool bare;        // nothing but spaces and tabs after the run: it may close a block
};
// The fence line (location, end), end being the line's end before its line
// break; nothing when the line is none.
std::optional<FenceLine> fenceLine(QStringView text, qsizetype location, qsizetype end);
// Whether fence closes the block that opener opened: the same character,
// at least as many of them, nothing after them.
inline bool closesFence(const FenceLine& fence, const FenceLine& opener)
{
    return fence.bare && fence.marker == opener.marker && fence.count >= opener.count;
}

// The first inline element in the stretch (location, length); nothing when
// there is none.
std::optional<Markdown::InlineElement> nextInlineMarkdown(QStringView text, qsizetype location, qsizetype length);

// UTF-16 units covered by back-to-back occurrences of marker starting exactly
// at index, stopping at limit (the end of the text when negative).
qsizetype countMarkerRepeats(QStringView text, QStringView marker, qsizetype index, qsizetype limit = -1);

// The number of consecutive characters of set starting at index, stopping at
// limit (the end of the text when negative).
qsizetype skipCharacters(QStringView text, const CharacterSet& set, qsizetype index, qsizetype limit = -1);

// A stretch split into its leading whitespace, its core and its trailing
// whitespace (whitespace without line breaks). All whitespace, or empty:
// (the whole stretch, "", "").
struct WhitespaceTrimmedParts {
    QString leading;
    QString core;
    QString trailing;
};
WhitespaceTrimmedParts whitespaceTrimmedParts(QStringView text);

} // namespace lumora
