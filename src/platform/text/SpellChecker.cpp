#include "platform/text/SpellChecker.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/TextBoundaries.h"

#include <enchant.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace lumora {

namespace {

EnchantDict* dictOf(void* dict) { return static_cast<EnchantDict*>(dict); }

// Enchant's dictionaries spell the apostrophe straight.
QByteArray enchantWord(QStringView word)
{
    QString normalized = word.toString();
    normalized.replace(QChar(0x2019), QLatin1Char('\''));
    return normalized.toUtf8();
}

QString& preferredLanguage()
{
    static QString language;
    return language;
}

std::unique_ptr<SpellChecker>& sharedChecker()
{
    static std::unique_ptr<SpellChecker> checker;
    return checker;
}

// A cache that grows past this many words starts afresh.
constexpr int kCacheLimit = 50000;

// Edits (insertion, deletion, substitution, swap of neighbours) between a
// and b, counted up to 2.
int slipDistance(QStringView a, QStringView b)
{
    const qsizetype n = a.size(), m = b.size();
    if (std::abs(n - m) > 1) return 2;
    std::vector<std::vector<int>> d(size_t(n + 1), std::vector<int>(size_t(m + 1)));
    for (qsizetype i = 0; i <= n; ++i) d[size_t(i)][0] = int(i);
    for (qsizetype j = 0; j <= m; ++j) d[0][size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        for (qsizetype j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int best = std::min({d[size_t(i - 1)][size_t(j)] + 1, d[size_t(i)][size_t(j - 1)] + 1,
                                 d[size_t(i - 1)][size_t(j - 1)] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = std::min(best, d[size_t(i - 2)][size_t(j - 2)] + 1);
            d[size_t(i)][size_t(j)] = best;
        }
    }
    return std::min(d[size_t(n)][size_t(m)], 2);
}

} // namespace

struct SpellChecker::Broker {
    EnchantBroker* broker = enchant_broker_init();
    ~Broker()
    {
        if (broker) enchant_broker_free(broker);
    }
};

SpellChecker::SpellChecker(const QString& language) : m_broker(std::make_unique<Broker>())
{
    if (!m_broker->broker) return;
    QStringList candidates;
    const auto addWithLanguage = [&](const QString& tag) {
        if (tag.isEmpty()) return;
        candidates << tag;
        const qsizetype underscore = tag.indexOf(QLatin1Char('_'));
        if (underscore > 0) candidates << tag.left(underscore);
    };
    addWithLanguage(language);
    addWithLanguage(text::writerLocale());
    candidates << QStringLiteral("en_US") << QStringLiteral("en_GB") << QStringLiteral("en");
    candidates.removeDuplicates();
    for (const QString& tag : std::as_const(candidates)) {
        const QByteArray id = tag.toUtf8();
        if (!enchant_broker_dict_exists(m_broker->broker, id.constData())) continue;
        if (EnchantDict* dict = enchant_broker_request_dict(m_broker->broker, id.constData())) {
            m_dict = dict;
            m_language = tag;
            break;
        }
    }
}

SpellChecker::~SpellChecker()
{
    if (m_dict && m_broker->broker) enchant_broker_free_dict(m_broker->broker, dictOf(m_dict));
}

SpellChecker& SpellChecker::shared()
{
    auto& checker = sharedChecker();
    if (!checker) checker = std::make_unique<SpellChecker>(preferredLanguage());
    return *checker;
}

void SpellChecker::setPreferredLanguage(const QString& language)
{
    preferredLanguage() = language;
    sharedChecker().reset();
}

QStringList SpellChecker::availableLanguages()
{
    QStringList tags;
    Broker broker;
    if (!broker.broker) return tags;
    enchant_broker_list_dicts(
        broker.broker,
        [](const char* tag, const char*, const char*, const char*, void* data) {
            static_cast<QStringList*>(data)->append(QString::fromUtf8(tag));
        },
        &tags);
    tags.removeDuplicates();
    tags.sort();
    return tags;
}

bool SpellChecker::isCheckable(QStringView word)
{
    if (word.size() < 2) return false;
    return std::none_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
}

bool SpellChecker::checkUncached(const QString& word)
{
    const QByteArray utf8 = enchantWord(word);
    return enchant_dict_check(dictOf(m_dict), utf8.constData(), utf8.size()) == 0;
}

bool SpellChecker::isCorrect(QStringView word)
{
    if (!m_dict || !isCheckable(word)) return true;
    const QString key = word.toString();
    const auto it = m_cache.constFind(key);
    if (it != m_cache.constEnd()) return it.value();
    if (m_cache.size() >= kCacheLimit) m_cache.clear();
    const bool correct = checkUncached(key);
    m_cache.insert(key, correct);
    return correct;
}

QStringList SpellChecker::suggestions(QStringView word, int max)
{
    QStringList result;
    if (!m_dict || word.isEmpty()) return result;
    const QByteArray utf8 = enchantWord(word);
    size_t count = 0;
    char** list = enchant_dict_suggest(dictOf(m_dict), utf8.constData(), utf8.size(), &count);
    const bool curly = word.contains(QChar(0x2019));
    for (size_t i = 0; list && i < count && result.size() < max; ++i) {
        QString suggestion = QString::fromUtf8(list[i]);
        // Keep the writer's apostrophe.
        if (curly) suggestion.replace(QLatin1Char('\''), QChar(0x2019));
        if (!result.contains(suggestion)) result << suggestion;
    }
    if (list) enchant_dict_free_string_list(dictOf(m_dict), list);
    return result;
}

std::optional<QString> SpellChecker::correction(QStringView word)
{
    if (!m_dict || !isCheckable(word) || isCorrect(word)) return std::nullopt;
    const QString lower = word.toString().toLower();
    std::optional<QString> only;
    for (const QString& guess : suggestions(word, 6)) {
        if (slipDistance(lower, guess.toLower()) != 1) continue;
        if (only && only->compare(guess, Qt::CaseInsensitive) != 0) return std::nullopt; // two ways to read it
        if (!only) only = guess;
    }
    if (!only) return std::nullopt;
    QString fixed = *only;
    // The writer's capital at the start stays.
    if (word.front().isUpper() && fixed.front().isLower()) fixed[0] = fixed[0].toUpper();
    return fixed;
}

void SpellChecker::ignore(QStringView word)
{
    if (!m_dict || word.isEmpty()) return;
    const QByteArray utf8 = enchantWord(word);
    enchant_dict_add_to_session(dictOf(m_dict), utf8.constData(), utf8.size());
    m_cache.clear();
}

void SpellChecker::learn(QStringView word)
{
    if (!m_dict || word.isEmpty()) return;
    const QByteArray utf8 = enchantWord(word);
    enchant_dict_add(dictOf(m_dict), utf8.constData(), utf8.size());
    m_cache.clear();
}

std::vector<Range> SpellChecker::misspellings(QStringView text, Range range, const std::vector<Range>& skipped)
{
    std::vector<Range> found;
    if (!m_dict) return found;
    range = range.intersection(Range(0, text.size()));
    text::enumerateSubstrings(text, range, text::Unit::Words, text::Direction::Forward, [&](Range word, Range) {
        for (const Range& skip : skipped)
            if (skip.intersects(word)) return true;
        if (!isCorrect(text.sliced(word.location, word.length))) found.push_back(word);
        return true;
    });
    return found;
}

std::optional<Range> SpellChecker::firstMisspelling(QStringView text, Range range,
                                                    const std::function<bool(Range)>& skipped)
{
    std::optional<Range> found;
    if (!m_dict) return found;
    range = range.intersection(Range(0, text.size()));
    text::enumerateSubstrings(text, range, text::Unit::Words, text::Direction::Forward, [&](Range word, Range) {
        if (skipped && skipped(word)) return true;
        if (isCorrect(text.sliced(word.location, word.length))) return true;
        found = word;
        return false;
    });
    return found;
}

} // namespace lumora
