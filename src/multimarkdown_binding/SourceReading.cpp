#include "multimarkdown_binding/SourceReading.h"

#include "multimarkdown_binding/DialectConversion.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace lumora {

using namespace dialect;

namespace {

// A stretch of the engine text, in bytes.
struct ByteStretch {
    size_t start = 0;
    size_t end = 0;
};

std::string_view withoutTrailingSpaces(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// One prepared document (the body, or the notes) and where its lines came
// from in the engine text.
class PreparedLines {
public:
    PreparedLines(std::string_view document, const std::vector<LineOrigin>& origins, std::string_view engine)
        : document_(document), origins_(origins), engine_(engine)
    {
        starts_.push_back(0);
        for (size_t i = 0; i < document.size(); ++i)
            if (document[i] == '\n') starts_.push_back(i + 1);
    }

    int lineCount() const { return int(starts_.size()); }

    // Line number (1-based) as cmark counts them.
    std::string_view line(int number) const
    {
        if (number < 1 || number > lineCount()) return {};
        const size_t start = starts_[size_t(number - 1)];
        size_t end = document_.find('\n', start);
        if (end == std::string_view::npos) end = document_.size();
        return document_.substr(start, end - start);
    }

    size_t lineStart(int number) const { return starts_[size_t(number - 1)]; }

    // The line's whole stretch of the engine text, its line break included;
    // nothing for a line of our own.
    std::optional<ByteStretch> originalLine(int number) const
    {
        const LineOrigin* origin = originOf(number);
        if (!origin) return std::nullopt;
        size_t end = origin->start + origin->length;
        if (end < engine_.size() && engine_[end] == '\n') ++end;
        return ByteStretch{origin->start, end};
    }

    // The place in the engine text of column (a byte offset) of a line.
    // A line rewritten when it was prepared (a list marker, a CriticMarkup
    // delimiter) is matched from both ends: the part the two share before
    // the change maps from the start, the part after it from the end.
    std::optional<size_t> originalPlace(int number, size_t column) const
    {
        const LineOrigin* origin = originOf(number);
        if (!origin) return std::nullopt;
        const std::string_view written = line(number);
        const std::string_view read = engine_.substr(origin->start, origin->length);
        column = std::min(column, written.size());
        if (written == read) return origin->start + column;
        size_t prefix = 0;
        while (prefix < written.size() && prefix < read.size() && written[prefix] == read[prefix]) ++prefix;
        if (column <= prefix) return origin->start + column;
        size_t suffix = 0;
        while (suffix < written.size() - prefix && suffix < read.size() - prefix
               && written[written.size() - 1 - suffix] == read[read.size() - 1 - suffix])
            ++suffix;
        if (column >= written.size() - suffix) return origin->start + read.size() - (written.size() - column);
        return origin->start + std::min(column, read.size());
    }

private:
    const LineOrigin* originOf(int number) const
    {
        if (number < 1 || size_t(number) > origins_.size()) return nullptr;
        const LineOrigin& origin = origins_[size_t(number - 1)];
        if (origin.start == LineOrigin::nowhere || origin.start + origin.length > engine_.size()) return nullptr;
        return &origin;
    }

    std::string_view document_;
    const std::vector<LineOrigin>& origins_;
    std::string_view engine_;
    std::vector<size_t> starts_;
};

bool isTableCell(const cmark_node* node)
{
    const char* name = cmark_node_get_type_string(const_cast<cmark_node*>(node));
    return name && std::strcmp(name, "table_cell") == 0;
}

// Where a code span's opening backticks stand in its prepared document:
// (line, column just after them). cmark's inline positions count from the
// start of the block's content, its lines stripped of what the containers
// took (quote markers, item indentation) and, for a paragraph, without the
// link definitions at its start, which it still counts as lines; so the
// line is found counting back from the block's end, and the column from
// where the content's line stands in the document's.
// The lines of a block's content, kept for the block's code spans that
// follow (split once per block, however many spans it holds).
struct ContentLines {
    const cmark_node* block = nullptr;
    std::vector<std::string_view> lines;

    const std::vector<std::string_view>& of(const cmark_node* node)
    {
        if (node == block) return lines;
        block = node;
        lines.clear();
        const std::string_view content(reinterpret_cast<const char*>(node->content.ptr), size_t(node->content.size));
        for (size_t at = 0; at < content.size();) {
            size_t end = content.find('\n', at);
            if (end == std::string_view::npos) end = content.size();
            lines.push_back(content.substr(at, end - at));
            at = end + 1;
        }
        return lines;
    }
};

const cmark_node* blockOf(const cmark_node* node)
{
    const cmark_node* block = node->parent;
    while (block && !isBlock(block)) block = block->parent;
    return block;
}

std::optional<std::pair<int, size_t>> codeSpanStart(const cmark_node* code, const PreparedLines& lines,
                                                    ContentLines& cache)
{
    const cmark_node* block = blockOf(code);
    if (!block) return std::nullopt;
    const int blockOffset = block->start_column - 1 + block->internal_offset;
    const int inContent = code->start_column - 1 - blockOffset;
    if (inContent < 0) return std::nullopt;
    if (isTableCell(block)) return std::pair{code->start_line, size_t(code->start_column - 1)};

    const std::vector<std::string_view>& contentLines = cache.of(block);
    const int index = code->start_line - block->start_line;
    if (index < 0 || size_t(index) >= contentLines.size()) return std::nullopt;
    const int line = block->type == CMARK_NODE_PARAGRAPH
        ? block->end_line - int(contentLines.size() - 1 - size_t(index))
        : block->start_line + index;
    const std::string_view written = withoutTrailingSpaces(lines.line(line));
    const std::string_view own = withoutTrailingSpaces(contentLines[size_t(index)]);
    size_t contentStart = size_t(blockOffset);
    if (own.size() <= written.size() && written.substr(written.size() - own.size()) == own)
        contentStart = written.size() - own.size();
    return std::pair{line, contentStart + size_t(inContent)};
}

// The code span's whole stretch of the prepared document: its opening
// backticks, found back from where cmark puts the code, to the first run
// of as many backticks after them (the closing one, as cmark reads it; the
// container markers between never hold backticks).
std::optional<ByteStretch> codeSpan(const cmark_node* code, const PreparedLines& lines, std::string_view document,
                                    ContentLines& cache)
{
    const auto start = codeSpanStart(code, lines, cache);
    if (!start) return std::nullopt;
    const auto [line, column] = *start;
    if (line < 1 || line > lines.lineCount()) return std::nullopt;
    const std::string_view text = lines.line(line);
    size_t open = std::min(column, text.size());
    while (open > 0 && text[open - 1] == '`') --open;
    if (open == column) {
        // Not where it was looked for (a tab the containers split, say):
        // the nearest run of backticks on the line before it.
        const size_t before = text.rfind('`', column);
        if (before == std::string_view::npos) return std::nullopt;
        open = before;
        while (open > 0 && text[open - 1] == '`') --open;
    }
    size_t ticks = 0;
    while (open + ticks < text.size() && text[open + ticks] == '`') ++ticks;
    const size_t from = lines.lineStart(line) + open;
    // No further than the end of the block's last line.
    const cmark_node* block = blockOf(code);
    const int lastLine = std::clamp(block ? block->end_line : line, line, lines.lineCount());
    const size_t limit = std::min(document.size(), lines.lineStart(lastLine) + lines.line(lastLine).size());
    size_t at = from + ticks;
    while (at < limit) {
        const size_t next = document.substr(0, limit).find('`', at);
        if (next == std::string_view::npos) break;
        size_t run = 0;
        while (next + run < document.size() && document[next + run] == '`') ++run;
        if (run == ticks) return ByteStretch{from, next + run};
        at = next + run;
    }
    return ByteStretch{from, std::max(limit, from + ticks)};
}

// The line (1-based) of a byte offset of the document.
int lineOfOffset(const PreparedLines& lines, size_t offset)
{
    int low = 1, high = lines.lineCount();
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (lines.lineStart(middle) <= offset) low = middle;
        else high = middle - 1;
    }
    return low;
}

// The literal stretches of one parsed document, in the engine text.
void collectLiteral(cmark_node* root, const PreparedLines& lines, std::string_view document,
                    std::vector<ByteStretch>& found)
{
    if (!root) return;
    const auto wholeLines = [&](int first, int last) {
        for (int line = std::max(first, 1); line <= std::min(last, lines.lineCount()); ++line)
            if (const auto stretch = lines.originalLine(line)) found.push_back(*stretch);
    };
    ContentLines cache;
    cmark_node* node = root;
    while (node) {
        bool descend = true;
        if (node->type == CMARK_NODE_CODE_BLOCK || node->type == CMARK_NODE_HTML_BLOCK) {
            wholeLines(node->start_line, node->end_column == 0 ? node->end_line - 1 : node->end_line);
            descend = false;
        } else if (node->type == CMARK_NODE_CODE) {
            if (const auto span = codeSpan(node, lines, document, cache)) {
                const int first = lineOfOffset(lines, span->start);
                const int last = lineOfOffset(lines, span->end > span->start ? span->end - 1 : span->start);
                const auto from = lines.originalPlace(first, span->start - lines.lineStart(first));
                const auto to = lines.originalPlace(last, span->end - lines.lineStart(last));
                if (from && to && *to > *from) found.push_back(ByteStretch{*from, *to});
            }
            descend = false;
        }
        if (descend && node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node != root && !node->next) node = node->parent;
        node = node == root ? nullptr : node->next;
    }
}

// The UTF-16 offsets of sorted byte offsets of engineTextFromString(text),
// walking the text as it does.
std::vector<qsizetype> utf16Offsets(const QString& text, const std::vector<size_t>& bytes)
{
    std::vector<qsizetype> offsets;
    offsets.reserve(bytes.size());
    const qsizetype count = text.size();
    qsizetype i = 0;
    size_t byte = 0;
    if (count > 0 && text[0].unicode() == 0xFEFF) i = 1;
    for (const size_t wanted : bytes) {
        while (i < count && byte < wanted) {
            const char16_t unit = text[i].unicode();
            if (unit < 0x80) {
                byte += unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != 0x0B && unit != 0x0C && unit != u'\r'
                    ? 3
                    : 1;
                if (unit == u'\r' && i + 1 < count && text[i + 1] == u'\n') ++i;
            } else if (unit < 0x800) {
                byte += 2;
            } else if (QChar::isHighSurrogate(unit) && i + 1 < count && text[i + 1].isLowSurrogate()) {
                byte += 4;
                ++i;
            } else {
                byte += 3;
            }
            ++i;
        }
        offsets.push_back(i);
    }
    return offsets;
}

// The UTF-16 stretches of byte stretches of engineTextFromString(text),
// sorted by their starts.
std::vector<TextStretch> utf16Stretches(const QString& text, const std::vector<ByteStretch>& sorted)
{
    std::vector<size_t> bytes;
    bytes.reserve(sorted.size() * 2);
    for (const ByteStretch& stretch : sorted) bytes.push_back(stretch.start);
    for (const ByteStretch& stretch : sorted) bytes.push_back(stretch.end);
    std::vector<size_t> order(bytes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&bytes](size_t a, size_t b) { return bytes[a] < bytes[b]; });
    std::vector<size_t> ascending(bytes.size());
    for (size_t i = 0; i < order.size(); ++i) ascending[i] = bytes[order[i]];
    const std::vector<qsizetype> converted = utf16Offsets(text, ascending);
    std::vector<qsizetype> offsets(bytes.size());
    for (size_t i = 0; i < order.size(); ++i) offsets[order[i]] = converted[i];
    std::vector<TextStretch> stretches;
    stretches.reserve(sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        const qsizetype start = offsets[i], end = offsets[sorted.size() + i];
        if (end > start) stretches.push_back(TextStretch{start, end - start});
    }
    return stretches;
}

// Where each note's definition stands in the engine text: from the start of
// the line of its "[^id]:" to the end of its last line that came from the
// text.
std::vector<ByteStretch> noteDefinitionStretches(const DialectSource& source, std::string_view engine)
{
    std::vector<ByteStretch> found;
    const std::vector<LineOrigin>& origins = source.lineOrigins(DialectSource::Part::notes);
    for (const NoteDefinition& definition : source.definitions()) {
        if (definition.kind == NoteKind::abbreviation || definition.lastLine < definition.firstLine) continue;
        std::optional<ByteStretch> stretch;
        for (int line = definition.firstLine; line <= definition.lastLine; ++line) {
            if (line < 1 || size_t(line) > origins.size()) break;
            const LineOrigin& origin = origins[size_t(line - 1)];
            if (origin.start == LineOrigin::nowhere || origin.start + origin.length > engine.size()) continue;
            if (!stretch) {
                const size_t lineBreak = engine.rfind('\n', origin.start == 0 ? 0 : origin.start - 1);
                const size_t lineStart = origin.start == 0 || lineBreak == std::string_view::npos ? 0 : lineBreak + 1;
                stretch = ByteStretch{lineStart, origin.start + origin.length};
            }
            stretch->end = std::max(stretch->end, origin.start + origin.length);
        }
        if (stretch) found.push_back(*stretch);
    }
    std::sort(found.begin(), found.end(), [](ByteStretch a, ByteStretch b) { return a.start < b.start; });
    return found;
}

} // namespace

SourceReading::SourceReading(const QString& text)
{
    const std::string engine = engineTextFromString(text);
    DialectSource::Options sourceOptions;
    sourceOptions.lineOrigins = true;
    const DialectSource source = DialectSource::prepare(engine, sourceOptions);
    DialectRenderer::Options renderOptions;
    renderOptions.metadata = &source.metadata();
    renderOptions.headingShift = source.metadata().headingShift();

    std::vector<ByteStretch> found;
    // The metadata at the top is no Markdown at all.
    if (source.metadata().isPresent() && source.metadata().bodyOffset() > 0)
        found.push_back(ByteStretch{0, source.metadata().bodyOffset()});
    {
        DialectConversion conversion(source, renderOptions);
        conversion.readTrees([&](cmark_node* body, cmark_node* notes) {
            const PreparedLines bodyLines(source.document(), source.lineOrigins(DialectSource::Part::body), engine);
            collectLiteral(body, bodyLines, source.document(), found);
            const PreparedLines noteLines(source.notesDocument(), source.lineOrigins(DialectSource::Part::notes),
                                          engine);
            collectLiteral(notes, noteLines, source.notesDocument(), found);
        });
    }
    std::sort(found.begin(), found.end(), [](ByteStretch a, ByteStretch b) { return a.start < b.start; });
    std::vector<ByteStretch> merged;
    for (const ByteStretch& stretch : found) {
        if (!merged.empty() && stretch.start <= merged.back().end) merged.back().end = std::max(merged.back().end, stretch.end);
        else merged.push_back(stretch);
    }
    literal_ = utf16Stretches(text, merged);
    notes_ = utf16Stretches(text, noteDefinitionStretches(source, engine));
}

} // namespace lumora
