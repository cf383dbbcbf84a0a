#include "platform/text/SpellChecker.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/TextBoundaries.h"

#include <QSet>

#include <enchant.h>

#include <algorithm>
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
    // Guessing is slow: each word is asked about once.
    const QString key = word.toString();
    if (const auto it = m_corrections.constFind(key); it != m_corrections.constEnd()) return it.value();
    if (m_corrections.size() >= kCacheLimit) m_corrections.clear();
    const std::optional<QString> fixed = guessCorrection(word);
    m_corrections.insert(key, fixed);
    return fixed;
}

// Every word one slip away (a letter left out, added, changed, or two
// swapped) is asked about: a few hundred quick checks, where the
// dictionary's own guessing takes tens of milliseconds.
std::optional<QString> SpellChecker::guessCorrection(QStringView word)
{
    const QString lower = word.toString().toLower();
    QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz'");
    for (QChar c : lower)
        if (c.isLetter() && !alphabet.contains(c)) alphabet += c;
    QSet<QString> tried;
    std::optional<QString> only;
    const auto consider = [&](const QString& candidate) {
        if (candidate.isEmpty() || candidate == lower || tried.contains(candidate)) return true;
        tried.insert(candidate);
        if (!checkUncached(candidate)) return true;
        if (only) return false; // two ways to read it
        only = candidate;
        return true;
    };
    const qsizetype n = lower.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (!consider(QString(lower).remove(i, 1))) return std::nullopt;
        if (i + 1 < n) {
            QString swapped = lower;
            std::swap(swapped[i], swapped[i + 1]);
            if (!consider(swapped)) return std::nullopt;
        }
        for (QChar c : std::as_const(alphabet)) {
            QString changed = lower;
            changed[i] = c;
            if (!consider(changed)) return std::nullopt;
        }
    }
    for (qsizetype i = 0; i <= n; ++i)
        for (QChar c : std::as_const(alphabet))
            if (!consider(QString(lower).insert(i, c))) return std::nullopt;
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
    m_corrections.clear();
}

void SpellChecker::learn(QStringView word)
{
    if (!m_dict || word.isEmpty()) return;
    const QByteArray utf8 = enchantWord(word);
    enchant_dict_add(dictOf(m_dict), utf8.constData(), utf8.size());
    m_cache.clear();
    m_corrections.clear();
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
