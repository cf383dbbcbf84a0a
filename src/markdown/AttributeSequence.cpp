#include "markdown/AttributeSequence.h"

namespace lumora {

AttributeSequence::Iterator::Iterator(const AttributeSequence& sequence)
    : m_string(&sequence.string()),
      m_attribute(sequence.attribute()),
      m_end(sequence.range().end()),
      m_location(sequence.range().location)
{
}

std::optional<AttributeSequence::Element> AttributeSequence::Iterator::next()
{
    const TextStorage& s = *m_string;
    const qsizetype end = std::min(m_end, s.length());
    qsizetype pos = std::max<qsizetype>(m_location, 0);
    while (pos < end) {
        Range run;
        const AttributeValue& value = s.attribute(m_attribute, pos, &run);
        const qsizetype runEnd = std::min(run.end(), end);
        if (runEnd <= pos) break;
        if (!value.isNull()) {
            m_location = runEnd;
            return Element{value, Range(pos, runEnd - pos)};
        }
        pos = runEnd;
    }
    return std::nullopt;
}

std::vector<AttributeSequence::Element> AttributeSequence::elements() const
{
    std::vector<Element> all;
    Iterator it = makeIterator();
    while (auto e = it.next()) all.push_back(std::move(*e));
    return all;
}

} // namespace lumora
