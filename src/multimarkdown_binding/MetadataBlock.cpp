#include "multimarkdown_binding/MetadataBlock.h"

#include "multimarkdown_binding/EngineText.h"

#include <array>
#include <unordered_map>

namespace lumora {

namespace {

bool isAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// "Key: value" at the start of line: the key's length (up to the colon),
// or nothing.
std::optional<size_t> keyLength(std::string_view line)
{
    if (line.empty() || !isAsciiAlnum(line[0])) return std::nullopt;
    size_t i = 1;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ':') break;
        if (!isAsciiAlnum(c) && c != ' ' && c != '_' && c != '-') return std::nullopt;
        ++i;
    }
    if (i >= line.size()) return std::nullopt;
    if (i + 1 < line.size() && line[i + 1] != ' ' && line[i + 1] != '\t') return std::nullopt;
    return i;
}

bool isIndented(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// "---" (YAML's document marker) before the block, "---" or "..." after it.
bool isFence(std::string_view line, bool closing)
{
    const std::string_view rest = trimmedSpaces(line);
    return rest == "---" || (closing && rest == "...");
}

} // namespace

MetadataBlock MetadataBlock::parse(std::string_view text)
{
    MetadataBlock block;
    std::vector<Entry> entries;
    size_t position = 0;
    bool fenced = false;
    bool first = true;
    while (position < text.size()) {
        const size_t newline = text.find('\n', position);
        const size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        const std::string_view line = text.substr(position, lineEnd - position);
        const size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        if (first && !fenced && position == 0 && isFence(line, false)) {
            fenced = true;
            position = next;
            continue;
        }
        if (isBlankLine(line) || (fenced && !first && isFence(line, true))) {
            if (first) return block;
            position = next;
            break;
        }
        const std::optional<size_t> length = isIndented(line) ? std::nullopt : keyLength(line);
        if (length) {
            const std::string_view value = trimmedSpaces(line.substr(*length + 1));
            // "Ingredients:" over a list is text: a block begins with a value.
            if (first && !fenced && value.empty()) return block;
            entries.push_back({normalizedKey(line.substr(0, *length)), std::string(value)});
        } else if (first) {
            return block;
        } else {
            // Any other line continues the value before it.
            std::string& value = entries.back().value;
            const std::string_view more = trimmedSpaces(line);
            if (!value.empty()) value += '\n';
            value.append(more);
        }
        first = false;
        position = next;
    }
    if (entries.empty()) return block;
    block.present_ = true;
    block.bodyOffset_ = position;
    block.entries_ = std::move(entries);
    return block;
}

std::vector<MetadataBlock::Entry> MetadataBlock::distinctEntries() const
{
    std::vector<Entry> result;
    std::unordered_map<std::string_view, size_t> index;
    for (const Entry& entry : entries_) {
        const auto [it, added] = index.try_emplace(entry.key, result.size());
        if (added) result.push_back(entry);
        else result[it->second].value = entry.value;
    }
    return result;
}

std::vector<std::string> MetadataBlock::keys() const
{
    std::vector<std::string> result;
    for (Entry& entry : distinctEntries()) result.push_back(std::move(entry.key));
    return result;
}

std::optional<std::string> MetadataBlock::value(std::string_view key) const
{
    const std::string wanted = normalizedKey(key);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->key == wanted) return it->value;
    return std::nullopt;
}

bool MetadataBlock::isControlKey(std::string_view key)
{
    static constexpr std::array<std::string_view, 6> controlKeys{
        "baseheaderlevel", "htmlheaderlevel", "language", "quoteslanguage", "latexmode", "transcludebase"};
    for (std::string_view control : controlKeys)
        if (key == control) return true;
    return isForOtherFormats(key);
}

bool MetadataBlock::isForOtherFormats(std::string_view key)
{
    // LaTeX, OpenDocument and EPUB settings, and the files other formats
    // transclude around the text.
    static constexpr std::array<std::string_view, 6> prefixes{"latex", "odf", "epub", "mmdheader", "mmdfooter", "bibtex"};
    for (std::string_view prefix : prefixes)
        if (key.substr(0, prefix.size()) == prefix) return true;
    return false;
}

bool MetadataBlock::hasDocumentKeys() const
{
    for (const Entry& entry : entries_)
        if (!isControlKey(entry.key)) return true;
    return false;
}

int MetadataBlock::headingShift() const
{
    for (std::string_view key : {std::string_view("htmlheaderlevel"), std::string_view("baseheaderlevel")}) {
        const std::optional<std::string> text = value(key);
        if (!text) continue;
        const std::string_view digits = trimmedSpaces(*text);
        if (digits.size() == 1 && digits[0] >= '1' && digits[0] <= '6') return digits[0] - '1';
    }
    return 0;
}

std::string MetadataBlock::normalizedKey(std::string_view key)
{
    std::string result;
    result.reserve(key.size());
    for (char c : key)
        if (c != ' ' && c != '\t') result += asciiLower(c);
    return result;
}

} // namespace lumora
