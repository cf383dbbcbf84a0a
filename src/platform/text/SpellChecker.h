#pragma once

#include "platform/foundation/Range.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>
#include <memory>
#include <vector>

// Spelling over Enchant 2 and the dictionaries it finds (Hunspell's, on
// Debian). Learnt words go to the personal word list Enchant keeps for the
// language (in ~/.config/enchant, or $ENCHANT_CONFIG_DIR), so they are known
// to every program that uses Enchant and survive a restart; ignored words
// last until the program quits.
namespace lumora {

class SpellChecker {
public:
    // The checker for language (an Enchant tag such as "en_US"); with an
    // empty tag, the writer's language with a fallback to English.
    explicit SpellChecker(const QString& language = {});
    ~SpellChecker();
    SpellChecker(const SpellChecker&) = delete;
    SpellChecker& operator=(const SpellChecker&) = delete;

    // The one checker the editors share, made on first use for the
    // preferred language.
    static SpellChecker& shared();
    // The language the shared checker uses from now on (empty: the
    // writer's); a checker already made is replaced.
    static void setPreferredLanguage(const QString& language);

    // Whether a dictionary was found. Without one every word is correct and
    // there are no suggestions.
    bool isAvailable() const { return m_dict != nullptr; }
    // The dictionary's language tag ("en_US"); empty without one.
    const QString& language() const { return m_language; }

    bool isCorrect(QStringView word);
    // Up to max guesses, best first.
    QStringList suggestions(QStringView word, int max = 8);
    // The correction to make without asking, for a misspelt word: the one
    // guess a single slip away (a letter left out, added, changed or two
    // swapped), in the word's capitals; none when there is no such guess or
    // more than one.
    std::optional<QString> correction(QStringView word);
    // Accepted until the program quits.
    void ignore(QStringView word);
    // Added to the personal word list.
    void learn(QStringView word);

    // The misspelt words of text inside range (offsets into text), in order.
    // Words inside any of the skipped ranges, words with digits and words
    // of a single letter are not checked.
    std::vector<Range> misspellings(QStringView text, Range range, const std::vector<Range>& skipped = {});

    // The first misspelt word inside range, or none; skipped(r) says
    // whether the word at r must not be checked.
    std::optional<Range> firstMisspelling(QStringView text, Range range,
                                          const std::function<bool(Range)>& skipped);

    // Whether word is one the checker looks at (see misspellings()).
    static bool isCheckable(QStringView word);

    // Language tags of the dictionaries Enchant can open.
    static QStringList availableLanguages();

private:
    bool checkUncached(const QString& word);
    std::optional<QString> guessCorrection(QStringView word);

    struct Broker;
    std::unique_ptr<Broker> m_broker;
    void* m_dict = nullptr; // EnchantDict
    QString m_language;
    // Answers already given; cleared whenever the word lists change.
    QHash<QString, bool> m_cache;
    QHash<QString, std::optional<QString>> m_corrections;
};

} // namespace lumora
