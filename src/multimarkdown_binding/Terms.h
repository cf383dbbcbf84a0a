#pragma once

#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/InlineOutput.h"
#include "multimarkdown_binding/Notes.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace lumora::dialect {

// Glossary terms and abbreviations: their references ("[?term]",
// "[?(term) definition]", "[>ABBR]", "[>(ABBR) expansion]"), the defined
// ones marked wherever they stand as words of plain text, and abbreviations
// written out at their first use. Glossary entries are notes (see Notes);
// abbreviations are only their expansions.
class Terms {
public:
    Terms(ConversionState& state, Notes& notes);

    Terms(const Terms&) = delete;
    Terms& operator=(const Terms&) = delete;

    // The source's abbreviations, and the terms marked wherever they stand
    // (with the notes' definitions already taken).
    void takeDefinitions();

    bool hasWordTerms() const { return !wordTerms_.empty(); }
    // The defined terms standing as words, or runs of words, of the
    // container's text become references; glossary terms not while the
    // pass reads a glossary entry's definition.
    void markWordTerms(cmark_node* container);
    void setReadingGlossaryEntry(bool reading) { readingGlossaryEntry_ = reading; }

    // The pair from open to the end of the output (its closing bracket not
    // yet written), opened by "[?" or "[>", turned into a reference when it
    // is one; false leaves it.
    bool recognize(InlineOutput& output, const InlineOutput::Opening& open);

    // The pass meets an abbreviation: its first use is written out.
    void enterAbbreviation(Reference& reference);

private:
    struct WordTerm {
        NoteKind kind;
        int note; // glossary entries
        std::string key;
    };

    size_t longestKey(NoteKind kind) const;
    void addWordTerm(const std::string& label, WordTerm term);
    // The text nodes from first to last, siblings in a row.
    void markRun(cmark_node* first, cmark_node* last);

    ConversionState& state_;
    Notes& notes_;
    std::unordered_map<std::string, std::string> abbreviations_; // key -> expansion
    size_t abbreviationKeyLength_ = 0;
    std::unordered_map<std::string, WordTerm> wordTerms_; // by label, words separated by one space
    std::unordered_set<std::string> wordTermPrefixes_;   // the first words of the terms of several
    std::unordered_set<std::string> abbreviationsUsed_;
    bool readingGlossaryEntry_ = false;
};

} // namespace lumora::dialect
