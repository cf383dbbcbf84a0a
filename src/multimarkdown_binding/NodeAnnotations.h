#pragma once

#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/DialectTree.h"

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// What our raw-HTML nodes stand for. Each is an HTML_INLINE node (the one
// inline kind a table cell, a link and every other inline container accept)
// bound to our extension, so our HTML hook writes it; its literal is the
// plain text it shows inside an image description.
struct Mark {
    enum class Kind { tag, reference, raw };
    Kind kind;
};

// HTML of our own, written as it stands: math, superscripts, raw source.
struct Raw : Mark {
    std::string html;
};

struct Tag : Mark {
    const char* html;
};

struct Reference : Mark {
    NoteKind noteKind = NoteKind::footnote;
    int note = -1;       // index into the notes; abbreviations have none
    std::string_view title; // abbreviations: the expansion (kept by the conversion)
    std::string key;     // abbreviations: the normalised abbreviation
    bool firstUse = false; // abbreviations: written out the first time
    bool hidden = false;   // citations: "[Not cited][#key]" only lists the source
    std::string locator; // citations
    int number = 0;
    int occurrence = 0;
    bool insideLink = false;
    NoteLanguage language = NoteLanguage::english; // of the titles of its link
};

// How the HTML names the notes of a kind (footnote, citation, glossary):
// the class of their list, the prefix of their ids, the word in their
// links' classes, and the titles of the links to a note and back, in the
// language of the document.
struct NoteNames {
    const char* listClass;
    const char* prefix;
    const char* name;
    const char* seeTitle;
    const char* backTitle;
};

inline NoteNames noteNames(NoteKind kind, NoteLanguage language)
{
    struct Titles {
        const char* footnote;
        const char* citation;
        const char* glossary;
        const char* back;
    };
    // By NoteLanguage.
    static constexpr Titles titles[] = {
        {"see footnote", "see citation", "see glossary", "return to body"},
        {"ver nota al pie", "ver cita", "ver glosario", "volver al texto"},
        {"siehe Fu\u00DFnote", "siehe Zitat", "siehe Glossar", "zur\u00FCck zum Text"},
        {"voir la note", "voir la citation", "voir le glossaire", "retour au texte"},
        {"zie voetnoot", "zie citaat", "zie woordenlijst", "terug naar de tekst"},
        {"se fotnot", "se citat", "se ordlista", "tillbaka till texten"},
    };
    const Titles& words = titles[size_t(language)];
    switch (kind) {
    case NoteKind::citation: return {"citations", "cn", "citation", words.citation, words.back};
    case NoteKind::glossary: return {"glossary", "gn", "glossary", words.glossary, words.back};
    default: return {"footnotes", "fn", "footnote", words.footnote, words.back};
    }
}

struct HeadingLabel {
    std::string id;
};

// What our rendering of a block or a link stands for (see DialectHtml).
struct BlockStyle {
    enum class Kind {
        figure, tableOfContents, code, rawCode, hiddenCode, linkAttributes, term, definitions, definition, table, row,
        cell
    };
    Kind kind;
    std::string html; // the caption, the contents, the code's language, a table's start
    const std::vector<LinkAttribute>* attributes = nullptr;
    int span = 1;                // cells
    bool header = false;         // rows and cells
    bool opensSection = false;   // rows: the first of a <thead> or <tbody>
    bool closesSection = false;  // rows: the last of one
    char alignment = '\0';       // cells: 'l', 'c', 'r' or none
};

// The attribute of a table column's alignment ('l', 'c', 'r' or none), as
// MultiMarkdown writes it on the column and its cells.
inline std::string_view alignmentStyle(char alignment)
{
    switch (alignment) {
    case 'l': return " style=\"text-align:left;\"";
    case 'c': return " style=\"text-align:center;\"";
    case 'r': return " style=\"text-align:right;\"";
    default: return {};
    }
}

// The annotations of one conversion: what each node bound to our extension
// stands for. They live as long as the conversion, at stable addresses (the
// nodes point at them), and are written by DialectHtml.
class NodeAnnotations {
public:
    NodeAnnotations(cmark_syntax_extension* extension, NoteLanguage language)
        : extension_(extension), language_(language)
    {
    }

    NodeAnnotations(const NodeAnnotations&) = delete;
    NodeAnnotations& operator=(const NodeAnnotations&) = delete;

    cmark_syntax_extension* extension() const { return extension_; }
    NoteLanguage language() const { return language_; }

    // The mark an inline node of ours stands for; null for any other node.
    const Mark* markOf(const cmark_node* node) const
    {
        return node->extension == extension_ ? static_cast<const Mark*>(node->user_data) : nullptr;
    }

    // A new inline node standing for mark; plain is the text it shows in an
    // image description.
    cmark_node* newMark(const Mark* mark, std::string_view plain = {}) const
    {
        cmark_node* node = newHtmlInline(std::string(plain));
        bind(node, const_cast<Mark*>(mark));
        return node;
    }

    Raw& newRaw()
    {
        Raw& raw = raws_.emplace_back();
        raw.kind = Mark::Kind::raw;
        return raw;
    }

    // A new reference node of kind to note (-1 for none).
    cmark_node* newReference(NoteKind kind, int note, std::string locator, std::string_view shown = {})
    {
        Reference& reference = references_.emplace_back();
        reference.kind = Mark::Kind::reference;
        reference.noteKind = kind;
        reference.note = note;
        reference.locator = std::move(locator);
        reference.language = language_;
        return newMark(&reference, shown);
    }

    static Reference& referenceOf(cmark_node* node) { return *static_cast<Reference*>(node->user_data); }

    BlockStyle& newStyle(BlockStyle::Kind kind)
    {
        BlockStyle& style = styles_.emplace_back();
        style.kind = kind;
        return style;
    }

    // Attributes written with an inline link or image, kept for its style.
    const std::vector<LinkAttribute>* keepAttributes(std::vector<LinkAttribute> attributes)
    {
        return &attributes_.emplace_back(std::move(attributes));
    }

    HeadingLabel& newHeadingLabel(std::string id)
    {
        HeadingLabel& label = headings_.emplace_back();
        label.id = std::move(id);
        return label;
    }

    // Our HTML hook writes node from what data says.
    void bind(cmark_node* node, void* data) const
    {
        cmark_node_set_syntax_extension(node, extension_);
        cmark_node_set_user_data(node, data);
    }

private:
    cmark_syntax_extension* extension_;
    NoteLanguage language_;
    std::deque<Raw> raws_;
    std::deque<Reference> references_;
    std::deque<HeadingLabel> headings_;
    std::deque<BlockStyle> styles_;
    std::deque<std::vector<LinkAttribute>> attributes_;
};

} // namespace lumora::dialect
