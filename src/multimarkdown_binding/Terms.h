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
    // The first defined term standing as a word of a text node becomes a
    // reference; the text after it follows as a text node of its own, which
    // the pass reads next.
    void markWordTerms(cmark_node* node);

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

    ConversionState& state_;
    Notes& notes_;
    std::unordered_map<std::string, std::string> abbreviations_; // key -> expansion
    size_t abbreviationKeyLength_ = 0;
    std::unordered_map<std::string, WordTerm> wordTerms_;
    std::unordered_set<std::string> abbreviationsUsed_;
};

} // namespace lumora::dialect
