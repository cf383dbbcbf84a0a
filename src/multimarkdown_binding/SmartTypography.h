#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumora::dialect {

// The quotation marks of a language, as the "quoteslanguage" metadata key
// names them.
enum class QuotesLanguage { english, dutch, french, german, germanGuillemets, swedish };

// "english", "dutch", "french", "german", "germanguillemets", "swedish" (any
// case, spaces ignored) or a language code such as "de" or "fr-CH"; nothing
// for other names.
std::optional<QuotesLanguage> quotesLanguageNamed(std::string_view name);

// Smart typography over the text of one block, a text at a time in reading
// order: curly quotes (opening after white space or opening punctuation,
// apostrophes between letters, a closing single quote only where one was
// opened), `` and '' as double quotes, -- and --- as en and em dashes, a
// hyphen between digits as an en dash, ... and ". . ." as an ellipsis, and
// "\ " as a no-break space.
class SmartTypography {
public:
    explicit SmartTypography(QuotesLanguage language = QuotesLanguage::english) : language_(language) {}

    // A new block begins.
    void startBlock();
    // Something other than text (code, an image, a mark) stood here.
    void passAtom() { previous_ = Class::letter; }
    // A line break or other white space stood here.
    void passSpace() { previous_ = Class::space; }

    // Applies smart typography to text, into out; false (out untouched)
    // when nothing in it changes. next: the character after the text (a
    // space for none).
    bool apply(std::string_view text, char next, std::string& out);

private:
    enum class Class { space, opening, letter, digit, other };
    static Class classOf(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t' || c == '\n') return Class::space;
        if (c == '(' || c == '[' || c == '{' || c == '<') return Class::opening;
        if (c >= '0' && c <= '9') return Class::digit;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || u >= 0x80) return Class::letter;
        return Class::other;
    }
    bool changesAt(std::string_view text, size_t i, char next) const;

    QuotesLanguage language_;
    Class previous_ = Class::space;
    int openDouble_ = 0;
    int openSingle_ = 0;
};

} // namespace lumora::dialect
