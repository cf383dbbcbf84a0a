#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// The quotation marks of a language, as the "quoteslanguage" metadata key
// names them.
enum class QuotesLanguage { english, dutch, french, german, germanGuillemets, swedish, spanish };

// "english", "dutch", "french", "german", "germanguillemets", "swedish",
// "spanish" (any case, spaces ignored) or a language code such as "de" or
// "fr-CH"; nothing for other names.
std::optional<QuotesLanguage> quotesLanguageNamed(std::string_view name);

// Smart typography over the text of one block, a text at a time in reading
// order: curly quotes (opening after white space or opening punctuation,
// apostrophes between letters, a closing single quote only where one was
// opened), `` and '' as double quotes (either one unpaired stays as
// written), -- and --- as en and em dashes, a
// hyphen between digits as an en dash, ... and ". . ." as an ellipsis, and
// "\ " as a no-break space. A double quote right after a digit, with no
// double quote open, is an inch mark and stays straight.
//
// Whether a single quote before a word opens a quote or is an apostrophe
// ("'tis", "'em"), and whether `` opens a double quote or stays as written,
// depends on whether a closing quote follows in the block. Such a mark is
// written as a placeholder byte; once the block is read, resolve() puts
// the right text in its place, in every text that holds placeholders, in
// the order the texts were written.
class SmartTypography {
public:
    explicit SmartTypography(QuotesLanguage language = QuotesLanguage::english) : language_(language) {}

    // A new block begins (any placeholders of the one before resolved).
    void startBlock();
    // Something other than text (code, an image, a mark) stood here.
    void passAtom() { previous_ = Class::letter; }
    // A line break or other white space stood here.
    void passSpace() { previous_ = Class::space; }

    // Applies smart typography to text, into out; false (out untouched)
    // when nothing in it changes. next: the character after the text (a
    // space for none).
    bool apply(std::string_view text, char next, std::string& out);
    // Whether the out of the last apply holds placeholders.
    bool wrotePlaceholders() const { return wrotePlaceholders_; }
    // Replaces the placeholders in text, written by the block read so far.
    void resolve(std::string& text);

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

    // The marks whose text waits for the end of the block: each one's
    // closing mark was found, by the order they were written.
    struct Pending {
        std::vector<bool> closed;
        std::vector<size_t> open; // unclosed ones, the last on top
        size_t resolved = 0;
    };

    QuotesLanguage language_;
    Class previous_ = Class::space;
    int openDouble_ = 0;
    Pending singles_; // ' before a word
    Pending tex_;     // ``
    bool wrotePlaceholders_ = false;
};

} // namespace lumora::dialect
