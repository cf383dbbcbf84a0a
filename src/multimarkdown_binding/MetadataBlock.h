#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

// The metadata block a MultiMarkdown text may begin with:
//
//     Title:  A Walk in the Park
//     Author: Kim
//             and Lee
//
// The first line is "Key: value"; the block runs to the first blank line, and
// may stand between "---" lines (the closing one may be "..."). A key is a
// letter or digit followed by letters, digits, spaces, "_" and "-" at the
// start of a line, and its colon is followed by white space or the end of the
// line (so a text that opens with a URL is not metadata). Unless the block
// stands between "---" lines, its first line has a value after the colon
// ("Ingredients:" over a list is text). Every other line, indented or not,
// continues the value before it.
class MetadataBlock {
public:
    struct Entry {
        std::string key;   // lower-cased, spaces removed
        std::string value; // trimmed; continuation lines joined with "\n"
    };

    // Reads the block at the start of text (UTF-8, "\n" line breaks).
    static MetadataBlock parse(std::string_view text);

    bool isPresent() const { return present_; }
    // Where the rest of the document starts (0 without metadata).
    size_t bodyOffset() const { return bodyOffset_; }
    const std::vector<Entry>& entries() const { return entries_; }

    // Each key once, in the order of first appearance, with its last value.
    std::vector<Entry> distinctEntries() const;
    std::vector<std::string> keys() const;
    // The value of a key (compared lower-cased with spaces removed); when a
    // key appears twice, the later value.
    std::optional<std::string> value(std::string_view key) const;

    // True when a key other than the control keys (the header-level keys,
    // "language", "quoteslanguage", and the keys for other formats) is
    // present: such a text becomes a complete HTML document.
    bool hasDocumentKeys() const;
    static bool isControlKey(std::string_view normalizedKey);
    // Keys for LaTeX, OpenDocument and EPUB output, never written to HTML.
    static bool isForOtherFormats(std::string_view normalizedKey);

    // The heading shift asked for by "htmlheaderlevel" (or else
    // "baseheaderlevel"): level N moves "#" headings to level N. 0 when
    // neither is set to a number from 1 to 6.
    int headingShift() const;

    static std::string normalizedKey(std::string_view key);

private:
    bool present_ = false;
    size_t bodyOffset_ = 0;
    std::vector<Entry> entries_;
};

} // namespace lumora
