#pragma once

#include "platform/foundation/CharacterSet.h"
#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace lumora {

// One Markdown element the scanners recognise, with the text ranges of its
// parts. Ranges are absolute offsets into the string that was scanned, taken
// when it was scanned; they are not updated when the text changes later.
class Markdown {
public:
    // In this order: the order of the style tables too.
    enum class Kind : std::uint8_t {
        Heading,            // line: one to six "#", a space, the text
        Italic,             // inline: one "*" or "_" on each side
        Bold,               // inline: two on each side
        ItalicAndBold,      // inline: three or more on each side
        OrderedList,        // line: digits, "." or ")", a whitespace character
        UnorderedList,      // line: "*", "-" or "+", a whitespace character
        Blockquote,         // line: one or more ">"
        LinkInline,         // inline: [text](url)
        LinkReference,      // inline: [text][reference]
        LinkDefinition,     // line: [reference]: url
        FootnoteInline,     // inline: [^text]
        FootnoteDefinition, // line: [^reference]: text
        CitationInline,     // inline: [#text] or [locator][#text]
        CitationDefinition, // line: [#reference]: text
        GlossaryInline,     // inline: [?(term) definition]
        GlossaryReference,  // inline: [?reference]
        GlossaryDefinition, // line: [?reference]: definition
        AcronymInline,      // inline: [>(term) definition]
        AcronymReference,   // inline: [>reference]
        AcronymDefinition,  // line: [>reference]: definition
        Codeblock,          // line: indented, no list item and no block quote
    };
    static constexpr int kKindCount = 21;

    // The element's name as styles use it ("heading", "linkInline", ...).
    static const char* kindName(Kind kind);
    static bool isLineKind(Kind kind);

    static Markdown heading(Range text, int level);
    static Markdown italic(Range text);
    static Markdown bold(Range text);
    static Markdown italicAndBold(Range text);
    static Markdown orderedList(Range text, int level);
    static Markdown unorderedList(Range text, int level);
    static Markdown blockquote(Range text, int level);
    static Markdown linkInline(Range text, Range url);
    static Markdown linkReference(Range text, Range reference);
    static Markdown linkDefinition(Range reference, Range url);
    static Markdown footnoteInline(Range text);
    static Markdown footnoteDefinition(Range reference, Range text);
    static Markdown citationInline(std::optional<Range> locator, Range text);
    static Markdown citationDefinition(Range reference, Range text);
    static Markdown glossaryInline(Range term, Range definition);
    static Markdown glossaryReference(Range reference);
    static Markdown glossaryDefinition(Range reference, Range definition);
    static Markdown acronymInline(Range term, Range definition);
    static Markdown acronymReference(Range reference);
    static Markdown acronymDefinition(Range reference, Range definition);
    static Markdown codeblock();
    // The fenced code block open after a line: the character of its opening
    // fence and their number.
    struct OpenFence {
        char16_t marker = 0;
        std::int32_t count = 0;
        friend bool operator==(const OpenFence&, const OpenFence&) = default;
    };
    // A line of a fenced code block, its fences included: a codeblock that
    // also says whether the block is still open after it.
    static Markdown fencedCode(std::optional<OpenFence> openAfter);

    Kind kind() const { return m_kind; }
    const char* name() const { return kindName(m_kind); }
    bool isLineElement() const { return isLineKind(m_kind); }
    bool isList() const { return m_kind == Kind::OrderedList || m_kind == Kind::UnorderedList; }

    // A line of a fenced block (see fencedCode).
    bool isFenced() const { return m_fenceMarker != 0; }
    // The block still open after this line; nothing for any other element,
    // or after a closing fence.
    std::optional<OpenFence> openFenceAfter() const
    {
        if (m_fenceMarker == 0 || m_a.length == 0) return std::nullopt;
        return OpenFence{m_fenceMarker, m_a.length};
    }

    // Heading: the number of "#"; lists and block quotes: the indentation
    // level of the line; 0 for every other kind.
    int level() const { return m_level; }

    // The parts by their labels; empty when the kind has no such part.
    OptionalRange text() const;
    OptionalRange url() const;
    OptionalRange reference() const;
    OptionalRange locator() const;
    OptionalRange term() const;
    OptionalRange definition() const;

    // The parts the element has, in the order in which they are styled.
    struct Part {
        const char* label; // "text", "url", "reference", "locator", "term", "definition"
        Range range;
    };
    int partCount() const;
    Part part(int index) const;

    friend bool operator==(const Markdown&, const Markdown&) = default;

    // The element as a text-attribute value, and back. A boxed element is a
    // program object: two boxes are equal values only when they are the same
    // box. unboxed() gives nothing for any other value.
    AttributeValue boxed() const;
    static std::optional<Markdown> unboxed(const AttributeValue& value);

    // Results of the line classifier and of the inline scanner (below).
    struct LineElement;
    struct InlineElement;

    // The character sets the scanners test against. They are built once per
    // process, on the first call of prepareCharacterSets() or of any accessor,
    // from whichever thread comes first; later calls change nothing.
    static void prepareCharacterSets();
    static const CharacterSet& spaceCharacters();          // U+0020
    static const CharacterSet& tabCharacters();            // U+0009
    static const CharacterSet& orderedListDelimiters();    // . )
    static const CharacterSet& unorderedListMarkers();     // * - +
    static const CharacterSet& inlineMarkers();            // * _ [
    static const CharacterSet& syntaxCharacters();         // digits, the sets above, # ( ) [ ] : ? > ^
    static const CharacterSet& syntaxAndWhitespaceCharacters(); // plus whitespace and newlines

private:
    // A long text has an element every few words: the parts are kept as
    // 32-bit offsets (texts are shorter than 2^31 units).
    struct Part32 {
        std::int32_t location = 0;
        std::int32_t length = 0;
        Part32() = default;
        Part32(Range r) : location(std::int32_t(r.location)), length(std::int32_t(r.length)) {}
        operator Range() const { return Range(location, length); }
        friend bool operator==(const Part32&, const Part32&) = default;
    };

    Markdown(Kind kind, Range a, Range b, int level, bool hasLocator = false)
        : m_kind(kind), m_hasLocator(hasLocator), m_level(level), m_a(a), m_b(b) {}

    Kind m_kind = Kind::Codeblock;
    bool m_hasLocator = false; // citationInline only
    char16_t m_fenceMarker = 0; // fenced code lines only; the open block's count is m_a's length
    int m_level = 0;
    Part32 m_a; // first part (see the factories), zero when unused
    Part32 m_b; // second part, zero when unused
};

// Result of the line classifier: the element and where the paragraph's inline
// content starts, counted from the paragraph's first character.
struct Markdown::LineElement {
    Markdown element;
    qsizetype contentStart = 0;
    friend bool operator==(const LineElement&, const LineElement&) = default;
};

// Result of the inline scanner: the whole element's range and the element.
struct Markdown::InlineElement {
    Range range;
    Markdown element;
    friend bool operator==(const InlineElement&, const InlineElement&) = default;
};

// The boxed form stored under the "LMFullLineMarkdown" and "LMInlineMarkdown"
// keys. Boxes come from slabs of equal slots (see Markdown::boxed()).
class MarkdownBox : public AttributeObject {
public:
    explicit MarkdownBox(const Markdown& element) : value(element) {}
    const Markdown value;
};

} // namespace lumora
