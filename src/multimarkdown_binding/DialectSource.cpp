#include "multimarkdown_binding/DialectSource.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"
#include "multimarkdown_binding/SourceScanner.h"

#include <algorithm>
#include <cctype>

namespace lumora {

using namespace dialect;

DialectSource DialectSource::prepare(std::string_view text, Options options)
{
    DialectSource source;
    size_t bodyOffset = 0;
    if (options.metadata) {
        source.metadata_ = MetadataBlock::parse(text);
        if (source.metadata_.isPresent()) bodyOffset = source.metadata_.bodyOffset();
        text.remove_prefix(bodyOffset);
    }
    source.mayHaveTableOfContents_ = options.dialect && text.find("{{TOC") != std::string_view::npos;
    source.document_.reserve(text.size() + text.size() / 8 + 64);
    SourceScanner scanner(text, options, source);
    scanner.scanBody();
    scanner.finish();
    if (bodyOffset > 0) {
        for (std::vector<LineOrigin>* origins : {&source.documentOrigins_, &source.notesOrigins_})
            for (LineOrigin& origin : *origins)
                if (origin.start != LineOrigin::nowhere) origin.start += bodyOffset;
    }
    return source;
}

bool DialectSource::isTermLine(int line) const
{
    return std::binary_search(termLines_.begin(), termLines_.end(), line);
}

bool DialectSource::beginsDefinitions(int line) const
{
    return std::binary_search(definitionLines_.begin(), definitionLines_.end(), line);
}

bool DialectSource::beginsLooseDefinitions(int line) const
{
    return std::binary_search(looseDefinitionLines_.begin(), looseDefinitionLines_.end(), line);
}

const TableShape* DialectSource::tableShape(int firstLine) const
{
    const auto it = std::lower_bound(tableShapes_.begin(), tableShapes_.end(), firstLine,
                                     [](const TableShape& shape, int line) { return shape.firstLine < line; });
    return it != tableShapes_.end() && it->firstLine == firstLine ? &*it : nullptr;
}

bool DialectSource::beginsTableSection(int line) const
{
    return std::binary_search(tableSectionLines_.begin(), tableSectionLines_.end(), line);
}

bool DialectSource::hasInterestingLine(Part part, int firstLine, int lastLine) const
{
    const std::vector<int>& lines = part == Part::body ? interestingLines_ : interestingNoteLines_;
    const auto it = std::lower_bound(lines.begin(), lines.end(), firstLine);
    return it != lines.end() && *it <= lastLine;
}

std::string DialectSource::normalizedNoteKey(std::string_view label)
{
    std::string key;
    key.reserve(label.size());
    bool pendingSpace = false;
    auto put = [&](std::string_view piece) {
        if (pendingSpace && !key.empty()) key += ' ';
        pendingSpace = false;
        key.append(piece);
    };
    for (size_t i = 0; i < label.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(label[i]);
        if (c == ' ' || c == '\t' || c == '\n') {
            pendingSpace = true;
        } else if (c == '\\' && i + 1 < label.size()
                   && std::ispunct(static_cast<unsigned char>(label[i + 1]))) {
            put(label.substr(i + 1, 1));
            ++i;
        } else if (c == escapedOpenBracket) {
            put("[");
        } else if (c == escapedCloseBracket) {
            put("]");
        } else if (c == 0xE2 && i + 2 < label.size() && static_cast<unsigned char>(label[i + 1]) == 0x80) {
            std::string_view plain;
            switch (static_cast<unsigned char>(label[i + 2])) {
            case 0x93: plain = "--"; break;
            case 0x94: plain = "---"; break;
            case 0xA6: plain = "..."; break;
            case 0x98:
            case 0x99: plain = "'"; break;
            case 0x9C:
            case 0x9D: plain = "\""; break;
            default: break;
            }
            if (plain.empty()) {
                put(label.substr(i, 1));
            } else {
                put(plain);
                i += 2;
            }
        } else {
            const char lower = asciiLower(char(c));
            put(std::string_view(&lower, 1));
        }
    }
    return key;
}

} // namespace lumora
