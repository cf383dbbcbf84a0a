#pragma once

#include "markdown/MarkdownScanner.h"
#include "platform/foundation/Range.h"

#include <QStringView>

#include <optional>
#include <vector>

// Where a Markdown text is not prose: code, link addresses, HTML and the
// labels that tie notes and references together. Spelling and the smart
// substitutions keep out of these places, so an address is never
// underlined and a quote in code stays straight.
namespace lumora {

// The stretches of the paragraph (its characters, without its line break)
// that are syntax, in absolute offsets and in order: a code block line;
// code spans; the addresses of inline links and link definitions; the
// labels of references, footnotes, citations, glossary and acronym entries
// and of their definitions; HTML tags, comments and entities; automatic
// links, bare web addresses and e-mail addresses.
std::vector<Range> syntaxRanges(QStringView text, Range paragraph);

// The code spans of a paragraph (its characters, without its line break),
// backticks included, in absolute offsets and in order.
std::vector<Range> codeSpans(QStringView text, Range paragraph);

// Whether the character at index, just typed, stands where no prose is:
// inside a stretch of syntaxRanges(), or after a code span, link address or
// HTML tag that opens earlier on its paragraph and is not closed yet.
// (Fenced code blocks are CodeFences' to say.)
bool isInsideSyntax(QStringView text, qsizetype index);

// The fenced code blocks of a text (between fence lines, see fenceLine()),
// kept current edit by edit so that no edit has to scan the whole text.
class CodeFences {
public:
    // Finds every fence of text.
    void reset(QStringView text);
    // Follows a change of the text: editedRange is where the new text
    // differs (in the new text), changeInLength how much longer it grew.
    void update(QStringView text, Range editedRange, qsizetype changeInLength);
    // The same when text holds only the start of a text of textLength
    // characters, up to the end of the line where the edit ends at least.
    // False, changing nothing, when the fences were not of the text before
    // the change (then reset() with the whole text).
    bool update(QStringView text, qsizetype textLength, Range editedRange, qsizetype changeInLength);

    // The length of the text the fences are of.
    qsizetype textLength() const { return m_textLength; }

    // Whether index lies in a fenced block (its fences included). An
    // unclosed fence runs to the end of the text.
    bool contains(qsizetype index) const;
    // The opening fence of the block still open where the line at lineStart
    // begins (opened on an earlier line, not closed before this one).
    struct Opening {
        qsizetype lineStart;
        FenceLine line;
    };
    std::optional<Opening> openingBefore(qsizetype lineStart) const;
    // The blocks, each from its opening fence line's start to the end of its
    // closing fence line (or of the text).
    const std::vector<Range>& blocks() const;

private:
    struct Fence {
        qsizetype lineStart;
        qsizetype lineEnd; // before the line break
        FenceLine line;
    };
    static void scanLines(QStringView text, qsizetype from, qsizetype to, std::vector<Fence>& into);

    std::vector<Fence> m_fences;
    qsizetype m_textLength = 0;
    mutable std::vector<Range> m_blocks;
    mutable bool m_blocksValid = false;
};

} // namespace lumora
