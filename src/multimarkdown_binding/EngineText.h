#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace lumora {

// The bytes the converter reads, made from the editor's text in one pass:
// UTF-8 with every line break as "\n" (CR LF and a lone CR alike), a leading
// byte-order mark dropped, and U+FFFD in place of each unpaired surrogate and
// each C0 control character other than tab, line feed, vertical tab and form
// feed (NUL included). The converter's own markers live in that control range,
// so nothing the writer typed can be mistaken for one, and a NUL can never cut
// the text short.
std::string engineTextFromString(const QString& text);

// The converter's UTF-8 output as a string; invalid sequences, should any
// arise, become U+FFFD.
QString stringFromEngineText(std::string_view bytes);

// Helpers shared by the converter's passes.
inline bool isBlankLine(std::string_view line)
{
    for (char c : line)
        if (c != ' ' && c != '\t') return false;
    return true;
}

inline std::string_view trimmedSpaces(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

inline char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Appends text with &, <, > and " escaped, for element content and
// double-quoted attribute values.
inline void appendEscapedHtml(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
}

} // namespace lumora
