#pragma once

#include "multimarkdown_binding/BlockTracker.h"
#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/ListRules.h"
#include "multimarkdown_binding/MarkedWriter.h"
#include "multimarkdown_binding/TableBudget.h"
#include "multimarkdown_binding/TableLines.h"
#include "multimarkdown_binding/TopLevelText.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// The line-by-line pass of DialectSource::prepare over the body (the text
// after any metadata), in time linear in the text: each line is read once
// (a definition list's terms are looked ahead a few lines and then taken
// whole) and handled by the method for its kind. Body lines go to the
// source's document; definitions of notes are kept and written as a notes
// document of their own at the end.
class SourceScanner {
public:
    SourceScanner(std::string_view text, const DialectSource::Options& options, DialectSource& source);

    SourceScanner(const SourceScanner&) = delete;
    SourceScanner& operator=(const SourceScanner&) = delete;

    void scanBody();
    // After the body: the notes document and what the source says of both.
    void finish();

private:
    enum class State {
        text,           // lines of the body
        noteDefinition, // the content of a note's definition (blank lines counted in noteBlanks_)
    };
    enum class DefinitionList {
        none,
        afterTerms,  // terms are written; definitions may follow
        definitions, // definitions are being written (as "+" items)
    };
    struct PendingNote {
        NoteDefinition definition;
        std::vector<std::string_view> lines;
    };
    // The terms of a definition list: the lines of a paragraph (a few at
    // most) followed by a definition line, directly or after one blank line.
    struct TermLines {
        int count = 0;
        bool blankBefore = false; // a blank line between the terms and the definition
    };

    // Each method for a kind of line is true when it took the line.
    bool continueNote(std::string_view line);
    bool startNote(std::string_view line);
    bool definitionListLine(std::string_view line);
    bool takeTerms();
    bool takeLinkDefinition(std::string_view line, bool underText);
    void writeTextLine(std::string_view line, bool linkDefinition);
    bool takeTableLines(std::string_view line);
    // Writes a line of the body (written: as cmark is to read it).
    void writeLine(std::string_view written, std::string_view line, bool linkDefinition);

    bool endsNestedText(std::string_view line);
    TermLines termsAhead(size_t position) const;
    void writeBlankLine();

    std::string_view text_;
    const DialectSource::Options options_;
    DialectSource& source_;
    DocumentOutput body_;
    size_t position_ = 0;  // where the next line starts
    size_t lineStart_ = 0; // where the line being read starts

    State state_ = State::text;
    int noteBlanks_ = 0;
    DefinitionList definitionList_ = DefinitionList::none;
    bool looseDefinitions_ = false; // the open list's terms had a blank line after them
    // What the lines before allow: a definition list's terms after a blank
    // line or a heading; a note's, citation's, glossary entry's or
    // abbreviation's definition; a link definition with attributes.
    bool previousBlank_ = true;
    bool definitionMayStart_ = true;
    bool linkDefinitionMayStart_ = true;

    BlockTracker tracker_;
    TableBudget tables_;
    TableLines tableLines_;
    ListRules listRules_;
    TopLevelText topLevel_;
    std::vector<PendingNote> notes_;
    std::vector<std::string> linkDefinitions_; // the body's, for the notes document
};

} // namespace lumora::dialect
