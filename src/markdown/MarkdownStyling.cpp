#include "markdown/MarkdownStyling.h"

#include "markdown/MarkdownScanner.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/Fonts.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextMeasurement.h"

#include <QGuiApplication>

#include <algorithm>
#include <array>
#include <memory_resource>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lumora {

namespace {

// ---- Style names ------------------------------------------------------------

constexpr std::array<const char*, 6> kPartLabels{"text", "url", "reference", "locator", "term", "definition"};

int labelIndex(const char* label)
{
    for (size_t i = 0; i < kPartLabels.size(); ++i)
        if (qstrcmp(kPartLabels[i], label) == 0) return int(i);
    return 0;
}

bool hasLeveledNames(Markdown::Kind kind)
{
    return kind == Markdown::Kind::Heading || kind == Markdown::Kind::OrderedList
        || kind == Markdown::Kind::UnorderedList || kind == Markdown::Kind::Blockquote;
}

struct StyleNames {
    std::vector<QString> whole;
    std::array<std::vector<QString>, kPartLabels.size()> parts;
};

// Names are made once per kind and level and kept: restyling a paragraph
// builds no strings.
const StyleNames& styleNames(const Markdown& element)
{
    static std::unordered_map<std::int64_t, StyleNames> cache;
    const Markdown::Kind kind = element.kind();
    const bool leveled = hasLeveledNames(kind);
    const std::int64_t level = leveled ? element.level() : 0;
    const std::int64_t key = (level << 8) | std::int64_t(kind);
    if (auto it = cache.find(key); it != cache.end()) return it->second;

    StyleNames names;
    const QString name = QString::fromLatin1(element.name());
    const QString leveledName = name + u'.' + QString::number(level);
    if (leveled) names.whole = {leveledName, name};
    else if (kind == Markdown::Kind::CitationDefinition) names.whole = {QStringLiteral("citation")};
    else names.whole = {name};
    for (size_t i = 0; i < kPartLabels.size(); ++i) {
        const QString label = QString::fromLatin1(kPartLabels[i]);
        if (leveled) names.parts[i] = {leveledName + u'.' + label, name + u'.' + label};
        else names.parts[i] = {name + u'.' + label};
    }
    return cache.emplace(key, std::move(names)).first->second;
}

// ---- Outline entries of one restyle ------------------------------------------

// The entries that heading paragraphs took in the editing brackets now open,
// so that one bracket never hands one entry to two headings. A bracket that
// restyled a whole long text leaves thousands of entries behind; their
// memory comes from one arena, so that the key whose bracket takes the slot
// over later hands it back at once instead of node by node.
using ClaimedEntries = std::pmr::unordered_set<const Outline*>;
ClaimedEntries& claimedEntries(const TextStorage& storage)
{
    struct Claims {
        std::uint64_t session = 0;
        std::pmr::monotonic_buffer_resource memory;
        std::optional<ClaimedEntries> entries;
    };
    static std::array<Claims, 4> recent;
    static size_t next = 0;
    const std::uint64_t session = storage.editingSession();
    if (session != 0) {
        for (Claims& c : recent)
            if (c.session == session && c.entries) return *c.entries;
    }
    Claims& c = recent[next++ % recent.size()];
    c.session = session;
    c.entries.reset();
    c.memory.release();
    return c.entries.emplace(&c.memory);
}

// The entry for a heading paragraph: the one it carries, unless another
// heading has a better claim to it. Text inserted next to a heading takes on
// its entry, so a split heading, or a heading line moved next to another,
// can find an entry that belongs to a neighbour.
std::shared_ptr<Outline> headingEntry(TextStorage& storage, Range paragraph, const QString& title, int level)
{
    std::shared_ptr<Outline> entry = outlineAt(storage, paragraph);
    auto& claimed = claimedEntries(storage);
    if (entry) {
        const AttributeValue value = Outline::value(entry);
        bool ownedElsewhere = claimed.count(entry.get()) > 0; // another heading of this restyle took it
        if (!ownedElsewhere && paragraph.location > 0)        // the paragraph before holds it too
            ownedElsewhere = storage.attribute(AttributeKey::MarkdownOutline, paragraph.location - 1) == value;
        if (!ownedElsewhere && paragraph.end() < storage.length() && entry->title != title
            && storage.attribute(AttributeKey::MarkdownOutline, paragraph.end()) == value) {
            // The heading after holds it too and this one is not the heading it was made for.
            const text::ParagraphBounds next = storage.paragraphBounds(Range(paragraph.end(), 0));
            const auto line = markdownLineElement(storage.stringBefore(next.end), next.start, next.end - next.start);
            ownedElsewhere = line && line->element.kind() == Markdown::Kind::Heading;
        }
        if (ownedElsewhere) entry.reset();
    }
    if (entry) {
        entry->title = title;
        entry->level = level;
    } else {
        entry = Outline::make(title, level);
    }
    claimed.insert(entry.get());
    return entry;
}

QFont fontAt(const TextStorage& storage, qsizetype index)
{
    if (const QFont* f = storage.attribute(AttributeKey::Font, index).font()) return *f;
    return QGuiApplication::font();
}

// The element of the paragraph range: a line of a fenced code block when
// one is open before it (as the paragraph before was styled) or when it is
// an opening fence, else what the line classifier finds.
std::optional<Markdown::LineElement> lineElement(const TextStorage& storage, QStringView text, Range range)
{
    qsizetype contentsEnd = range.end();
    while (contentsEnd > range.location && text::isNewline(text[contentsEnd - 1])) --contentsEnd;
    const auto fence = fenceLine(text, range.location, contentsEnd);
    if (const auto open = openFenceBefore(storage, range.location)) {
        const bool closes = fence && fence->bare && fence->marker == open->marker && fence->count >= open->count;
        return Markdown::LineElement{Markdown::fencedCode(closes ? std::nullopt : open), 0};
    }
    if (fence) return Markdown::LineElement{Markdown::fencedCode(Markdown::OpenFence{fence->marker, std::int32_t(fence->count)}), 0};
    return markdownLineElement(text, range.location, range.length);
}

// A restyle that changes whether a fenced block is open after it goes on
// into the paragraphs after it, at most this far at once when the caller
// can have the rest done later.
constexpr qsizetype kFollowAtOnce = 16 * 1024;

} // namespace

std::optional<Markdown::OpenFence> openFenceBefore(const TextStorage& storage, qsizetype location)
{
    if (location <= 0 || location > storage.length()) return std::nullopt;
    const std::optional<Markdown> before = Markdown::unboxed(storage.attribute(AttributeKey::FullLineMarkdown, location - 1));
    return before ? before->openFenceAfter() : std::nullopt;
}

std::span<const QString> wholeElementStyleNames(const Markdown& element) { return styleNames(element).whole; }

std::span<const QString> partStyleNames(const Markdown& element, int part)
{
    return styleNames(element).parts[labelIndex(element.part(part).label)];
}

void resetMarkdownAttributes(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, Range range)
{
    storage.beginEditing();
    for (AttributeKey key : {AttributeKey::UnderlineStyle, AttributeKey::UnderlineColor, AttributeKey::ForegroundColor,
                             AttributeKey::BackgroundColor, AttributeKey::Kern, AttributeKey::Obliqueness,
                             AttributeKey::Shadow, AttributeKey::StrikethroughStyle, AttributeKey::StrikethroughColor}) {
        // A key the base sets is replaced right after; removing it first would only be work.
        if (!parsed.base.contains(key)) storage.removeAttribute(key, range);
    }
    storage.addAttributes(parsed.base, range);
    storage.endEditing();
}

void applyFirstDefinedStyle(TextStorage& storage, const ParsedMarkdownStylesheet& parsed,
                            std::span<const QString> names, Range range)
{
    if (parsed.styles.isEmpty()) return;
    for (const QString& name : names) {
        if (auto it = parsed.styles.constFind(name); it != parsed.styles.constEnd()) {
            storage.addAttributes(it.value(), range);
            return;
        }
    }
}

void applyMarkdownStyles(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, const Markdown& element,
                         Range range)
{
    applyFirstDefinedStyle(storage, parsed, wholeElementStyleNames(element), range);
    for (int i = 0; i < element.partCount(); ++i)
        applyFirstDefinedStyle(storage, parsed, partStyleNames(element, i), element.part(i).range);
}

double markerIndentWidth(const TextStorage& storage, qsizetype location, qsizetype count, const ParagraphStyle& style)
{
    return text::typesetWidth(storage, Range(location, count), style.defaultTabInterval);
}

void applyMarkdown(TextStorage& storage, Range paragraph, const ParsedMarkdownStylesheet& parsed)
{
    const qsizetype location = std::clamp<qsizetype>(paragraph.location, 0, storage.length());
    const qsizetype end = std::clamp<qsizetype>(paragraph.end(), location, storage.length());
    const Range range(location, end - location);
    storage.beginEditing();

    // The scanners read the paragraph and at most one character after it.
    const QStringView text = storage.stringBefore(end + 1);
    qsizetype contentStart = 0;
    const auto line = lineElement(storage, text, range);
    if (!line) {
        storage.removeAttribute(AttributeKey::FullLineMarkdown, range);
        storage.removeAttribute(AttributeKey::MarkdownOutline, range);
    } else {
        const Markdown& element = line->element;
        contentStart = line->contentStart;
        applyMarkdownStyles(storage, parsed, element, range);

        const QFont font = fontAt(storage, location);
        ParagraphStyle style = parsed.paragraphStyle(font);
        std::shared_ptr<Outline> entry;
        switch (element.kind()) {
        case Markdown::Kind::OrderedList:
        case Markdown::Kind::UnorderedList: {
            const double w = markerIndentWidth(storage, location, contentStart, style);
            if (element.level() == 0) style.firstLineHeadIndent -= w;
            else style.headIndent += w;
            break;
        }
        case Markdown::Kind::Blockquote:
            style.headIndent += markerIndentWidth(storage, location, contentStart, style);
            break;
        case Markdown::Kind::Heading: {
            entry = headingEntry(storage, range, headingTitle(storage, range), element.level());
            const double h = fonts::size(font) * ParsedMarkdownStylesheet::lineHeightMultiple;
            const double s = parsed.paragraphSpacing;
            style.paragraphSpacingBefore = (s * 0.3 + 0.2) * h;
            style.paragraphSpacing = (s + 0.1) * h;
            style.firstLineHeadIndent -= markerIndentWidth(storage, location, contentStart, style);
            break;
        }
        default:
            break;
        }
        storage.addAttribute(AttributeKey::ParagraphStyle, style, range);
        storage.addAttribute(AttributeKey::FullLineMarkdown, element.boxed(), range);
        if (entry) storage.addAttribute(AttributeKey::MarkdownOutline, Outline::value(entry), range);
        else storage.removeAttribute(AttributeKey::MarkdownOutline, range);
    }

    // Inline elements, in every paragraph: code blocks and definitions too.
    qsizetype start = location + contentStart;
    while (start < end) {
        const auto found = nextInlineMarkdown(text, start, end - start);
        if (!found || found->range.end() <= start) break;
        storage.addAttribute(AttributeKey::InlineMarkdown, found->element.boxed(), found->range);
        applyMarkdownStyles(storage, parsed, found->element, found->range);
        start = found->range.end();
    }
    storage.endEditing();
}

Range paragraphsToRestyle(const TextStorage& storage, Range range)
{
    text::ParagraphBounds bounds = storage.paragraphBounds(range);
    // A range that ends with a line break also touches the paragraph after it.
    if (range.length > 0 && bounds.end == range.end() && bounds.end < storage.length())
        bounds.end = storage.paragraphBounds(Range(bounds.end, 0)).end;
    return Range(bounds.start, bounds.end - bounds.start);
}

Range restyleParagraphs(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, Range range, bool markdown,
                        qsizetype* followFrom)
{
    if (followFrom) *followFrom = -1;
    const Range paragraphs = paragraphsToRestyle(storage, range);
    qsizetype end = paragraphs.end();
    storage.beginEditing();
    resetMarkdownAttributes(storage, parsed, paragraphs);
    if (markdown) {
        // What the paragraph after these was styled with.
        std::optional<Markdown::OpenFence> styledWith = openFenceBefore(storage, end);
        // Styling changes no characters: the view stays valid throughout.
        text::enumerateSubstrings(storage.stringBefore(end), paragraphs, text::Unit::Paragraphs,
                                  text::Direction::Forward,
                                  [&](Range, Range paragraph) {
                                      applyMarkdown(storage, paragraph, parsed);
                                      return true;
                                  });
        // A fenced block opened, closed or changed here: the paragraphs
        // after follow until one ends as it was styled before.
        const qsizetype limit = followFrom ? end + kFollowAtOnce : storage.length();
        while (end < storage.length() && openFenceBefore(storage, end) != styledWith) {
            if (end >= limit) {
                *followFrom = end;
                break;
            }
            const text::ParagraphBounds next = storage.paragraphBounds(Range(end, 0));
            const Range paragraph(next.start, next.end - next.start);
            styledWith = openFenceBefore(storage, next.end);
            resetMarkdownAttributes(storage, parsed, paragraph);
            applyMarkdown(storage, paragraph, parsed);
            end = next.end;
        }
    }
    storage.endEditing();
    return Range(paragraphs.location, end - paragraphs.location);
}

bool editTouchesMarkdownSyntax(QStringView text, Range range, QStringView replacement)
{
    const CharacterSet& syntaxOrSpace = Markdown::syntaxAndWhitespaceCharacters();
    auto holdsOne = [&](QStringView s) {
        for (QChar c : s)
            if (syntaxOrSpace.contains(c)) return true;
        return false;
    };
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, text.size());
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, text.size());
    if (holdsOne(replacement)) return true;
    if (holdsOne(text.sliced(from, to - from))) return true;
    if (from > 0 && syntaxOrSpace.contains(text[from - 1])) return true;
    if (to < text.size() && Markdown::syntaxCharacters().contains(text[to])) return true;
    // Fence characters: a fence line opens or closes a block.
    const auto isFence = [](QChar c) { return c == u'`' || c == u'~'; };
    if (std::any_of(replacement.begin(), replacement.end(), isFence)) return true;
    if (std::any_of(text.begin() + from, text.begin() + to, isFence)) return true;
    if ((from > 0 && isFence(text[from - 1])) || (to < text.size() && isFence(text[to]))) return true;
    return false;
}

} // namespace lumora
