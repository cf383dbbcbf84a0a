#pragma once

#include "platform/text/Color.h"
#include "platform/text/ParagraphStyle.h"
#include "platform/text/Shadow.h"

#include <QFont>
#include <QSharedData>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace lumora {

// The attribute names a run of text can carry: what is drawn, and the four
// keys the Markdown engine marks the text with.
enum class AttributeKey : std::uint8_t {
    Font,
    ForegroundColor,
    BackgroundColor,
    UnderlineStyle,     // integer: 1 single, 2 thick, 9 double, 256 dot, 512 dash
    UnderlineColor,
    StrikethroughStyle, // integer, as UnderlineStyle
    StrikethroughColor,
    Kern,               // double, points
    Obliqueness,        // double, skew
    Shadow,
    ParagraphStyle,
    FullLineMarkdown,   // "LMFullLineMarkdown": a paragraph's line element
    InlineMarkdown,     // "LMInlineMarkdown": an inline element
    MarkdownOutline,    // "LMMarkdownOutline": a heading's outline entry
    HighlightColor,     // "LMHighlightColor": full-strength colour of focused text
};
inline constexpr int kAttributeKeyCount = 15;

// The name of a key as the rest of the system spells it ("LMFullLineMarkdown").
QString attributeKeyName(AttributeKey key);

// Base of program objects stored as attribute values (boxed elements, outline
// entries). Such values compare by identity, never by content.
class AttributeObject {
public:
    virtual ~AttributeObject();
};

// One attribute value. Shadows and paragraph styles are shared, immutable
// and compared by content; program objects are compared by identity.
class AttributeValue {
public:
    using Object = std::shared_ptr<AttributeObject>;

    AttributeValue() = default;
    AttributeValue(const QFont& font) : m_value(font) {}
    AttributeValue(const Color& color);
    AttributeValue(std::int64_t integer) : m_value(integer) {}
    AttributeValue(int integer) : m_value(std::int64_t(integer)) {}
    AttributeValue(double number) : m_value(number) {}
    AttributeValue(const lumora::Shadow& shadow);
    AttributeValue(const lumora::ParagraphStyle& style);
    AttributeValue(std::shared_ptr<const lumora::ParagraphStyle> style) : m_value(std::move(style)) {}
    AttributeValue(Object object) : m_value(std::move(object)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(m_value); }

    const QFont* font() const { return std::get_if<QFont>(&m_value); }
    const Color* color() const;
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&m_value); }
    const double* number() const { return std::get_if<double>(&m_value); }
    const lumora::Shadow* shadow() const;
    const lumora::ParagraphStyle* paragraphStyle() const;
    std::shared_ptr<const lumora::ParagraphStyle> sharedParagraphStyle() const;
    const Object* object() const { return std::get_if<Object>(&m_value); }

    // The stored program object as T, or null when the value is anything else.
    template <typename T>
    std::shared_ptr<T> objectAs() const
    {
        if (const Object* o = object()) return std::dynamic_pointer_cast<T>(*o);
        return nullptr;
    }

    friend bool operator==(const AttributeValue& a, const AttributeValue& b);

    // A hash that equal values share, for values compared by content; none
    // for program objects (compared by identity) and for no value.
    std::optional<size_t> contentHash() const;

private:
    // Colours, shadows and paragraph styles live behind shared pointers so
    // that a value stays small (24 bytes): text storages keep one per run.
    std::variant<std::monostate, QFont, std::shared_ptr<const Color>, std::int64_t, double,
                 std::shared_ptr<const lumora::Shadow>, std::shared_ptr<const lumora::ParagraphStyle>,
                 Object>
        m_value;
};

// A dictionary of attributes: at most one value per key. Implicitly shared,
// so copies are cheap and runs of text can hold the same dictionary.
class Attributes {
public:
    using Entry = std::pair<AttributeKey, AttributeValue>;

    Attributes();
    Attributes(std::initializer_list<Entry> entries);

    bool isEmpty() const;
    int size() const;
    bool contains(AttributeKey key) const;
    // The value under key, or null when absent.
    const AttributeValue* get(AttributeKey key) const;
    AttributeValue value(AttributeKey key) const;

    void set(AttributeKey key, AttributeValue value);
    void remove(AttributeKey key);
    // Keys of other replace the same keys here; other keys stay.
    void merge(const Attributes& other);

    // Entries in key order.
    const std::vector<Entry>& entries() const;

    // Typed shortcuts.
    const QFont* font() const;
    const Color* foregroundColor() const;
    const lumora::ParagraphStyle* paragraphStyle() const;

    // True when both share one dictionary (a cheap test before comparing).
    bool isSharedWith(const Attributes& other) const { return d == other.d; }

    friend bool operator==(const Attributes& a, const Attributes& b);

private:
    struct Data : QSharedData {
        std::vector<Entry> entries; // sorted by key
    };
    QExplicitlySharedDataPointer<Data> d;
    void detach();
};

} // namespace lumora
