#include "platform/text/Attributes.h"

#include <QHashFunctions>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace lumora {

namespace {

size_t hashOf(const Color& c)
{
    return qHashMulti(0, c.r, c.g, c.b, c.a);
}

size_t hashOf(const ParagraphStyle& p)
{
    size_t h = qHashMulti(0, p.lineSpacing, p.paragraphSpacing, p.paragraphSpacingBefore, p.firstLineHeadIndent,
                          p.headIndent, p.tailIndent, p.minimumLineHeight, p.maximumLineHeight, p.lineHeightMultiple,
                          p.defaultTabInterval, int(p.alignment));
    for (double stop : p.tabStops) h = qHashMulti(h, stop);
    if (p.listItem)
        h = qHashMulti(h, p.listItem->depth, p.listItem->numbered, p.listItem->number, p.listItem->list);
    return h;
}

// Equal values made while an earlier one lives share it: a styled text holds
// a colour and a paragraph style per run, and most of them are equal (the
// focus highlight alone makes a colour for every coloured run it touches).
template <typename T>
class Interned {
public:
    std::shared_ptr<const T> get(const T& value)
    {
        const std::lock_guard lock(m_mutex);
        auto& bucket = m_buckets[hashOf(value)];
        std::shared_ptr<const T> found;
        bucket.erase(std::remove_if(bucket.begin(), bucket.end(),
                                    [&](const std::weak_ptr<const T>& weak) {
                                        std::shared_ptr<const T> alive = weak.lock();
                                        if (!alive) return true;
                                        if (!found && *alive == value) found = std::move(alive);
                                        return false;
                                    }),
                     bucket.end());
        if (found) return found;
        auto made = std::make_shared<const T>(value);
        bucket.push_back(made);
        // Now and then, buckets whose values all went are dropped.
        if (++m_made % 4096 == 0) {
            for (auto it = m_buckets.begin(); it != m_buckets.end();) {
                auto& b = it->second;
                b.erase(std::remove_if(b.begin(), b.end(), [](const auto& w) { return w.expired(); }), b.end());
                it = b.empty() ? m_buckets.erase(it) : std::next(it);
            }
        }
        return made;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<size_t, std::vector<std::weak_ptr<const T>>> m_buckets;
    std::uint64_t m_made = 0;
};

template <typename T>
Interned<T>& interned()
{
    static auto* table = new Interned<T>; // outlives every value
    return *table;
}

} // namespace

QString attributeKeyName(AttributeKey key)
{
    switch (key) {
    case AttributeKey::Font: return QStringLiteral("NSFont");
    case AttributeKey::ForegroundColor: return QStringLiteral("NSColor");
    case AttributeKey::BackgroundColor: return QStringLiteral("NSBackgroundColor");
    case AttributeKey::UnderlineStyle: return QStringLiteral("NSUnderline");
    case AttributeKey::UnderlineColor: return QStringLiteral("NSUnderlineColor");
    case AttributeKey::StrikethroughStyle: return QStringLiteral("NSStrikethrough");
    case AttributeKey::StrikethroughColor: return QStringLiteral("NSStrikethroughColor");
    case AttributeKey::Kern: return QStringLiteral("NSKern");
    case AttributeKey::Obliqueness: return QStringLiteral("NSObliqueness");
    case AttributeKey::Shadow: return QStringLiteral("NSShadow");
    case AttributeKey::ParagraphStyle: return QStringLiteral("NSParagraphStyle");
    case AttributeKey::FullLineMarkdown: return QStringLiteral("LMFullLineMarkdown");
    case AttributeKey::InlineMarkdown: return QStringLiteral("LMInlineMarkdown");
    case AttributeKey::MarkdownOutline: return QStringLiteral("LMMarkdownOutline");
    case AttributeKey::HighlightColor: return QStringLiteral("LMHighlightColor");
    }
    return {};
}

AttributeObject::~AttributeObject() = default;

AttributeValue::AttributeValue(const Color& color)
    : m_value(interned<Color>().get(color))
{
}

const Color* AttributeValue::color() const
{
    const auto* p = std::get_if<std::shared_ptr<const Color>>(&m_value);
    return p ? p->get() : nullptr;
}

AttributeValue::AttributeValue(const lumora::Shadow& shadow)
    : m_value(std::make_shared<const lumora::Shadow>(shadow))
{
}

AttributeValue::AttributeValue(const lumora::ParagraphStyle& style)
    : m_value(interned<ParagraphStyle>().get(style))
{
}

const lumora::Shadow* AttributeValue::shadow() const
{
    const auto* p = std::get_if<std::shared_ptr<const lumora::Shadow>>(&m_value);
    return p ? p->get() : nullptr;
}

const lumora::ParagraphStyle* AttributeValue::paragraphStyle() const
{
    const auto* p = std::get_if<std::shared_ptr<const lumora::ParagraphStyle>>(&m_value);
    return p ? p->get() : nullptr;
}

std::shared_ptr<const lumora::ParagraphStyle> AttributeValue::sharedParagraphStyle() const
{
    const auto* p = std::get_if<std::shared_ptr<const lumora::ParagraphStyle>>(&m_value);
    return p ? *p : nullptr;
}

std::optional<size_t> AttributeValue::contentHash() const
{
    if (const QFont* f = font()) return qHash(*f);
    if (const Color* c = color()) return hashOf(*c);
    if (const std::int64_t* i = integer()) return qHash(*i);
    if (const double* d = number()) return qHash(*d);
    if (const lumora::Shadow* s = shadow())
        return qHashMulti(s->color ? hashOf(*s->color) : 0, s->blurRadius, s->offset.x(), s->offset.y());
    if (const lumora::ParagraphStyle* p = paragraphStyle()) return hashOf(*p);
    return std::nullopt;
}

bool operator==(const AttributeValue& a, const AttributeValue& b)
{
    if (a.m_value.index() != b.m_value.index()) return false;
    if (const auto* c = a.color()) return c == b.color() || *c == *b.color();
    if (const auto* s = a.shadow()) return s == b.shadow() || *s == *b.shadow();
    if (const auto* p = a.paragraphStyle()) return p == b.paragraphStyle() || *p == *b.paragraphStyle();
    return a.m_value == b.m_value; // objects: shared_ptr compares by identity
}

Attributes::Attributes() = default;

Attributes::Attributes(std::initializer_list<Entry> entries)
{
    for (const Entry& e : entries) set(e.first, e.second);
}

void Attributes::detach()
{
    if (!d) d = new Data;
    else d.detach();
}

bool Attributes::isEmpty() const { return !d || d->entries.empty(); }
int Attributes::size() const { return d ? int(d->entries.size()) : 0; }

const AttributeValue* Attributes::get(AttributeKey key) const
{
    if (!d) return nullptr;
    for (const Entry& e : d->entries) {
        if (e.first == key) return &e.second;
        if (e.first > key) break;
    }
    return nullptr;
}

bool Attributes::contains(AttributeKey key) const { return get(key) != nullptr; }

AttributeValue Attributes::value(AttributeKey key) const
{
    const AttributeValue* v = get(key);
    return v ? *v : AttributeValue();
}

void Attributes::set(AttributeKey key, AttributeValue value)
{
    if (value.isNull()) {
        remove(key);
        return;
    }
    if (const AttributeValue* existing = get(key); existing && *existing == value) return;
    detach();
    auto& v = d->entries;
    auto it = std::lower_bound(v.begin(), v.end(), key,
                               [](const Entry& e, AttributeKey k) { return e.first < k; });
    if (it != v.end() && it->first == key) it->second = std::move(value);
    else v.insert(it, Entry(key, std::move(value)));
}

void Attributes::remove(AttributeKey key)
{
    if (!contains(key)) return;
    detach();
    auto& v = d->entries;
    v.erase(std::remove_if(v.begin(), v.end(), [key](const Entry& e) { return e.first == key; }), v.end());
}

void Attributes::merge(const Attributes& other)
{
    if (other.isEmpty() || isSharedWith(other)) return;
    if (isEmpty()) {
        d = other.d;
        return;
    }
    for (const Entry& e : other.d->entries) set(e.first, e.second);
}

const std::vector<Attributes::Entry>& Attributes::entries() const
{
    static const std::vector<Entry> empty;
    return d ? d->entries : empty;
}

const QFont* Attributes::font() const
{
    const AttributeValue* v = get(AttributeKey::Font);
    return v ? v->font() : nullptr;
}

const Color* Attributes::foregroundColor() const
{
    const AttributeValue* v = get(AttributeKey::ForegroundColor);
    return v ? v->color() : nullptr;
}

const lumora::ParagraphStyle* Attributes::paragraphStyle() const
{
    const AttributeValue* v = get(AttributeKey::ParagraphStyle);
    return v ? v->paragraphStyle() : nullptr;
}

bool operator==(const Attributes& a, const Attributes& b)
{
    if (a.d == b.d) return true;
    return a.entries() == b.entries();
}

} // namespace lumora
