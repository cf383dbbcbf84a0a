#pragma once

#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/SmartTypography.h"

#include <functional>
#include <string>
#include <string_view>

namespace lumora {

// The second half of a conversion: cmark-gfm parses the prepared text (with
// tables, strikethrough on a double tilde only, autolinks, raw HTML kept, and
// a syntax extension of ours for the CriticMarkup markers, math,
// superscripts and subscripts), then a pass over the tree finds the note,
// citation, glossary and abbreviation references, cross-references and
// metadata variables, applies smart typography, gives headings their ids and
// levels, makes figures, tables of contents, raw source and definition
// lists, puts the markers cmark left in code and raw HTML back as written,
// and appends the notes lists; cmark renders the tree. (DialectConversion
// holds the parts that do each.)
class DialectRenderer {
public:
    struct Options {
        bool smart = true;
        bool notes = true;
        bool critic = true;
        bool criticAccept = false;
        bool criticReject = false;
        bool labels = true;
        int headingShift = 0; // added to every heading level (at most 6)
        // MultiMarkdown's own syntax beyond notes and CriticMarkup: figures,
        // cross-references, math, superscripts, tables of contents...
        bool dialect = true;
        dialect::QuotesLanguage quotes = dialect::QuotesLanguage::english;
        NoteLanguage language = NoteLanguage::english; // of the words added to notes
        // False when the citations are BibTeX's business ("bibtex" in the
        // metadata): "[#key]" stays as written.
        bool citations = true;
        const MetadataBlock* metadata = nullptr; // for [%key] variables
    };

    // The HTML fragment for source's document, handed to take (which may
    // read it only while it is called: the HTML is not copied).
    static void renderHtml(const DialectSource& source, const Options& options,
                           const std::function<void(std::string_view html)>& take);

    // cmark-gfm's version text.
    static std::string engineVersion();
};

} // namespace lumora
