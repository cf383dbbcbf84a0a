#pragma once

#include <QString>

#include <vector>

namespace lumora {

// A stretch of a text, in UTF-16 code units.
struct TextStretch {
    qsizetype start = 0;
    qsizetype length = 0;

    qsizetype end() const { return start + length; }
    friend bool operator==(const TextStretch&, const TextStretch&) = default;
};

// What the conversion makes of a text, told in places of the text itself:
// read from the very parse MultiMarkdown::applicationHtml makes (the
// document prepared for cmark-gfm with its notes, definition lists and the
// rest, and the tree cmark-gfm builds of it with its source positions), so
// that an editing command that must agree with every output reads the text
// once, as the outputs do, and never with a second scanner of its own.
class SourceReading {
public:
    explicit SourceReading(const QString& text);

    // Where the outputs show the text as written, or not at all: code
    // spans, indented and fenced code blocks and raw HTML blocks, wherever
    // they stand (in list items, quotes, notes, definitions), and the
    // metadata at the top. In text order, apart and not
    // empty. A reference or a definition standing there is example text,
    // no link and no note. A code block or an HTML block covers its whole
    // lines, their line breaks included.
    const std::vector<TextStretch>& literalStretches() const { return literal_; }

    // Each note's, citation's and glossary entry's definition ("[^id]: ",
    // "[#key]: ", "[?term]: "), from the start of its first line to the end
    // of the last line the conversion takes as its content (its lazy lines
    // and indented paragraphs), in text order.
    const std::vector<TextStretch>& noteDefinitions() const { return notes_; }

private:
    std::vector<TextStretch> literal_;
    std::vector<TextStretch> notes_;
};

} // namespace lumora
