#include "multimarkdown_binding/SmartTypography.h"

#include "multimarkdown_binding/EngineText.h"

#include <array>

namespace lumora::dialect {

namespace {

struct Quotes {
    std::string_view openDouble;
    std::string_view closeDouble;
    std::string_view openSingle;
    std::string_view closeSingle;
};

constexpr std::string_view apostrophe = "\u2019";
constexpr std::string_view enDash = "\u2013";
constexpr std::string_view emDash = "\u2014";
constexpr std::string_view ellipsis = "\u2026";
constexpr std::string_view noBreakSpace = "\u00A0";

const Quotes& quotesOf(QuotesLanguage language)
{
    static const std::array<Quotes, 7> table{{
        {"\u201C", "\u201D", "\u2018", "\u2019"}, // English
        {"\u201E", "\u201D", "\u201A", "\u2019"}, // Dutch
        {"\u00AB", "\u00BB", "\u2039", "\u203A"}, // French
        {"\u201E", "\u201C", "\u201A", "\u2018"}, // German
        {"\u00BB", "\u00AB", "\u203A", "\u2039"}, // German with guillemets
        {"\u201D", "\u201D", "\u2019", "\u2019"}, // Swedish
        {"\u00AB", "\u00BB", "\u2018", "\u2019"}, // Spanish
    }};
    return table[size_t(language)];
}

constexpr std::array<bool, 256> specialTable = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {'\'', '"', '-', '.', '`', '\\'}) table[c] = true;
    return table;
}();

inline bool isSpecial(char c)
{
    return specialTable[static_cast<unsigned char>(c)];
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<QuotesLanguage> quotesLanguageNamed(std::string_view name)
{
    std::string key;
    for (char c : name)
        if (c != ' ' && c != '\t' && c != '\n') key += asciiLower(c);
    if (key == "english" || key == "en" || key.substr(0, 3) == "en-") return QuotesLanguage::english;
    if (key == "dutch" || key == "nl" || key.substr(0, 3) == "nl-") return QuotesLanguage::dutch;
    if (key == "french" || key == "fr" || key.substr(0, 3) == "fr-") return QuotesLanguage::french;
    if (key == "german" || key == "de" || key.substr(0, 3) == "de-") return QuotesLanguage::german;
    if (key == "germanguillemets") return QuotesLanguage::germanGuillemets;
    if (key == "swedish" || key == "sv" || key.substr(0, 3) == "sv-") return QuotesLanguage::swedish;
    if (key == "spanish" || key == "es" || key.substr(0, 3) == "es-") return QuotesLanguage::spanish;
    return std::nullopt;
}


// Placeholders for marks whose text waits for the end of the block (the
// engine text holds no such control bytes).
constexpr char singlePlaceholder = '\x1C';
constexpr char texPlaceholder = '\x1D';

void SmartTypography::startBlock()
{
    previous_ = Class::space;
    openDouble_ = 0;
    singles_ = {};
    tex_ = {};
    wrotePlaceholders_ = false;
}

void SmartTypography::resolve(std::string& text)
{
    const Quotes& quotes = quotesOf(language_);
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == singlePlaceholder && singles_.resolved < singles_.closed.size()) {
            out.append(singles_.closed[singles_.resolved++] ? quotes.openSingle : apostrophe);
        } else if (c == texPlaceholder && tex_.resolved < tex_.closed.size()) {
            out.append(tex_.closed[tex_.resolved++] ? quotes.openDouble : std::string_view("``"));
        } else {
            out += c;
        }
    }
    text = std::move(out);
}

bool SmartTypography::changesAt(std::string_view text, size_t i, char next) const
{
    const char following = i + 1 < text.size() ? text[i + 1] : next;
    switch (text[i]) {
    case '\'':
    case '"':
        return true;
    case '.':
        return text.substr(i, 3) == "..." || text.substr(i, 5) == ". . .";
    case '-':
        if (following == '-') return true;
        return isDigit(following) && (i > 0 ? isDigit(text[i - 1]) : previous_ == Class::digit);
    case '`':
        return following == '`' && i + 1 < text.size();
    case '\\':
        return following == ' ' && i + 1 < text.size();
    default:
        return false;
    }
}

bool SmartTypography::apply(std::string_view text, char next, std::string& out)
{
    wrotePlaceholders_ = false;
    // Most texts change nowhere: find the first place that does.
    size_t first = 0;
    while (true) {
        while (first < text.size() && !isSpecial(text[first])) ++first;
        if (first == text.size()) {
            if (!text.empty()) previous_ = classOf(text.back());
            return false;
        }
        if (changesAt(text, first, next)) break;
        ++first;
    }
    if (first > 0) previous_ = classOf(text[first - 1]);

    const Quotes& quotes = quotesOf(language_);
    out.clear();
    out.reserve(text.size() + 16);
    out.append(text.substr(0, first));
    bool changed = false;
    size_t i = first;
    auto put = [&](std::string_view piece, Class after) {
        out.append(piece);
        previous_ = after;
        changed = true;
    };
    while (i < text.size()) {
        const char c = text[i];
        if (!isSpecial(c)) {
            size_t run = i + 1;
            while (run < text.size() && !isSpecial(text[run])) ++run;
            out.append(text.substr(i, run - i));
            previous_ = classOf(text[run - 1]);
            i = run;
            continue;
        }
        const char following = i + 1 < text.size() ? text[i + 1] : next;
        const Class after = classOf(following);
        const bool wordBefore = previous_ == Class::letter || previous_ == Class::digit;
        const bool startBefore = previous_ == Class::space || previous_ == Class::opening;
        switch (c) {
        case '"':
            if (previous_ == Class::digit && openDouble_ == 0) {
                // 24" is 24 inches.
                out += c;
                previous_ = Class::other;
            } else if (startBefore && after != Class::space) {
                put(quotes.openDouble, Class::opening);
                ++openDouble_;
            } else {
                put(quotes.closeDouble, Class::other);
                if (openDouble_ > 0) --openDouble_;
            }
            ++i;
            break;
        case '\'':
            if (i + 1 < text.size() && text[i + 1] == '\'') {
                // TeX's closing double quote, where `` opened one; else
                // it stays as written.
                if (tex_.open.empty()) {
                    out += "''";
                    previous_ = Class::other;
                    i += 2;
                    break;
                }
                tex_.closed[tex_.open.back()] = true;
                tex_.open.pop_back();
                put(quotes.closeDouble, Class::other);
                i += 2;
                break;
            }
            if (wordBefore && (after == Class::letter || after == Class::digit)) {
                put(apostrophe, Class::letter);
            } else if (startBefore && after != Class::space && after != Class::digit) {
                // An opening quote if one closes it, else an elision's
                // apostrophe ("'tis").
                singles_.open.push_back(singles_.closed.size());
                singles_.closed.push_back(false);
                put(std::string_view(&singlePlaceholder, 1), Class::opening);
                wrotePlaceholders_ = true;
            } else if (!startBefore && !singles_.open.empty()) {
                singles_.closed[singles_.open.back()] = true;
                singles_.open.pop_back();
                put(quotes.closeSingle, Class::other);
            } else {
                put(apostrophe, Class::other);
            }
            ++i;
            break;
        case '`':
            if (i + 1 < text.size() && text[i + 1] == '`') {
                // TeX's opening double quote, if '' closes it; else it
                // stays as written.
                tex_.open.push_back(tex_.closed.size());
                tex_.closed.push_back(false);
                put(std::string_view(&texPlaceholder, 1), Class::opening);
                wrotePlaceholders_ = true;
                i += 2;
            } else {
                out += c;
                previous_ = Class::other;
                ++i;
            }
            break;
        case '-': {
            size_t run = 1;
            while (i + run < text.size() && text[i + run] == '-') ++run;
            if (run == 1) {
                const char afterRun = i + 1 < text.size() ? text[i + 1] : next;
                if (previous_ == Class::digit && classOf(afterRun) == Class::digit) {
                    put(enDash, Class::opening);
                } else {
                    out += '-';
                    previous_ = Class::other;
                }
            } else {
                size_t left = run;
                while (left >= 3) {
                    put(emDash, Class::opening);
                    left -= 3;
                }
                if (left == 2) put(enDash, Class::opening);
                if (left == 1) out += '-';
            }
            i += run;
            break;
        }
        case '.':
            if (text.substr(i, 3) == "...") {
                put(ellipsis, Class::other);
                i += 3;
            } else if (text.substr(i, 5) == ". . .") {
                put(ellipsis, Class::other);
                i += 5;
            } else {
                out += '.';
                previous_ = Class::other;
                ++i;
            }
            break;
        case '\\':
            if (i + 1 < text.size() && text[i + 1] == ' ') {
                put(noBreakSpace, Class::space);
                i += 2;
            } else {
                out += '\\';
                previous_ = Class::other;
                ++i;
            }
            break;
        default:
            out += c;
            ++i;
            break;
        }
    }
    return changed;
}

} // namespace lumora::dialect
