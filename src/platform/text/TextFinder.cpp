#include "platform/text/TextFinder.h"

#include "platform/foundation/Dispatch.h"

#include <QPointer>

namespace lumora {

namespace {

bool isWordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == U'_';
}

char32_t characterBefore(QStringView text, qsizetype index)
{
    if (index <= 0) return 0;
    const QChar low = text[index - 1];
    if (low.isLowSurrogate() && index >= 2 && text[index - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[index - 2], low);
    return low.unicode();
}

char32_t characterAt(QStringView text, qsizetype index)
{
    if (index >= text.size()) return 0;
    const QChar high = text[index];
    if (high.isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(high, text[index + 1]);
    return high.unicode();
}

// How much text a cancellable search covers between two looks at the flag.
constexpr qsizetype kCancelCheckInterval = 64 * 1024;

} // namespace

TextFinder::TextFinder(const QString& pattern, FindOptions options)
    : m_pattern(pattern),
      m_options(options),
      m_matcher(pattern, options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
}

bool TextFinder::isWholeWord(QStringView text, Range match)
{
    if (match.isEmpty()) return false;
    if (isWordCharacter(characterAt(text, match.location)) && isWordCharacter(characterBefore(text, match.location)))
        return false;
    if (isWordCharacter(characterBefore(text, match.end())) && isWordCharacter(characterAt(text, match.end())))
        return false;
    return true;
}

qsizetype TextFinder::indexIn(QStringView text, qsizetype from) const
{
    return m_matcher.indexIn(text, from);
}

bool TextFinder::accepts(QStringView text, qsizetype at) const
{
    return !m_options.wholeWords || isWholeWord(text, Range(at, m_pattern.size()));
}

std::optional<Range> TextFinder::next(QStringView text, qsizetype from) const
{
    if (m_pattern.isEmpty()) return std::nullopt;
    for (qsizetype at = indexIn(text, std::max<qsizetype>(from, 0)); at >= 0; at = indexIn(text, at + 1))
        if (accepts(text, at)) return Range(at, m_pattern.size());
    return std::nullopt;
}

std::optional<Range> TextFinder::previous(QStringView text, qsizetype end) const
{
    if (m_pattern.isEmpty()) return std::nullopt;
    const Qt::CaseSensitivity cs = m_options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    qsizetype from = std::min(end, text.size()) - m_pattern.size();
    while (from >= 0) {
        const qsizetype at = text.lastIndexOf(m_pattern, from, cs);
        if (at < 0) break;
        if (accepts(text, at)) return Range(at, m_pattern.size());
        from = at - 1;
    }
    return std::nullopt;
}

std::optional<Range> TextFinder::find(QStringView text, qsizetype from, bool backwards, bool wrap) const
{
    from = std::clamp<qsizetype>(from, 0, text.size());
    if (backwards) {
        if (auto found = previous(text, from)) return found;
        if (!wrap) return std::nullopt;
        // Round from the end: only what lies after from is left to see.
        auto found = previous(text, text.size());
        if (found && found->end() > from) return found;
        return std::nullopt;
    }
    if (auto found = next(text, from)) return found;
    if (!wrap) return std::nullopt;
    auto found = next(text, 0);
    if (found && found->location < from) return found;
    return std::nullopt;
}

void TextFinder::forEachMatch(QStringView text, Range range, const std::function<bool(Range)>& block) const
{
    if (m_pattern.isEmpty()) return;
    const qsizetype stop = std::min(range.end(), text.size());
    const QStringView within = text.first(stop);
    qsizetype at = indexIn(within, std::max<qsizetype>(range.location, 0));
    while (at >= 0) {
        if (accepts(text, at)) {
            if (!block(Range(at, m_pattern.size()))) return;
            at = indexIn(within, at + m_pattern.size());
        } else {
            at = indexIn(within, at + 1);
        }
    }
}

std::vector<Range> TextFinder::matches(QStringView text, Range range) const
{
    std::vector<Range> found;
    forEachMatch(text, range, [&](Range r) {
        found.push_back(r);
        return true;
    });
    return found;
}

// ---- BackgroundFinder ----------------------------------------------------------

BackgroundFinder::BackgroundFinder(QObject* parent) : QObject(parent) {}

BackgroundFinder::~BackgroundFinder() { cancel(); }

std::shared_ptr<BackgroundFinder::Result> BackgroundFinder::search(const QString& text, const TextFinder& finder,
                                                                   const std::atomic<bool>* cancelled)
{
    auto result = std::make_shared<Result>();
    result->finder = finder;
    result->textLength = text.size();
    if (finder.isEmpty()) return result;
    // In slices, so that a cancelled search stops soon; a match may reach
    // past a slice's end, so each slice looks a pattern's length further.
    const qsizetype length = finder.pattern().size();
    qsizetype from = 0;
    while (from < text.size()) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) return nullptr;
        const qsizetype to = std::min(text.size(), from + kCancelCheckInterval);
        finder.forEachMatch(text, Range(from, to + length - 1 - from), [&](Range match) {
            if (match.location >= to) return false;
            result->starts.push_back(match.location);
            return true;
        });
        from = result->starts.empty() || result->starts.back() < from ? to
                                                                       : std::max(to, result->starts.back() + length);
    }
    return result;
}

void BackgroundFinder::start(const QString& text, const TextFinder& finder, Callback done)
{
    cancel();
    auto flag = std::make_shared<std::atomic<bool>>(false);
    m_cancel = flag;
    const quint64 generation = ++m_generation;
    m_running = true;
    QPointer<BackgroundFinder> self(this);
    dispatch::background([self, flag, generation, text, finder, done = std::move(done)]() mutable {
        std::shared_ptr<const Result> result = search(text, finder, flag.get());
        if (!result) return;
        dispatch::async([self, flag, generation, result, done = std::move(done)] {
            if (!self || flag->load() || generation != self->m_generation) return;
            self->m_running = false;
            done(result);
        });
    });
}

void BackgroundFinder::cancel()
{
    if (m_cancel) m_cancel->store(true);
    m_cancel.reset();
    m_running = false;
}

} // namespace lumora
