#pragma once

#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/Headings.h"
#include "multimarkdown_binding/InlineAttributes.h"
#include "multimarkdown_binding/InlineOutput.h"
#include "multimarkdown_binding/Notes.h"
#include "multimarkdown_binding/Terms.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumora::dialect {

// The references written as bracket pairs that cmark leaves as text: notes
// ("[^id]", "[^inline note]"), citations ("[#key]", "[locator][#key]"),
// glossary terms and abbreviations (handed to Terms), metadata variables
// ("[%key]"), cross-references to headings and tables ("[Heading]",
// "[text][Heading]", "[Heading][]"), and inline links and images with
// attributes ("[text](url class=external)"), which cmark cannot read.
class BracketReferences {
public:
    BracketReferences(ConversionState& state, Notes& notes, Terms& terms, const Headings& headings);

    BracketReferences(const BracketReferences&) = delete;
    BracketReferences& operator=(const BracketReferences&) = delete;

    // The bracket pairs among the inline container's children that are
    // references become reference nodes.
    void findReferences(cmark_node* container);

private:
    bool makeInlineLink(InlineOutput& output, const InlineOutput::Opening& open, const InlineDestination& destination);
    bool takesLocator(const InlineOutput& output, const InlineOutput::Opening& open, std::string_view text,
                      size_t after) const;
    bool recognize(InlineOutput& output, const InlineOutput::Opening& open, const InlineOutput::Opening* locator);
    bool recognizeVariable(InlineOutput& output, const InlineOutput::Opening& open);
    bool recognizeCrossReference(InlineOutput& output, const InlineOutput::Opening& open,
                                 const InlineOutput::Opening* locator);
    std::optional<std::string> keyAfterSigil(const InlineOutput& output, const InlineOutput::Opening& open,
                                             NoteKind kind) const;
    bool recognizeFootnote(InlineOutput& output, const InlineOutput::Opening& open);
    bool recognizeCitation(InlineOutput& output, const InlineOutput::Opening& open,
                           const InlineOutput::Opening* locatorOpen);

    ConversionState& state_;
    Notes& notes_;
    Terms& terms_;
    const Headings& headings_;
    std::unordered_map<std::string, const std::string*> variables_; // metadata by key
};

} // namespace lumora::dialect
