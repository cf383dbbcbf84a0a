#include "platform/text/TextStorage.h"

#include "platform/foundation/CharacterSet.h"

#include <algorithm>
#include <cstring>

namespace lumora {

namespace {

constexpr AttributeKey keyAt(int i) { return AttributeKey(i); }

// The smallest gap a buffer is given when it needs one, and the share of
// the text's length it gets beyond that: room for this much typing before
// the buffer is allocated again.
constexpr qsizetype kMinimumGap = 4096;
// Changes of at least this many characters pack the attribute runs after.
constexpr qsizetype kCompactAfter = 64 * 1024;
constexpr qsizetype kGapShare = 32;

} // namespace

TextStorage::TextStorage() = default;

TextStorage::TextStorage(const QString& text, const Attributes& attributes)
    : m_buffer(text), m_gapStart(text.size())
{
    for (int i = 0; i < kAttributeKeyCount; ++i) {
        m_runs[i] = AttributeRuns(text.size());
        if (const AttributeValue* v = attributes.get(keyAt(i))) m_runs[i].assign(Range(0, text.size()), *v);
    }
}

TextStorage::~TextStorage() = default;

TextStorage::TextStorage(TextStorage&& other) noexcept
    : m_buffer(std::move(other.m_buffer)),
      m_gapStart(std::exchange(other.m_gapStart, 0)),
      m_gapLength(std::exchange(other.m_gapLength, 0)),
      m_runs(std::move(other.m_runs))
{
    other.m_buffer.clear();
    for (auto& runs : other.m_runs) runs = AttributeRuns();
}

TextStorage& TextStorage::operator=(TextStorage&& other) noexcept
{
    if (this != &other) {
        m_buffer = std::move(other.m_buffer);
        m_gapStart = std::exchange(other.m_gapStart, 0);
        m_gapLength = std::exchange(other.m_gapLength, 0);
        m_runs = std::move(other.m_runs);
        other.m_buffer.clear();
        for (auto& runs : other.m_runs) runs = AttributeRuns();
    }
    return *this;
}

// ---- The characters ------------------------------------------------------------

// Moves the gap so that it starts at `to`, moving the characters between.
void TextStorage::moveGap(qsizetype to) const
{
    if (to == m_gapStart) return;
    if (m_gapLength == 0) {
        // Nothing to move (and the buffer may be shared with a copy of string()).
        m_gapStart = to;
        return;
    }
    char16_t* data = reinterpret_cast<char16_t*>(m_buffer.data());
    if (to < m_gapStart) {
        const qsizetype n = m_gapStart - to;
        std::memmove(data + to + m_gapLength, data + to, size_t(n) * sizeof(char16_t));
        m_charactersMoved += std::uint64_t(n);
    } else {
        const qsizetype n = to - m_gapStart;
        std::memmove(data + m_gapStart, data + m_gapStart + m_gapLength, size_t(n) * sizeof(char16_t));
        m_charactersMoved += std::uint64_t(n);
    }
    m_gapStart = to;
}

// Gives the gap at least `needed` units of room (none for a deletion) in a
// buffer that belongs to this storage alone.
void TextStorage::makeGap(qsizetype needed)
{
    if (m_gapLength >= needed) {
        // Only a closed gap can share its buffer (with a copy of string()).
        if (!m_buffer.isDetached()) m_buffer.detach();
        return;
    }
    const qsizetype length = this->length();
    if (m_gapLength == 0 && m_buffer.isDetached()) {
        // string() closed the gap and kept the capacity: open it again at the end.
        const qsizetype spare = m_buffer.capacity() - length - 1;
        if (spare >= needed) {
            m_gapStart = length;
            m_buffer.resize(length + spare);
            m_gapLength = spare;
            return;
        }
    }
    const qsizetype gap = needed + std::max(kMinimumGap, length / kGapShare);
    // Allocated to size (resizing would round the buffer up to a power of two).
    QString fresh(length + gap, Qt::Uninitialized);
    const char16_t* from = reinterpret_cast<const char16_t*>(m_buffer.constData());
    char16_t* to = reinterpret_cast<char16_t*>(fresh.data());
    std::memcpy(to, from, size_t(m_gapStart) * sizeof(char16_t));
    const qsizetype after = length - m_gapStart;
    std::memcpy(to + m_gapStart + gap, from + m_gapStart + m_gapLength, size_t(after) * sizeof(char16_t));
    m_buffer = std::move(fresh);
    m_gapLength = gap;
}

void TextStorage::prepareForEditing(qsizetype at)
{
    makeGap(1);
    moveGap(std::clamp<qsizetype>(at, 0, length()));
}

const QString& TextStorage::string() const
{
    if (m_gapLength > 0) {
        const qsizetype length = this->length();
        moveGap(length);
        // Keeps the buffer's capacity: the next edit opens the gap in place.
        m_buffer.truncate(length);
        m_gapLength = 0;
    }
    return m_buffer;
}

QString TextStorage::substring(Range range) const
{
    range = clipped(range);
    if (range.end() <= m_gapStart) return m_buffer.mid(range.location, range.length);
    if (range.location >= m_gapStart) return m_buffer.mid(range.location + m_gapLength, range.length);
    QString result;
    result.reserve(range.length);
    result.append(QStringView(m_buffer).sliced(range.location, m_gapStart - range.location));
    result.append(QStringView(m_buffer).sliced(m_gapStart + m_gapLength, range.end() - m_gapStart));
    return result;
}

QStringView TextStorage::stringBefore(qsizetype end) const
{
    end = std::clamp<qsizetype>(end, 0, length());
    if (m_gapLength > 0 && m_gapStart < end) moveGap(end);
    return QStringView(m_buffer.constData(), end);
}

text::ParagraphBounds TextStorage::paragraphBounds(Range range) const
{
    const qsizetype n = length();
    auto isBreak = [this](qsizetype i) { return text::isNewline(characterAt(i).unicode()); };
    auto isCRLFTail = [this](qsizetype i) { return characterAt(i) == u'\n' && characterAt(i - 1) == u'\r'; };
    qsizetype first = std::clamp<qsizetype>(range.location, 0, n);
    // The "\n" of a "\r\n" belongs to the paragraph that the "\r" ends.
    if (first > 0 && first < n && isCRLFTail(first)) --first;
    qsizetype start = first;
    while (start > 0 && !isBreak(start - 1)) --start;
    qsizetype last = range.length > 0 ? std::clamp<qsizetype>(range.end() - 1, 0, n) : first;
    if (last > 0 && last < n && isCRLFTail(last)) --last;
    qsizetype contentsEnd = std::max(last, start);
    while (contentsEnd < n && !isBreak(contentsEnd)) ++contentsEnd;
    qsizetype end = contentsEnd;
    if (contentsEnd < n) end += characterAt(contentsEnd) == u'\r' && characterAt(contentsEnd + 1) == u'\n' ? 2 : 1;
    return {start, contentsEnd, end};
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
    TextStorage copy(substring(range));
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
    Change change = std::move(m_pending);
    m_pending = Change();
    change.background = m_backgroundEditing > 0;
    // A change over much of a long text (a restyle) leaves the runs' nodes
    // partly filled: packing them again gives a third or so back.
    if (change.editedRange.length >= kCompactAfter && change.editedRange.length * 2 >= length()) {
        for (int i = 0; i < kAttributeKeyCount; ++i)
            if (change.keys & keyBit(keyAt(i))) m_runs[i].compact();
    }
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
    // The characters in one pass (the change spans the text anyway); the
    // next edit opens a gap where it is made.
    const QString& old = string();
    QString rebuilt;
    rebuilt.reserve(old.size() + grown);
    qsizetype at = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        rebuilt.append(QStringView(old).sliced(at, ranges[i].location - at));
        rebuilt.append(texts[qsizetype(i)]);
        at = ranges[i].end();
    }
    rebuilt.append(QStringView(old).sliced(at));
    m_buffer = std::move(rebuilt);
    m_gapStart = m_buffer.size();
    m_gapLength = 0;
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
    // The gap goes to the edited range (to whichever end of it is nearer),
    // swallows the replaced characters and takes the new ones.
    makeGap(newLength - range.length);
    if (m_gapStart >= range.end()) {
        moveGap(range.end());
        m_gapStart = range.location;
    } else {
        moveGap(range.location);
    }
    m_gapLength += range.length;
    std::memcpy(reinterpret_cast<char16_t*>(m_buffer.data()) + m_gapStart, text.constData(),
                size_t(newLength) * sizeof(char16_t));
    m_gapStart += newLength;
    m_gapLength -= newLength;
    // A gap left far larger than the text (most of it was deleted) gives
    // its memory back.
    if (m_gapLength > std::max<qsizetype>(1 << 20, 2 * length())) {
        moveGap(length());
        m_buffer.truncate(length());
        m_buffer.squeeze();
        m_gapLength = 0;
    }
    beginEditing();
    recordChange(true, range, newLength, kAllKeys);
    endEditing();
}

} // namespace lumora
