#include "platform/text/TextStorage.h"

#include <algorithm>

namespace lumora {

namespace {

constexpr AttributeKey keyAt(int i) { return AttributeKey(i); }

} // namespace

TextStorage::TextStorage() = default;

TextStorage::TextStorage(const QString& text, const Attributes& attributes) : m_string(text)
{
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        m_runs[i] = AttributeRuns(m_string.size());
        if (const AttributeValue* v = attributes.get(keyAt(i))) m_runs[i].assign(Range(0, m_string.size()), *v);
    }
}

TextStorage::~TextStorage() = default;

TextStorage::TextStorage(TextStorage&& other) noexcept
    : m_string(std::move(other.m_string)), m_runs(std::move(other.m_runs))
{
    other.m_string.clear();
    for (auto& runs : other.m_runs) runs = AttributeRuns();
}

TextStorage& TextStorage::operator=(TextStorage&& other) noexcept
{
    if (this != &other) {
        m_string = std::move(other.m_string);
        m_runs = std::move(other.m_runs);
        other.m_string.clear();
        for (auto& runs : other.m_runs) runs = AttributeRuns();
    }
    return *this;
}

Range TextStorage::clipped(Range range) const
{
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, length());
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, length());
    return Range(from, to - from);
}

// ---- Reading ----------------------------------------------------------------

const AttributeValue& TextStorage::attribute(AttributeKey key, qsizetype index, Range* effectiveRange) const
{
    return runs(key).valueAt(index, effectiveRange);
}

Attributes TextStorage::attributes(qsizetype index, Range* effectiveRange) const
{
    Attributes result;
    if (index < 0 || index >= length()) {
        if (effectiveRange) *effectiveRange = Range(std::clamp<qsizetype>(index, 0, length()), 0);
        return result;
    }
    qsizetype from = 0;
    qsizetype to = length();
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        Range run;
        const AttributeValue& v = m_runs[i].valueAt(index, &run);
        if (!v.isNull()) result.set(keyAt(i), v);
        from = std::max(from, run.location);
        to = std::min(to, run.end());
    }
    if (effectiveRange) *effectiveRange = Range(from, to - from);
    return result;
}

void TextStorage::enumerateAttribute(AttributeKey key, Range range,
                                     const std::function<bool(const AttributeValue&, Range)>& block) const
{
    range = clipped(range);
    const AttributeRuns& r = runs(key);
    qsizetype pos = range.location;
    const qsizetype end = range.end();
    AttributeRuns::Cursor cursor = r.cursorAt(pos);
    std::uint64_t version = r.version();
    while (pos < end) {
        if (r.version() != version) {
            if (pos >= r.length()) break;
            cursor = r.cursorAt(pos);
            version = r.version();
        }
        if (cursor.atEnd()) break;
        const Range run = cursor.run();
        const qsizetype runEnd = std::min(run.end(), end);
        if (!cursor.value().isNull()) {
            const AttributeValue value = cursor.value(); // the block may change the runs
            if (!block(value, Range(pos, runEnd - pos))) return;
        }
        pos = runEnd;
        if (r.version() == version) cursor.next();
    }
}

void TextStorage::enumerateAttributes(Range range,
                                      const std::function<bool(const Attributes&, Range)>& block) const
{
    range = clipped(range);
    qsizetype pos = range.location;
    const qsizetype end = range.end();
    std::array<AttributeRuns::Cursor, kAttributeKeyCount> cursors;
    std::array<std::uint64_t, kAttributeKeyCount> versions{};
    auto refresh = [&](int i) {
        cursors[i] = m_runs[i].cursorAt(pos);
        versions[i] = m_runs[i].version();
    };
    for (int i = 0; i < kAttributeKeyCount; ++i) refresh(i);
    while (pos < end && pos < length()) {
        Attributes dictionary;
        qsizetype runEnd = end;
        for (int i = 0; i < kAttributeKeyCount; ++i) {
            if (m_runs[i].version() != versions[i]) refresh(i);
            while (!cursors[i].atEnd() && cursors[i].run().end() <= pos) cursors[i].next();
            if (cursors[i].atEnd()) continue;
            if (!cursors[i].value().isNull()) dictionary.set(keyAt(i), cursors[i].value());
            runEnd = std::min(runEnd, cursors[i].run().end());
        }
        if (runEnd <= pos) break; // the text shrank under us
        if (!block(dictionary, Range(pos, runEnd - pos))) return;
        pos = std::min(runEnd, length());
    }
}

TextStorage TextStorage::attributedSubstring(Range range) const
{
    range = clipped(range);
    TextStorage copy(m_string.mid(range.location, range.length));
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        if (m_runs[i].isEmpty()) continue;
        for (auto c = m_runs[i].cursorAt(range.location); !c.atEnd(); c.next()) {
            const Range run = c.run().intersection(range);
            if (run.location >= range.end()) break;
            if (!c.value().isNull() && run.length > 0)
                copy.m_runs[i].assign(Range(run.location - range.location, run.length), c.value());
        }
    }
    return copy;
}

std::size_t TextStorage::attributeMemoryUsage() const
{
    std::size_t bytes = 0;
    for (const auto& runs : m_runs) bytes += runs.memoryUsage();
    return bytes;
}

// ---- Changes ----------------------------------------------------------------

void TextStorage::beginEditing()
{
    static std::uint64_t sessions = 0;
    if (m_editingDepth++ == 0) m_editingSession = ++sessions;
}

void TextStorage::endEditing()
{
    Q_ASSERT(m_editingDepth > 0);
    if (m_editingDepth <= 0 || --m_editingDepth > 0) return;
    m_editingSession = 0;
    if (m_pending.isEmpty()) return;
    const Change change = std::move(m_pending);
    m_pending = Change();
    // Observers may be added or removed while they are called.
    const auto observers = m_observers;
    for (const auto& [id, observer] : observers) {
        const bool stillThere = std::any_of(m_observers.begin(), m_observers.end(),
                                            [id = id](const auto& o) { return o.first == id; });
        if (stillThere) observer(change);
    }
}

int TextStorage::addObserver(Observer observer)
{
    const int id = m_nextObserverId++;
    m_observers.emplace_back(id, std::move(observer));
    return id;
}

void TextStorage::removeObserver(int id)
{
    m_observers.erase(std::remove_if(m_observers.begin(), m_observers.end(),
                                     [id](const auto& o) { return o.first == id; }),
                      m_observers.end());
}

// Folds one change into the pending record. replaced is in the text as it was
// just before this change; newLength is the length of what replaced it.
void TextStorage::recordChange(bool characters, Range replaced, qsizetype newLength, std::uint32_t keys)
{
    const qsizetype delta = newLength - replaced.length;
    Change& p = m_pending;
    p.parts.clear(); // only a batch alone in its bracket keeps its parts
    if (p.isEmpty()) {
        p.editedRange = Range(replaced.location, newLength);
        p.changeInLength = delta;
    } else {
        // Map the pending range through this change, then take the union.
        const qsizetype a = replaced.location;
        const qsizetype b = replaced.end();
        const qsizetype newEnd = a + newLength;
        auto map = [&](qsizetype x) { return x <= a ? x : (x >= b ? x + delta : newEnd); };
        const qsizetype start = std::min(map(p.editedRange.location), a);
        const qsizetype stop = std::max(map(p.editedRange.end()), newEnd);
        p.editedRange = Range(start, stop - start);
        p.changeInLength += delta;
    }
    p.characters = p.characters || characters;
    p.attributes = p.attributes || keys != 0;
    p.keys |= keys;
}

void TextStorage::setAttributes(const Attributes& attributes, Range range)
{
    range = clipped(range);
    if (range.isEmpty()) return;
    std::uint32_t changed = 0;
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        const AttributeValue* v = attributes.get(keyAt(i));
        static const AttributeValue none;
        if (m_runs[i].assign(range, v ? *v : none)) changed |= keyBit(keyAt(i));
    }
    if (!changed) return;
    beginEditing();
    recordChange(false, range, range.length, changed);
    endEditing();
}

void TextStorage::addAttributes(const Attributes& attributes, Range range)
{
    range = clipped(range);
    if (range.isEmpty()) return;
    std::uint32_t changed = 0;
    for (const auto& [key, value] : attributes.entries())
        if (runsFor(key).assign(range, value)) changed |= keyBit(key);
    if (!changed) return;
    beginEditing();
    recordChange(false, range, range.length, changed);
    endEditing();
}

void TextStorage::addAttribute(AttributeKey key, const AttributeValue& value, Range range)
{
    range = clipped(range);
    if (range.isEmpty() || !runsFor(key).assign(range, value)) return;
    beginEditing();
    recordChange(false, range, range.length, keyBit(key));
    endEditing();
}

void TextStorage::removeAttribute(AttributeKey key, Range range)
{
    addAttribute(key, AttributeValue(), range);
}

void TextStorage::replaceCharacters(Range range, const QString& text)
{
    replaceCharacters(range, text, nullptr);
}

void TextStorage::replaceCharacters(Range range, const QString& text, const Attributes& attributes)
{
    replaceCharacters(range, text, &attributes);
}

void TextStorage::replaceCharacters(const std::vector<Range>& ranges, const QStringList& texts)
{
    Q_ASSERT(qsizetype(ranges.size()) == texts.size());
    if (ranges.empty()) return;
    if (ranges.size() == 1) return replaceCharacters(ranges.front(), texts.front());
    qsizetype grown = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        Q_ASSERT(ranges[i] == clipped(ranges[i]) && (i == 0 || ranges[i - 1].end() <= ranges[i].location));
        grown += texts[qsizetype(i)].size() - ranges[i].length;
    }
    // Attributes from the last replacement to the first, so that each range
    // still means what it meant before the change.
    for (size_t i = ranges.size(); i-- > 0;) {
        const Range range = ranges[i];
        for (int k = 0; k < kAttributeKeyCount; ++k) {
            AttributeRuns& runs = m_runs[k];
            const AttributeValue value = runs.valueAt(range.length > 0 || range.location == 0 ? range.location
                                                                                                : range.location - 1);
            runs.replace(range, texts[qsizetype(i)].size(), value);
        }
    }
    QString rebuilt;
    rebuilt.reserve(m_string.size() + grown);
    qsizetype at = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        rebuilt.append(QStringView(m_string).sliced(at, ranges[i].location - at));
        rebuilt.append(texts[qsizetype(i)]);
        at = ranges[i].end();
    }
    rebuilt.append(QStringView(m_string).sliced(at));
    m_string = std::move(rebuilt);
    const Range replaced(ranges.front().location, ranges.back().end() - ranges.front().location);
    beginEditing();
    const bool alone = m_pending.isEmpty();
    recordChange(true, replaced, replaced.length + grown, kAllKeys);
    if (alone) {
        // Touching replacements count as one.
        std::vector<Change::Part>& parts = m_pending.parts;
        for (size_t i = 0; i < ranges.size(); ++i) {
            const qsizetype newLength = texts[qsizetype(i)].size();
            if (!parts.empty() && parts.back().replaced.end() == ranges[i].location) {
                parts.back().replaced.length += ranges[i].length;
                parts.back().newLength += newLength;
            } else {
                parts.push_back({ranges[i], newLength});
            }
        }
    }
    endEditing();
}

void TextStorage::replaceCharacters(Range range, const QString& text, const Attributes* attributes)
{
    range = clipped(range);
    if (range.isEmpty() && text.isEmpty()) return;
    const qsizetype newLength = text.size();
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        AttributeRuns& runs = m_runs[i];
        AttributeValue value;
        if (attributes) {
            if (const AttributeValue* v = attributes->get(keyAt(i))) value = *v;
        } else if (range.length > 0) {
            value = runs.valueAt(range.location);
        } else if (range.location > 0) {
            value = runs.valueAt(range.location - 1);
        } else {
            value = runs.valueAt(0);
        }
        runs.replace(range, newLength, value);
    }
    m_string.replace(range.location, range.length, text);
    beginEditing();
    recordChange(true, range, newLength, kAllKeys);
    endEditing();
}

} // namespace lumora
