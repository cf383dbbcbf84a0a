#include "markdown/Markdown.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace lumora {

namespace {

struct KindInfo {
    const char* name;
    bool line;
    const char* first;  // label of the first part, or null
    const char* second; // label of the second part, or null
};

// Indexed by Markdown::Kind.
constexpr KindInfo kKinds[Markdown::kKindCount] = {
    {"heading", true, "text", nullptr},
    {"italic", false, "text", nullptr},
    {"bold", false, "text", nullptr},
    {"italicAndBold", false, "text", nullptr},
    {"orderedList", true, "text", nullptr},
    {"unorderedList", true, "text", nullptr},
    {"blockquote", true, "text", nullptr},
    {"linkInline", false, "text", "url"},
    {"linkReference", false, "text", "reference"},
    {"linkDefinition", true, "reference", "url"},
    {"footnoteInline", false, "text", nullptr},
    {"footnoteDefinition", true, "reference", "text"},
    {"citationInline", false, "locator", "text"},
    {"citationDefinition", true, "reference", "text"},
    {"glossaryInline", false, "term", "definition"},
    {"glossaryReference", false, "reference", nullptr},
    {"glossaryDefinition", true, "reference", "definition"},
    {"acronymInline", false, "term", "definition"},
    {"acronymReference", false, "reference", nullptr},
    {"acronymDefinition", true, "reference", "definition"},
    {"codeblock", true, nullptr, nullptr},
};

const KindInfo& info(Markdown::Kind kind) { return kKinds[int(kind)]; }

} // namespace

const char* Markdown::kindName(Kind kind) { return info(kind).name; }
bool Markdown::isLineKind(Kind kind) { return info(kind).line; }

Markdown Markdown::heading(Range text, int level) { return {Kind::Heading, text, {}, level}; }
Markdown Markdown::italic(Range text) { return {Kind::Italic, text, {}, 0}; }
Markdown Markdown::bold(Range text) { return {Kind::Bold, text, {}, 0}; }
Markdown Markdown::italicAndBold(Range text) { return {Kind::ItalicAndBold, text, {}, 0}; }
Markdown Markdown::orderedList(Range text, int level) { return {Kind::OrderedList, text, {}, level}; }
Markdown Markdown::unorderedList(Range text, int level) { return {Kind::UnorderedList, text, {}, level}; }
Markdown Markdown::blockquote(Range text, int level) { return {Kind::Blockquote, text, {}, level}; }
Markdown Markdown::linkInline(Range text, Range url) { return {Kind::LinkInline, text, url, 0}; }
Markdown Markdown::linkReference(Range text, Range reference) { return {Kind::LinkReference, text, reference, 0}; }
Markdown Markdown::linkDefinition(Range reference, Range url) { return {Kind::LinkDefinition, reference, url, 0}; }
Markdown Markdown::footnoteInline(Range text) { return {Kind::FootnoteInline, text, {}, 0}; }
Markdown Markdown::footnoteDefinition(Range reference, Range text) { return {Kind::FootnoteDefinition, reference, text, 0}; }
Markdown Markdown::citationInline(std::optional<Range> locator, Range text)
{
    return {Kind::CitationInline, locator.value_or(Range()), text, 0, locator.has_value()};
}
Markdown Markdown::citationDefinition(Range reference, Range text) { return {Kind::CitationDefinition, reference, text, 0}; }
Markdown Markdown::glossaryInline(Range term, Range definition) { return {Kind::GlossaryInline, term, definition, 0}; }
Markdown Markdown::glossaryReference(Range reference) { return {Kind::GlossaryReference, reference, {}, 0}; }
Markdown Markdown::glossaryDefinition(Range reference, Range definition) { return {Kind::GlossaryDefinition, reference, definition, 0}; }
Markdown Markdown::acronymInline(Range term, Range definition) { return {Kind::AcronymInline, term, definition, 0}; }
Markdown Markdown::acronymReference(Range reference) { return {Kind::AcronymReference, reference, {}, 0}; }
Markdown Markdown::acronymDefinition(Range reference, Range definition) { return {Kind::AcronymDefinition, reference, definition, 0}; }
Markdown Markdown::codeblock() { return {Kind::Codeblock, {}, {}, 0}; }
Markdown Markdown::fencedCode(std::optional<OpenFence> openAfter)
{
    // A codeblock has no parts: its first part's slot holds the open count.
    Markdown m{Kind::Codeblock, Range(0, openAfter ? openAfter->count : 0), {}, 0};
    m.m_fenceMarker = openAfter ? openAfter->marker : u'`';
    return m;
}

int Markdown::partCount() const
{
    if (m_kind == Kind::CitationInline) return m_hasLocator ? 2 : 1;
    const KindInfo& k = info(m_kind);
    return (k.first ? 1 : 0) + (k.second ? 1 : 0);
}

Markdown::Part Markdown::part(int index) const
{
    const KindInfo& k = info(m_kind);
    if (m_kind == Kind::CitationInline && !m_hasLocator) ++index; // no locator part
    if (index == 0 && k.first) return {k.first, m_a};
    return {k.second ? k.second : "", m_b};
}

namespace {

OptionalRange partNamed(const Markdown& m, const char* label)
{
    for (int i = 0; i < m.partCount(); ++i) {
        const Markdown::Part p = m.part(i);
        if (qstrcmp(p.label, label) == 0) return p.range;
    }
    return std::nullopt;
}

} // namespace

OptionalRange Markdown::text() const { return partNamed(*this, "text"); }
OptionalRange Markdown::url() const { return partNamed(*this, "url"); }
OptionalRange Markdown::reference() const { return partNamed(*this, "reference"); }
OptionalRange Markdown::locator() const { return partNamed(*this, "locator"); }
OptionalRange Markdown::term() const { return partNamed(*this, "term"); }
OptionalRange Markdown::definition() const { return partNamed(*this, "definition"); }

namespace {

// Equal slots cut from large slabs, handed out and taken back through a free
// list: a long text holds a box for every inline element, and the general
// allocator's bookkeeping would add half again to each. Slabs are kept for
// reuse; any thread may box and unbox.
template <size_t Size, size_t Align>
class Slabs {
public:
    void* take()
    {
        const std::lock_guard lock(m_mutex);
        if (!m_free) {
            constexpr size_t kPerSlab = 1024;
            char* slab = static_cast<char*>(::operator new(kSlot * kPerSlab, std::align_val_t(Align)));
            m_slabs.push_back(slab);
            for (size_t i = kPerSlab; i-- > 0;) {
                auto* slot = reinterpret_cast<Free*>(slab + i * kSlot);
                slot->next = m_free;
                m_free = slot;
            }
        }
        Free* slot = m_free;
        m_free = slot->next;
        return slot;
    }
    void give(void* p)
    {
        const std::lock_guard lock(m_mutex);
        auto* slot = static_cast<Free*>(p);
        slot->next = m_free;
        m_free = slot;
    }

private:
    struct Free {
        Free* next;
    };
    static constexpr size_t kSlot = (std::max(Size, sizeof(Free)) + Align - 1) / Align * Align;
    std::mutex m_mutex;
    Free* m_free = nullptr;
    std::vector<char*> m_slabs;
};

template <typename T>
struct SlabAllocator {
    using value_type = T;
    SlabAllocator() = default;
    template <typename U>
    SlabAllocator(const SlabAllocator<U>&) {}

    static Slabs<sizeof(T), alignof(T)>& slabs()
    {
        static auto* instance = new Slabs<sizeof(T), alignof(T)>; // outlives every box
        return *instance;
    }
    T* allocate(size_t n)
    {
        if (n != 1) return std::allocator<T>().allocate(n);
        return static_cast<T*>(slabs().take());
    }
    void deallocate(T* p, size_t n)
    {
        if (n != 1) return std::allocator<T>().deallocate(p, n);
        slabs().give(p);
    }
    template <typename U>
    bool operator==(const SlabAllocator<U>&) const { return true; }
};

} // namespace

AttributeValue Markdown::boxed() const
{
    return AttributeValue(AttributeValue::Object(std::allocate_shared<MarkdownBox>(SlabAllocator<MarkdownBox>(), *this)));
}

std::optional<Markdown> Markdown::unboxed(const AttributeValue& value)
{
    const AttributeValue::Object* object = value.object();
    if (!object) return std::nullopt;
    if (const auto* box = dynamic_cast<const MarkdownBox*>(object->get())) return box->value;
    return std::nullopt;
}

// ---- Character sets ----------------------------------------------------------

namespace {

struct MarkdownCharacterSets {
    CharacterSet space{u" "};
    CharacterSet tab{u"\t"};
    CharacterSet orderedListDelimiters{u".)"};
    CharacterSet unorderedListMarkers{u"*-+"};
    CharacterSet inlineMarkers{u"*_["};
    CharacterSet syntax;
    CharacterSet syntaxAndWhitespace;

    MarkdownCharacterSets()
    {
        syntax = CharacterSet::decimalDigits();
        syntax.add(orderedListDelimiters);
        syntax.add(unorderedListMarkers);
        syntax.add(inlineMarkers);
        syntax.add(u"#()[]:?>^");
        syntaxAndWhitespace = syntax;
        syntaxAndWhitespace.add(CharacterSet::whitespaceAndNewlines());
    }
};

const MarkdownCharacterSets& sets()
{
    // Built once, whichever thread asks first; every later reader sees it whole.
    static const MarkdownCharacterSets instance;
    return instance;
}

} // namespace

void Markdown::prepareCharacterSets() { (void)sets(); }
const CharacterSet& Markdown::spaceCharacters() { return sets().space; }
const CharacterSet& Markdown::tabCharacters() { return sets().tab; }
const CharacterSet& Markdown::orderedListDelimiters() { return sets().orderedListDelimiters; }
const CharacterSet& Markdown::unorderedListMarkers() { return sets().unorderedListMarkers; }
const CharacterSet& Markdown::inlineMarkers() { return sets().inlineMarkers; }
const CharacterSet& Markdown::syntaxCharacters() { return sets().syntax; }
const CharacterSet& Markdown::syntaxAndWhitespaceCharacters() { return sets().syntaxAndWhitespace; }

} // namespace lumora
