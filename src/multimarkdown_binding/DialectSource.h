#pragma once

#include "multimarkdown_binding/MetadataBlock.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumora {

namespace dialect {
class SourceScanner;
}

enum class NoteKind { footnote, citation, glossary, abbreviation };

// The languages the words the HTML adds to notes come in ("see footnote",
// "return to body").
enum class NoteLanguage { english, spanish, german, french, dutch, swedish };

// An attribute of a link definition: "[id]: url width=40px" gives
// {"width", "40px"}.
struct LinkAttribute {
    std::string key;
    std::string value;
};

// What a table's lines said that cmark-gfm's tables cannot: written into the
// document in a shape cmark reads, and put back in the tree (TableStyler).
struct TableShape {
    // The table's first line in DialectSource::document(): its header row's,
    // or its caption's when one stands right above it (1-based).
    int firstLine = 0;
    // Header rows above the last one, written under the separator row (in
    // their order) so that cmark reads the last one as the header.
    int headerRowsBelow = 0;
    // No header: the header row cmark needs is one of empty cells, ours.
    bool headerless = false;
    // The columns whose separator cell holds "+": their long cells wrap.
    std::vector<bool> wrapped;
};

// Where a line of a prepared document came from in the text: the stretch of
// the text it was written from (a line of the text, or the part of one
// left after a note's indentation). The written line is that stretch as it
// stands or rewritten (list markers, markers for CriticMarkup); a line of our
// own (a blank line between blocks, a separator) comes from nowhere.
struct LineOrigin {
    static constexpr size_t nowhere = size_t(-1);
    size_t start = nowhere; // byte offset in the text prepare() was given
    size_t length = 0;
};

// A definition taken out of the text: "[^id]: text", "[#key]: text",
// "[?term]: text" or "[>ABBR]: text".
struct NoteDefinition {
    NoteKind kind = NoteKind::footnote;
    std::string key;   // normalised (DialectSource::normalizedNoteKey)
    std::string label; // as written: the glossary term, the abbreviation
    std::string title; // abbreviations: the expansion as plain text
    // The lines of the definition's content in DialectSource::notesDocument(),
    // 1-based and inclusive (empty when lastLine < firstLine).
    int firstLine = 0;
    int lastLine = -1;
};

// The first pass of a conversion, linear in the text: it takes off the
// metadata block, takes the note, citation, glossary and abbreviation
// definitions out of the body into a notes document of their own (each after
// a separator comment, so that cmark parses each as top-level blocks and the
// second pass can move them into the notes lists; the body's one-line link
// definitions come first, so that the notes can use them), turns
// CriticMarkup delimiters and escaped brackets into markers (see
// DialectMarkers.h), and writes the lines MultiMarkdown reads as other
// blocks than cmark does as cmark reads those blocks (lists, quoted code,
// rules, tables: see ListRules, BlockRules and TableLines).
//
// It reads lines at the top level only: definitions start at the beginning
// of a line (at most three spaces in), after a blank line, a heading, a line
// of text or another definition (right under a list item, a quote or a
// definition list's definition only at the very start of the line), and
// never inside a fenced code block or a raw HTML block. (SourceScanner reads
// the lines.)
class DialectSource {
public:
    struct Options {
        bool metadata = true;
        bool notes = true;
        bool critic = true;
        bool smart = true;   // escaped quotes stay straight
        bool dialect = true; // math delimiters, link attributes, variables
        // Whether to note where each line of both documents came from (see
        // lineOrigins), for readers of positions in the text.
        bool lineOrigins = false;
    };

    // The most cells a table row may have; a line's later pipes are text.
    static constexpr size_t maxTableColumns = 100;

    // text: engine text (see EngineText.h).
    static DialectSource prepare(std::string_view text, Options options);

    enum class Part { body, notes };

    const std::string& document() const { return document_; }
    const std::string& notesDocument() const { return notesDocument_; }
    const MetadataBlock& metadata() const { return metadata_; }
    const std::vector<NoteDefinition>& definitions() const { return definitions_; }
    // With Options::lineOrigins, where each line of a document came from,
    // by its number less one; empty without.
    const std::vector<LineOrigin>& lineOrigins(Part part) const
    {
        return part == Part::body ? documentOrigins_ : notesOrigins_;
    }
    // The lines of document() that hold a definition list's term, and those
    // that begin a list of its definitions (as "+" items; loose ones had a
    // blank line after their terms).
    bool isTermLine(int line) const;
    // Whether the document holds a definition list at all.
    bool hasDefinitionLists() const { return !termLines_.empty(); }
    // Whether "{{TOC" stands anywhere in the text.
    bool mayHaveTableOfContents() const { return mayHaveTableOfContents_; }
    bool beginsDefinitions(int line) const;
    bool beginsLooseDefinitions(int line) const;
    // The attributes of link definitions, by the number their destinations
    // end with (see attributesMark in DialectMarkers.h).
    const std::vector<std::vector<LinkAttribute>>& linkAttributes() const { return linkAttributes_; }
    // The tables whose lines said more than cmark reads (see TableShape), by
    // their first line; null for any other.
    const TableShape* tableShape(int firstLine) const;
    // Whether a line of document() is a table row that begins a section of
    // its table of its own (written after a blank line between rows).
    bool beginsTableSection(int line) const;
    // Whether the document holds any marker (see DialectMarkers.h).
    bool hasMarkers() const { return hasMarkers_; }
    // Whether the text holds any "[^", "[#", "[?" or "[>", or a definition.
    bool hasReferences() const { return hasReferences_; }
    // Whether a line may hold an inline link or image with attributes: "]("
    // with "=" after it.
    bool hasInlineAttributes() const { return hasInlineAttributes_; }
    // Whether a line from firstLine to lastLine (1-based, inclusive) of a
    // document holds a marker or reference syntax or may be a heading: the
    // blocks made of other lines need no pass over their inlines.
    bool hasInterestingLine(Part part, int firstLine, int lastLine) const;

    // A label as notes are looked up: ASCII letters lower-cased, runs of
    // white space as one space, trimmed, backslash escapes removed, and the
    // typographic characters of smart typography (dashes, ellipsis, curly
    // quotes) read as the straight characters they come from, so that
    // "[^a--b]" finds "[^a--b]:" with or without smart typography.
    static std::string normalizedNoteKey(std::string_view label);

private:
    friend class dialect::SourceScanner;

    std::string document_;
    std::string notesDocument_;
    MetadataBlock metadata_;
    std::vector<NoteDefinition> definitions_;
    std::vector<LineOrigin> documentOrigins_;
    std::vector<LineOrigin> notesOrigins_;
    std::vector<std::vector<LinkAttribute>> linkAttributes_;
    std::vector<int> termLines_;
    std::vector<int> definitionLines_;
    std::vector<int> looseDefinitionLines_;
    std::vector<int> interestingLines_;
    std::vector<TableShape> tableShapes_; // by firstLine, ascending
    std::vector<int> tableSectionLines_;
    std::vector<int> interestingNoteLines_;
    bool hasMarkers_ = false;
    bool mayHaveTableOfContents_ = false;
    bool hasReferences_ = false;
    bool hasInlineAttributes_ = false;
};

} // namespace lumora
