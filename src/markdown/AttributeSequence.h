#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/TextStorage.h"

#include <iterator>
#include <optional>
#include <vector>

namespace lumora {

// The runs of one attribute inside a range of a text storage that carry a
// value, in text order. Each step looks the runs up afresh from where the
// last reported run ended, so the storage may change between steps.
class AttributeSequence {
public:
    struct Element {
        AttributeValue value;
        Range range;
    };

    AttributeSequence(const TextStorage& string, AttributeKey attribute, Range range)
        : m_string(&string), m_attribute(attribute), m_range(range) {}

    const TextStorage& string() const { return *m_string; }
    AttributeKey attribute() const { return m_attribute; }
    Range range() const { return m_range; }

    class Iterator {
    public:
        explicit Iterator(const AttributeSequence& sequence);
        // The next run with a value, or nothing at the end.
        std::optional<Element> next();
        qsizetype location() const { return m_location; }

    private:
        const TextStorage* m_string;
        AttributeKey m_attribute;
        qsizetype m_end;
        qsizetype m_location;
    };
    Iterator makeIterator() const { return Iterator(*this); }

    // All elements, in order.
    std::vector<Element> elements() const;

    // Range-for support: for (const auto& [value, range] : sequence).
    class ForwardIterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Element;
        using difference_type = std::ptrdiff_t;
        using pointer = const Element*;
        using reference = const Element&;

        ForwardIterator() = default;
        explicit ForwardIterator(const AttributeSequence& s) : m_iterator(Iterator(s)) { advance(); }
        const Element& operator*() const { return *m_current; }
        const Element* operator->() const { return &*m_current; }
        ForwardIterator& operator++()
        {
            advance();
            return *this;
        }
        bool operator==(const ForwardIterator& other) const { return !m_current && !other.m_current; }

    private:
        void advance() { m_current = m_iterator ? m_iterator->next() : std::nullopt; }
        std::optional<Iterator> m_iterator;
        std::optional<Element> m_current;
    };
    ForwardIterator begin() const { return ForwardIterator(*this); }
    ForwardIterator end() const { return ForwardIterator(); }

private:
    const TextStorage* m_string;
    AttributeKey m_attribute;
    Range m_range;
};

} // namespace lumora
