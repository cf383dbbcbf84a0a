#pragma once

#include "multimarkdown_binding/ConversionState.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lumora::dialect {

// The label a heading's text gives: letters and digits lower-cased, "-",
// "_" and "." kept, everything else (spaces included) left out.
std::string headingLabel(std::string_view text);

// Headings and tables of contents: each heading's id (from its text or from
// an explicit label, "# Heading [label]", each id once), its level shifted
// as the metadata asks, the names cross-references may use for headings and
// captioned tables, and the tables of contents ("{{TOC}}", "{{TOC:2-3}}")
// filled in once every heading is known.
class Headings {
public:
    explicit Headings(ConversionState& state);

    Headings(const Headings&) = delete;
    Headings& operator=(const Headings&) = delete;

    // Before the pass: the ids of the body's headings (given in order), and
    // the names cross-references may use for them.
    void labelAhead(const std::vector<cmark_node*>& headings);
    // A captioned table is a target too, by its id, its caption and its
    // label.
    void addTableTarget(const std::string& id, std::string_view caption, std::string_view label);

    // Whether anything may be cross-referenced, and the longest name it
    // may be referenced by.
    bool hasTargets() const { return !crossReferences_.empty(); }
    size_t longestName() const { return longestHeading_; }
    // The id a name (as headingLabel gives it) refers to; null for none.
    const std::string* targetOf(const std::string& name) const;

    // The pass leaves a heading: its level and id, and its entry in the
    // tables of contents.
    void label(cmark_node* heading);
    // A body paragraph of a table of contents' marker alone is kept to be
    // filled in; false for any other paragraph.
    bool takeContentsPlaceholder(cmark_node* paragraph);
    // After the pass, with every heading known.
    void fillTablesOfContents();

private:
    // A heading as a table of contents lists it.
    struct ContentsEntry {
        int level;
        std::string id;
        std::string text;
    };
    struct ContentsPlaceholder {
        cmark_node* paragraph;
        int minimum;
        int maximum;
    };

    void labelHeadingAhead(cmark_node* heading);
    std::string uniqueLabel(std::string id);

    ConversionState& state_;
    std::unordered_map<std::string, int> labelUses_;
    std::unordered_map<std::string, std::string> crossReferences_; // heading label -> id
    size_t longestHeading_ = 0;
    std::vector<ContentsPlaceholder> contents_;
    std::vector<ContentsEntry> contentsEntries_;
};

} // namespace lumora::dialect
