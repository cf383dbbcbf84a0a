#include "multimarkdown_binding/DialectSource.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>
#include <array>
#include <optional>

namespace lumora {

namespace {

using namespace dialect;

constexpr size_t maxTableColumns = DialectSource::maxTableColumns;

size_t leadingSpaces(std::string_view line)
{
    size_t n = 0;
    while (n < line.size() && line[n] == ' ') ++n;
    return n;
}

bool isIndentedLine(std::string_view line)
{
    return (!line.empty() && line[0] == '\t') || leadingSpaces(line) >= 4;
}

// The line without up to four columns of indentation (four spaces or a tab).
std::string_view dedented(std::string_view line)
{
    if (!line.empty() && line[0] == '\t') return line.substr(1);
    return line.substr(std::min<size_t>(leadingSpaces(line), 4));
}

bool startsWithCaseless(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(text[i]) != prefix[i]) return false;
    return true;
}

bool containsCaseless(std::string_view text, std::string_view needle)
{
    if (needle.size() > text.size()) return false;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (startsWithCaseless(text.substr(i), needle)) return true;
    return false;
}

bool isAtxHeading(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3) return false;
    size_t i = indent;
    while (i < line.size() && line[i] == '#') ++i;
    const size_t hashes = i - indent;
    return hashes >= 1 && hashes <= 6 && (i == line.size() || line[i] == ' ' || line[i] == '\t');
}

// "***", "- - -", "___" and the like (rest: the line without its indentation).
bool isThematicBreak(std::string_view rest)
{
    if (rest.empty()) return false;
    const char c = rest[0];
    if (c != '-' && c != '*' && c != '_') return false;
    size_t count = 0;
    for (char d : rest) {
        if (d == c) ++count;
        else if (d != ' ' && d != '\t') return false;
    }
    return count >= 3;
}

// A line that begins a block of its own and so ends a definition's lazy
// continuation: heading, quote, fence, list item or thematic break.
bool startsBlock(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3) return false;
    const std::string_view rest = line.substr(indent);
    if (rest.empty()) return false;
    if (isAtxHeading(line) || rest[0] == '>') return true;
    if (rest.substr(0, 3) == "```" || rest.substr(0, 3) == "~~~") return true;
    const char c = rest[0];
    if ((c == '-' || c == '+' || c == '*')
        && (rest.size() == 1 || rest[1] == ' ' || rest[1] == '\t'))
        return true;
    size_t digits = 0;
    while (digits < rest.size() && digits < 10 && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    if (digits > 0 && digits < rest.size() && (rest[digits] == '.' || rest[digits] == ')')
        && (digits + 1 == rest.size() || rest[digits + 1] == ' ' || rest[digits + 1] == '\t'))
        return true;
    return isThematicBreak(rest);
}

bool isTagNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The HTML tags that start a raw HTML block which may interrupt a paragraph
// and runs to the next blank line.
bool isBlockTagName(std::string_view name)
{
    static constexpr std::string_view names[] = {
        "address", "article", "aside", "base", "basefont", "blockquote", "body", "caption", "center", "col",
        "colgroup", "dd", "details", "dialog", "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure",
        "footer", "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "hr",
        "html", "iframe", "legend", "li", "link", "main", "menu", "menuitem", "nav", "noframes", "ol",
        "optgroup", "option", "p", "param", "section", "source", "summary", "table", "tbody", "td", "tfoot",
        "th", "thead", "title", "tr", "track", "ul"};
    if (name.size() > 10) return false;
    std::string lower;
    for (char c : name) lower += asciiLower(c);
    for (std::string_view known : names)
        if (lower == known) return true;
    return false;
}

// Follows, line by line at the top level of a text, what cmark reads as code
// or raw HTML: fenced code blocks, the raw HTML blocks that run to an end
// marker (script, pre, style, comments, processing instructions,
// declarations, CDATA) and those that run to the next blank line.
class BlockTracker {
public:
    bool isInsideBlock() const { return state_ != State::normal; }
    bool isInsideFence() const { return state_ == State::fence; }

    void feed(std::string_view line)
    {
        const bool previousBlank = previousBlank_;
        previousBlank_ = isBlankLine(line);
        switch (state_) {
        case State::fence:
            if (closesFence(line)) state_ = State::normal;
            return;
        case State::html:
            if (endsHtml(line)) state_ = State::normal;
            return;
        case State::htmlToBlank:
            if (previousBlank_) state_ = State::normal;
            return;
        case State::normal:
            break;
        }
        const size_t indent = leadingSpaces(line);
        if (indent > 3) return;
        const std::string_view rest = line.substr(indent);
        if (!rest.empty() && (rest[0] == '`' || rest[0] == '~')) {
            size_t run = 0;
            while (run < rest.size() && rest[run] == rest[0]) ++run;
            if (run >= 3 && (rest[0] == '~' || rest.substr(run).find('`') == std::string_view::npos)) {
                state_ = State::fence;
                fenceChar_ = rest[0];
                fenceLength_ = run;
                fenceIndent_ = indent;
            }
            return;
        }
        if (rest.size() < 2 || rest[0] != '<') return;
        static constexpr std::string_view rawTags[] = {"script", "pre", "style"};
        for (size_t i = 0; i < 3; ++i) {
            const std::string_view tag = rawTags[i];
            if (startsWithCaseless(rest.substr(1), tag)) {
                const size_t after = 1 + tag.size();
                if (after == rest.size() || rest[after] == ' ' || rest[after] == '\t' || rest[after] == '>') {
                    static constexpr std::string_view endTags[] = {"</script>", "</pre>", "</style>"};
                    startHtml(endTags[i], line);
                    return;
                }
            }
        }
        if (rest.substr(0, 4) == "<!--") return startHtml("-->", line);
        if (rest.substr(0, 2) == "<?") return startHtml("?>", line);
        if (rest.substr(0, 3) == "<![" && startsWithCaseless(rest.substr(3), "cdata[")) return startHtml("]]>", line);
        if (rest[1] == '!' && rest.size() > 2 && rest[2] >= 'A' && rest[2] <= 'Z') return startHtml(">", line);

        const size_t nameStart = rest[1] == '/' ? 2 : 1;
        size_t nameEnd = nameStart;
        while (nameEnd < rest.size() && isTagNameChar(rest[nameEnd])) ++nameEnd;
        if (nameEnd == nameStart || !((rest[nameStart] >= 'a' && rest[nameStart] <= 'z')
                                      || (rest[nameStart] >= 'A' && rest[nameStart] <= 'Z')))
            return;
        const char after = nameEnd < rest.size() ? rest[nameEnd] : ' ';
        if (isBlockTagName(rest.substr(nameStart, nameEnd - nameStart))) {
            if (after == ' ' || after == '\t' || after == '>' || rest.substr(nameEnd, 2) == "/>")
                state_ = State::htmlToBlank;
            return;
        }
        // Any other tag alone on its line, not in the middle of a paragraph.
        if (previousBlank && trimmedSpaces(rest).back() == '>') state_ = State::htmlToBlank;
    }

    // A line that ends the open block, for text that must not be swallowed
    // by it.
    std::string closingLine() const
    {
        // Indented as the opening fence was, so that a fence inside a list
        // item is closed there instead of opening another below the item.
        if (state_ == State::fence) return std::string(fenceIndent_, ' ') + std::string(fenceLength_, fenceChar_);
        if (state_ == State::html) return std::string(htmlEnd_);
        return {};
    }

private:
    enum class State { normal, fence, html, htmlToBlank };

    bool closesFence(std::string_view line) const
    {
        const size_t indent = leadingSpaces(line);
        if (indent > 3) return false;
        size_t run = indent;
        while (run < line.size() && line[run] == fenceChar_) ++run;
        return run - indent >= fenceLength_ && isBlankLine(line.substr(run));
    }

    bool endsHtml(std::string_view line) const { return containsCaseless(line, htmlEnd_); }

    void startHtml(std::string_view end, std::string_view line)
    {
        htmlEnd_ = end;
        state_ = endsHtml(line.substr(leadingSpaces(line) + 2)) ? State::normal : State::html;
    }

    State state_ = State::normal;
    bool previousBlank_ = true;
    char fenceChar_ = '`';
    size_t fenceLength_ = 0;
    size_t fenceIndent_ = 0;
    std::string_view htmlEnd_;
};

struct DefinitionStart {
    NoteKind kind;
    std::string_view label;
    std::string_view rest;
};

// "[^id]: text", "[#key]: text", "[?term]: text" or "[>ABBR]: text".
std::optional<DefinitionStart> definitionStart(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3 || line.size() < indent + 5 || line[indent] != '[') return std::nullopt;
    NoteKind kind;
    switch (line[indent + 1]) {
    case '^': kind = NoteKind::footnote; break;
    case '#': kind = NoteKind::citation; break;
    case '?': kind = NoteKind::glossary; break;
    case '>': kind = NoteKind::abbreviation; break;
    default: return std::nullopt;
    }
    size_t i = indent + 2;
    while (i < line.size() && line[i] != ']' && line[i] != '[') {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        ++i;
    }
    if (i + 1 >= line.size() || line[i] != ']' || line[i + 1] != ':') return std::nullopt;
    const std::string_view label = trimmedSpaces(line.substr(indent + 2, i - indent - 2));
    if (label.empty()) return std::nullopt;
    return DefinitionStart{kind, label, trimmedSpaces(line.substr(i + 2))};
}

// "[label]: destination" on one line: a link reference definition that the
// notes, parsed on their own, must know too.
bool isLinkDefinition(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3 || line.size() < indent + 4 || line[indent] != '[') return false;
    size_t i = indent + 1;
    if (i < line.size() && (line[i] == '^' || line[i] == '#' || line[i] == '?' || line[i] == '>')) return false;
    while (i < line.size() && line[i] != ']' && line[i] != '[') {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        ++i;
    }
    if (i == indent + 1 || i + 1 >= line.size() || line[i] != ']' || line[i + 1] != ':') return false;
    return !trimmedSpaces(line.substr(i + 2)).empty();
}

bool isAttributeKeyChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':';
}

// "key=value key2="a value"" and nothing else; false leaves attributes as
// they were.
bool parseAttributes(std::string_view text, std::vector<LinkAttribute>& attributes)
{
    std::vector<LinkAttribute> parsed;
    size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i == text.size()) break;
        const size_t keyStart = i;
        while (i < text.size() && isAttributeKeyChar(text[i])) ++i;
        if (i == keyStart || i >= text.size() || text[i] != '=' || !std::isalpha(static_cast<unsigned char>(text[keyStart])))
            return false;
        LinkAttribute attribute;
        attribute.key = std::string(text.substr(keyStart, i - keyStart));
        ++i;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i];
            const size_t end = text.find(quote, i + 1);
            if (end == std::string_view::npos) return false;
            attribute.value = std::string(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            const size_t valueStart = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '"' && text[i] != '\'') ++i;
            if (i == valueStart) return false;
            attribute.value = std::string(text.substr(valueStart, i - valueStart));
        }
        if (i < text.size() && text[i] != ' ' && text[i] != '\t') return false;
        parsed.push_back(std::move(attribute));
    }
    if (parsed.empty()) return false;
    attributes.insert(attributes.end(), parsed.begin(), parsed.end());
    return true;
}

// A link definition with attributes after its destination and title,
// "[id]: url "title" width=40px class=wide", as cmark reads it: without the
// attributes, its destination ending in attributesMark and the number of
// the attributes. Nothing when the line is no such definition.
std::optional<std::string> definitionWithoutAttributes(std::string_view line, std::string_view nextLine,
                                                       size_t number, std::vector<LinkAttribute>& attributes,
                                                       bool& usedNextLine)
{
    usedNextLine = false;
    if (!isLinkDefinition(line)) return std::nullopt;
    size_t i = line.find("]:") + 2;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t destinationStart = i;
    size_t destinationEnd;
    bool pointy = false;
    if (line[i] == '<') {
        const size_t close = line.find('>', i);
        if (close == std::string_view::npos || line.substr(i + 1, close - i - 1).find('<') != std::string_view::npos)
            return std::nullopt;
        destinationEnd = close + 1;
        pointy = true;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            if (line[i] == '<' || line[i] == '>') return std::nullopt;
            ++i;
        }
        destinationEnd = i;
    }
    i = destinationEnd;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t titleStart = i;
    size_t titleEnd = i;
    if (i < line.size() && (line[i] == '"' || line[i] == '\'' || line[i] == '(')) {
        const char close = line[i] == '(' ? ')' : line[i];
        size_t j = i + 1;
        while (j < line.size() && line[j] != close) {
            if (line[j] == '\\') ++j;
            ++j;
        }
        if (j >= line.size()) return std::nullopt;
        titleEnd = j + 1;
    }
    std::vector<LinkAttribute> found;
    const std::string_view rest = line.substr(titleEnd);
    const bool onLine = !isBlankLine(rest) && parseAttributes(rest, found);
    if (!onLine && !isBlankLine(rest)) return std::nullopt;
    if (!nextLine.empty() && (nextLine[0] == ' ' || nextLine[0] == '\t') && parseAttributes(nextLine, found))
        usedNextLine = true;
    if (found.empty()) return std::nullopt;
    attributes = std::move(found);

    std::string result(line.substr(0, destinationStart));
    result += '<';
    result.append(line.substr(destinationStart + (pointy ? 1 : 0),
                              destinationEnd - destinationStart - (pointy ? 2 : 0)));
    result += char(attributesMark);
    result += std::to_string(number);
    result += '>';
    if (titleEnd > titleStart) {
        result += ' ';
        result.append(line.substr(titleStart, titleEnd - titleStart));
    }
    return result;
}

// Writes lines with CriticMarkup delimiters and escaped brackets turned into
// markers. A backslash escape is copied whole, so an escaped brace or tilde
// never starts a delimiter. Runs of ordinary bytes are copied in one go.
//
// cmark-gfm's table extension takes time quadratic in the cells of a row, so
// a line never reaches it with more than maxTableColumns + 1 unescaped pipes
// (a row of that many columns between a leading and a trailing pipe): the
// pipes past that are escaped, and what follows stays the text of the last
// cell (or of the paragraph, when the line is no table row).
class MarkedWriter {
public:
    MarkedWriter(std::string& out, const DialectSource::Options& options)
        : out_(out), notes_(options.notes), critic_(options.critic), smart_(options.smart), dialect_(options.dialect)
    {
        const bool notes = options.notes;
        const bool critic = options.critic;
        interesting_.fill(false);
        interesting_[size_t('\\')] = true;
        interesting_[size_t('|')] = true;
        if (notes || dialect_) interesting_[size_t('[')] = true;
        if (critic)
            for (char c : {'{', '+', '-', '~', '=', '<'}) interesting_[size_t(c)] = true;
    }

    bool wroteMarkers() const { return wroteMarkers_; }
    bool sawReferences() const { return sawReferences_; }

    // Writes line; true when it holds a marker or reference syntax. Lines of
    // fenced code are copied as they are.
    bool write(std::string_view line, bool verbatim = false)
    {
        if (verbatim) {
            out_.append(line);
            previousWide_ = false;
            return false;
        }
        bool interesting = false;
        const size_t n = line.size();
        size_t pipes = 0;
        size_t i = 0;

        while (i < n) {
            size_t run = i;
            while (run < n && !interesting_[static_cast<unsigned char>(line[run])]) ++run;
            out_.append(line.data() + i, run - i);
            i = run;
            if (i >= n) break;
            const char c = line[i];
            const char next = i + 1 < n ? line[i + 1] : '\0';
            const char third = i + 2 < n ? line[i + 2] : '\0';
            if (c == '\\' && next != '\0') {
                if (notes_ && (next == '[' || next == ']')) {
                    out_ += char(next == '[' ? escapedOpenBracket : escapedCloseBracket);
                    wroteMarkers_ = interesting = true;
                } else if (smart_ && (next == '\'' || next == '"')) {
                    out_ += char(next == '\'' ? escapedQuote : escapedDoubleQuote);
                    wroteMarkers_ = interesting = true;
                } else if (dialect_ && next == '\\' && (third == '(' || third == ')' || third == '[' || third == ']')) {
                    out_ += char(third == '(' ? inlineMathOpen : third == ')' ? inlineMathClose
                                 : third == '[' ? displayMathOpen : displayMathClose);
                    wroteMarkers_ = interesting = true;
                    i += 3;
                    continue;
                } else {
                    out_ += c;
                    out_ += next;
                }
                i += 2;
                continue;
            }
            if (c == '|') {
                if (++pipes > maxTableColumns + 1) {
                    // Under a header as wide, a delimiter row ends here, so
                    // that the two still match in cells.
                    if (previousWide_ && isDelimiterRow(line)) break;
                    out_ += '\\';
                }
                out_ += c;
                ++i;
                continue;
            }
            if (c == '[') {
                if (next == '^' || next == '#' || next == '?' || next == '>' || next == '%') sawReferences_ = interesting = true;
                out_ += c;
                ++i;
                continue;
            }
            if (critic_) {
                unsigned char marker = 0;
                size_t length = 3;
                if (c == '{' && next == third) {
                    switch (next) {
                    case '+': marker = insertionOpen; break;
                    case '-': marker = deletionOpen; break;
                    case '~': marker = substitutionOpen; break;
                    case '=': marker = highlightOpen; break;
                    case '>': marker = commentOpen; break;
                    default: break;
                    }
                } else if (third == '}' && c == next) {
                    switch (c) {
                    case '+': marker = insertionClose; break;
                    case '-': marker = deletionClose; break;
                    case '~': marker = substitutionClose; break;
                    case '=': marker = highlightClose; break;
                    case '<': marker = commentClose; break;
                    default: break;
                    }
                } else if (c == '~' && next == '>') {
                    marker = substitutionSplit;
                    length = 2;
                }
                if (marker != 0) {
                    out_ += char(marker);
                    wroteMarkers_ = interesting = true;
                    i += length;
                    continue;
                }
            }
            out_ += c;
            ++i;
        }
        previousWide_ = pipes > maxTableColumns + 1;
        return interesting;
    }

private:
    static bool isDelimiterRow(std::string_view line)
    {
        for (char c : line)
            if (c != '|' && c != '-' && c != ':' && c != ' ' && c != '\t') return false;
        return true;
    }

    std::string& out_;
    bool notes_;
    bool critic_;
    bool smart_;
    bool dialect_;
    std::array<bool, 256> interesting_;
    bool wroteMarkers_ = false;
    bool sawReferences_ = false;
    bool previousWide_ = false;
};

// Whether a line may be a heading or a heading's underline, inside any
// quotes and list items: such lines need the tree pass too (for labels and
// levels). Guessing too many is harmless.
bool mayBeHeading(std::string_view line)
{
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '>') {
            ++i;
        } else if ((c == '-' || c == '+' || c == '*') && i + 1 < line.size() && (line[i + 1] == ' ' || line[i + 1] == '\t')) {
            i += 2;
        } else if (c >= '0' && c <= '9') {
            size_t j = i;
            while (j < line.size() && line[j] >= '0' && line[j] <= '9') ++j;
            if (j + 1 < line.size() && (line[j] == '.' || line[j] == ')') && (line[j + 1] == ' ' || line[j + 1] == '\t'))
                i = j + 2;
            else
                break;
        } else {
            break;
        }
    }
    if (i >= line.size()) return false;
    if (line[i] == '#') return true;
    if (line[i] != '=' && line[i] != '-') return false;
    const char underline = line[i];
    for (size_t j = i; j < line.size(); ++j)
        if (line[j] != underline && line[j] != ' ' && line[j] != '\t') return false;
    return true;
}

// One document being written: its lines, counted, and the numbers of those
// that hold markers or reference syntax or may be headings.
class Output {
public:
    Output(std::string& text, std::vector<int>& interestingLines, const DialectSource::Options& options)
        : text_(text), interestingLines_(interestingLines), writer_(text, options)
    {
    }

    void write(std::string_view line, bool verbatim = false)
    {
        const bool marked = writer_.write(line, verbatim);
        if (marked || mayBeHeading(line)) interestingLines_.push_back(lineCount_ + 1);
        text_ += '\n';
        ++lineCount_;
    }

    // A line of our own, written as it is. It counts as holding a marker:
    // should code or raw HTML left open swallow it, the pass over the tree
    // must still take it out.
    void writeRaw(std::string_view line)
    {
        interestingLines_.push_back(lineCount_ + 1);
        text_.append(line);
        text_ += '\n';
        ++lineCount_;
    }

    int lineCount() const { return lineCount_; }
    bool wroteMarkers() const { return writer_.wroteMarkers(); }
    bool sawReferences() const { return writer_.sawReferences(); }

private:
    std::string& text_;
    std::vector<int>& interestingLines_;
    MarkedWriter writer_;
    int lineCount_ = 0;
};

// cmark-gfm fills every table row up to the table's width with empty cells,
// so a wide header over many one-cell rows turns a few bytes into a great
// many cells. Following the tables in the text (at any depth of quotes and
// list items, approximately), a table whose filled-in cells outgrow its own
// text is ended with a blank line: the rows below it stay text.
class TableBudget {
public:
    // True when a blank line must go before line.
    bool needsBreakBefore(std::string_view line)
    {
        const std::string_view content = rowContent(line);
        const bool blank = isBlankLine(line);
        const bool previousHadPipe = previousHadPipe_;
        previousHadPipe_ = !blank && content.find('|') != std::string_view::npos;
        if (blank) {
            columns_ = 0;
            return false;
        }
        if (columns_ == 0) {
            if (previousHadPipe && isDelimiterRow(content)) {
                columns_ = cells(content);
                bytes_ = line.size();
                filled_ = 0;
            }
            return false;
        }
        bytes_ += line.size() + 1;
        const size_t present = cells(content);
        if (present < columns_) filled_ += columns_ - present;
        if (filled_ <= 4 * bytes_ + 1024) return false;
        columns_ = 0;
        previousHadPipe_ = false;
        return true;
    }

private:
    // The line without the quote markers, list marker and indentation
    // before it.
    static std::string_view rowContent(std::string_view line)
    {
        size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '>')) ++i;
        if (i + 1 < line.size() && (line[i] == '-' || line[i] == '*' || line[i] == '+') && line[i + 1] == ' ') i += 2;
        return line.substr(i);
    }

    static bool isDelimiterRow(std::string_view text)
    {
        bool dash = false;
        bool pipe = false;
        for (char c : text) {
            if (c == '-') dash = true;
            else if (c == '|') pipe = true;
            else if (c != ':' && c != ' ' && c != '\t') return false;
        }
        return dash && pipe;
    }

    static size_t cells(std::string_view text)
    {
        const std::string_view row = trimmedSpaces(text);
        size_t pipes = 0;
        for (size_t i = 0; i < row.size(); ++i) {
            if (row[i] == '\\') ++i;
            else if (row[i] == '|') ++pipes;
        }
        size_t count = pipes + 1;
        if (!row.empty() && row.front() == '|') --count;
        if (row.size() > 1 && row.back() == '|' && row[row.size() - 2] != '\\') --count;
        return std::max<size_t>(count, 1);
    }

    size_t columns_ = 0; // of the open table; 0 for none
    size_t bytes_ = 0;
    size_t filled_ = 0;
    bool previousHadPipe_ = false;
};

// ":   definition" at most three spaces in.
bool isDefinitionLine(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    return indent <= 3 && indent + 1 < line.size() && line[indent] == ':'
        && (line[indent + 1] == ' ' || line[indent + 1] == '\t');
}

std::string_view lineAt(std::string_view text, size_t position)
{
    const size_t end = text.find('\n', position);
    return text.substr(position, (end == std::string_view::npos ? text.size() : end) - position);
}

// The terms of a definition list: the lines of a paragraph (a few at most)
// followed by a definition line, directly or after one blank line.
struct Terms {
    int count = 0;
    bool blankBefore = false; // a blank line between the terms and the definition
};

Terms termsAhead(std::string_view text, size_t position)
{
    Terms terms;
    while (position < text.size() && terms.count <= 16) {
        const std::string_view line = lineAt(text, position);
        const size_t next = position + line.size() + 1;
        if (isDefinitionLine(line)) return terms;
        if (isBlankLine(line)) {
            if (terms.count > 0 && next < text.size() && isDefinitionLine(lineAt(text, next))) {
                terms.blankBefore = true;
                return terms;
            }
            return {};
        }
        if (startsBlock(line) || isIndentedLine(line)) return {};
        ++terms.count;
        position = next;
    }
    return {};
}

// Where MultiMarkdown's block rules differ from cmark's in ways a line can
// be rewritten for: an ordered list starting at any number may interrupt a
// paragraph (cmark lets only 1 do so), and a list marker may be followed by
// any number of spaces (cmark reads five or more as code in the item).
class ListRules {
public:
    // The line as cmark should read it (in storage when rewritten);
    // blankBefore when a blank line must go before it.
    std::string_view adjust(std::string_view line, std::string& storage, bool& blankBefore)
    {
        blankBefore = false;
        if (isBlankLine(line)) {
            previousBlank_ = true;
            previousParagraph_ = false;
            return line;
        }
        const bool wasInList = inList_;
        const bool paragraphBefore = previousParagraph_;
        const bool blankBeforeLine = previousBlank_;
        previousBlank_ = false;
        const Marker marker = markerOf(line);
        if (marker.length == 0) {
            // After a blank line, text that is not indented ends a list.
            if (blankBeforeLine && !isIndentedLine(line)) inList_ = false;
            previousParagraph_ = !startsBlock(line) && !isIndentedLine(line);
            return line;
        }
        inList_ = true;
        previousParagraph_ = true;
        if (marker.ordered && marker.number != 1 && paragraphBefore && !wasInList) blankBefore = true;
        size_t spaces = 0;
        while (marker.length + spaces < line.size() && line[marker.length + spaces] == ' ') ++spaces;
        if (spaces >= 5 && marker.length + spaces < line.size()) {
            storage.assign(line.substr(0, marker.length));
            storage += ' ';
            storage.append(line.substr(marker.length + spaces));
            return storage;
        }
        return line;
    }

    // A line cmark reads as code or raw HTML.
    void skip()
    {
        previousBlank_ = false;
        previousParagraph_ = false;
    }

private:
    struct Marker {
        size_t length = 0; // indentation and marker
        bool ordered = false;
        unsigned long number = 0;
    };

    static Marker markerOf(std::string_view line)
    {
        Marker marker;
        const size_t indent = leadingSpaces(line);
        if (indent > 3 || indent >= line.size()) return marker;
        size_t i = indent;
        if (line[i] == '-' || line[i] == '+' || line[i] == '*') {
            ++i;
        } else {
            while (i < line.size() && i - indent < 9 && line[i] >= '0' && line[i] <= '9') {
                marker.number = marker.number * 10 + unsigned(line[i] - '0');
                ++i;
            }
            if (i == indent || i >= line.size() || (line[i] != '.' && line[i] != ')')) return marker;
            marker.ordered = true;
            ++i;
        }
        if (i >= line.size() || line[i] != ' ') return Marker{};
        marker.length = i;
        return marker;
    }

    bool inList_ = false;
    bool previousBlank_ = true;
    bool previousParagraph_ = false;
};

// Follows whether the body's last line is a line of a paragraph (or a
// table) at the top level. MultiMarkdown reads a definition on the line right
// under such a line as a definition; cmark would continue the paragraph with
// it, so a blank line goes between them. Lines in quotes and list items, lazy
// continuations included, never count: a definition there stays the text
// cmark makes of it.
class TopLevelText {
public:
    bool isOpen() const { return kind_ == Kind::text && !previousBlank_; }

    // A line cmark reads as block structure (not code, not raw HTML).
    void feed(std::string_view line)
    {
        if (isBlankLine(line)) {
            previousBlank_ = true;
            return;
        }
        const bool afterBlank = std::exchange(previousBlank_, false);
        const bool indented = isIndentedLine(line);
        if (!indented && startsBlock(line)) {
            const std::string_view rest = line.substr(leadingSpaces(line));
            const bool container = rest[0] == '>' || !(isAtxHeading(line) || rest[0] == '`' || rest[0] == '~'
                                                       || isThematicBreak(rest));
            kind_ = container ? Kind::nested : Kind::other;
            inContainer_ = container;
            return;
        }
        // A paragraph goes on, in a quote or an item lazily.
        if (!afterBlank && kind_ != Kind::other) return;
        // After a blank line, indented text belongs to the open item.
        if (afterBlank && inContainer_ && (indented || leadingSpaces(line) > 0)) {
            kind_ = Kind::nested;
            return;
        }
        inContainer_ = false;
        kind_ = indented ? Kind::other : Kind::text;
    }

    // A line of code or raw HTML.
    void skip()
    {
        previousBlank_ = false;
        kind_ = Kind::other;
    }

private:
    enum class Kind { other, text, nested };
    Kind kind_ = Kind::other;
    bool previousBlank_ = true;
    bool inContainer_ = false;
};

struct PendingNote {
    NoteDefinition definition;
    std::vector<std::string_view> lines;
};

} // namespace

DialectSource DialectSource::prepare(std::string_view text, Options options)
{
    DialectSource source;
    if (options.metadata) {
        source.metadata_ = MetadataBlock::parse(text);
        if (source.metadata_.isPresent()) text.remove_prefix(source.metadata_.bodyOffset());
    }
    source.mayHaveTableOfContents_ = options.dialect && text.find("{{TOC") != std::string_view::npos;
    source.document_.reserve(text.size() + text.size() / 8 + 64);
    Output body(source.document_, source.interestingLines_, options);

    std::vector<PendingNote> notes;
    std::vector<std::string> linkDefinitions;
    bool linkDefinitionMayStart = true;
    bool previousBlank = true;
    bool inDefinitionList = false;
    bool definitionListOpen = false;
    bool looseDefinitions = false;
    BlockTracker tracker;
    TableBudget tables;
    ListRules listRules;
    TopLevelText topLevel;
    bool inDefinition = false;
    int blanksInDefinition = 0;
    bool definitionMayStart = true;

    size_t position = 0;
    while (position < text.size()) {
        const size_t newline = text.find('\n', position);
        const size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        const std::string_view line = text.substr(position, lineEnd - position);
        position = newline == std::string_view::npos ? text.size() : newline + 1;

        if (inDefinition) {
            PendingNote& note = notes.back();
            if (isBlankLine(line)) {
                ++blanksInDefinition;
                continue;
            }
            if (blanksInDefinition == 0) {
                if (!definitionStart(line) && !startsBlock(line) && !isLinkDefinition(line)) {
                    note.lines.push_back(dedented(line));
                    continue;
                }
                inDefinition = false;
                definitionMayStart = true;
            } else if (isIndentedLine(line)) {
                note.lines.insert(note.lines.end(), size_t(blanksInDefinition), std::string_view());
                note.lines.push_back(dedented(line));
                blanksInDefinition = 0;
                continue;
            } else {
                inDefinition = false;
                for (int i = 0; i < blanksInDefinition; ++i) {
                    body.write({});
                    topLevel.feed({});
                }
                definitionMayStart = true;
            }
        }

        // Right under a line of a paragraph at the top level, a definition
        // starts as it does after a blank line.
        const bool underText = !tracker.isInsideBlock() && topLevel.isOpen();
        if (options.notes && !tracker.isInsideBlock()) {
            if (definitionMayStart || underText) {
                if (const std::optional<DefinitionStart> start = definitionStart(line)) {
                    PendingNote note;
                    note.definition.kind = start->kind;
                    note.definition.key = normalizedNoteKey(start->label);
                    note.definition.label = std::string(start->label);
                    if (!start->rest.empty()) note.lines.push_back(start->rest);
                    notes.push_back(std::move(note));
                    inDefinition = true;
                    blanksInDefinition = 0;
                    continue;
                }
            }
        }
        if (options.dialect && !tracker.isInsideBlock()) {
            // Definition lists: each term a paragraph of its own, the
            // definitions a list of "+" items; the pass over the tree makes
            // them <dt> and <dd> by their lines.
            if (inDefinitionList && isDefinitionLine(line)) {
                if (!definitionListOpen) {
                    source.definitionLines_.push_back(body.lineCount() + 1);
                    if (looseDefinitions) source.looseDefinitionLines_.push_back(body.lineCount() + 1);
                    definitionListOpen = true;
                }
                std::string item(line);
                item[leadingSpaces(line)] = '+';
                body.write(item);
                tracker.feed(item);
                topLevel.feed(item);
                previousBlank = false;
                continue;
            }
            if (!isBlankLine(line) && previousBlank && !isIndentedLine(line)) inDefinitionList = false;
            if (previousBlank && !isBlankLine(line) && !isIndentedLine(line) && !startsBlock(line)
                && !isDefinitionLine(line) && !isLinkDefinition(line) && !(options.notes && definitionStart(line))) {
                const Terms terms = termsAhead(text, position - (newline == std::string_view::npos ? line.size() : line.size() + 1));
                if (terms.count > 0) {
                    size_t at = position - (newline == std::string_view::npos ? line.size() : line.size() + 1);
                    for (int i = 0; i < terms.count; ++i) {
                        const std::string_view term = lineAt(text, at);
                        if (i > 0) body.write({});
                        source.termLines_.push_back(body.lineCount() + 1);
                        body.write(term);
                        at += term.size() + 1;
                    }
                    if (!terms.blankBefore) body.write({});
                    topLevel.feed({});
                    position = std::min(at, text.size());
                    inDefinitionList = true;
                    definitionListOpen = false;
                    looseDefinitions = terms.blankBefore;
                    previousBlank = true;
                    definitionMayStart = false;
                    continue;
                }
            }
        }
        previousBlank = isBlankLine(line) || isAtxHeading(line);
        bool linkDefinition = false;
        if (!tracker.isInsideBlock() && isLinkDefinition(line)) {
            linkDefinition = true;
            if (underText) {
                body.write({});
                topLevel.feed({});
            }
            std::string_view nextLine;
            if (position < text.size()) {
                const size_t end = text.find('\n', position);
                nextLine = text.substr(position, (end == std::string_view::npos ? text.size() : end) - position);
            }
            bool usedNextLine = false;
            std::vector<LinkAttribute> attributes;
            std::optional<std::string> rewritten;
            if (options.dialect && (linkDefinitionMayStart || definitionMayStart || underText))
                rewritten = definitionWithoutAttributes(line, nextLine, source.linkAttributes_.size(), attributes,
                                                        usedNextLine);
            if (rewritten) {
                source.linkAttributes_.push_back(std::move(attributes));
                if (usedNextLine) position = std::min(text.size(), position + nextLine.size() + 1);
                linkDefinitions.push_back(*rewritten);
                body.write(*rewritten);
                tracker.feed(*rewritten);
                topLevel.feed(*rewritten);
                linkDefinitionMayStart = true;
                definitionMayStart = false;
                continue;
            }
            if (options.notes) linkDefinitions.emplace_back(line);
        }
        std::string rewritten;
        std::string_view written = line;
        if (options.dialect && !tracker.isInsideBlock()) {
            bool blankBefore = false;
            written = listRules.adjust(line, rewritten, blankBefore);
            if (blankBefore) {
                body.write({});
                topLevel.feed({});
            }
        } else {
            listRules.skip();
        }
        if (!tracker.isInsideFence() && tables.needsBreakBefore(written)) {
            body.write({});
            topLevel.feed({});
        }
        if (tracker.isInsideBlock()) topLevel.skip();
        else topLevel.feed(written);
        body.write(written, tracker.isInsideFence());
        tracker.feed(line);
        definitionMayStart = !tracker.isInsideBlock() && (isBlankLine(line) || isAtxHeading(line));
        linkDefinitionMayStart = !tracker.isInsideBlock() && (isBlankLine(line) || isAtxHeading(line) || linkDefinition);
    }

    // The notes form a document of their own, parsed apart from the body so
    // that nothing left open in one can swallow the other. It begins with the
    // body's link definitions; each note follows a separator comment.
    Output notesOutput(source.notesDocument_, source.interestingNoteLines_, options);
    bool hasNoteText = false;
    for (const PendingNote& note : notes) hasNoteText |= note.definition.kind != NoteKind::abbreviation;
    if (hasNoteText)
        for (const std::string& line : linkDefinitions) notesOutput.write(line);

    source.definitions_.reserve(notes.size());
    for (PendingNote& note : notes) {
        NoteDefinition& definition = note.definition;
        if (definition.kind == NoteKind::abbreviation) {
            for (std::string_view line : note.lines) {
                const std::string_view words = trimmedSpaces(line);
                if (words.empty()) continue;
                if (!definition.title.empty()) definition.title += ' ';
                definition.title.append(words);
            }
        } else {
            notesOutput.write({});
            notesOutput.writeRaw(noteSeparatorLine);
            definition.firstLine = notesOutput.lineCount() + 1;
            BlockTracker noteTracker;
            TableBudget noteTables;
            for (std::string_view line : note.lines) {
                if (!noteTracker.isInsideFence() && noteTables.needsBreakBefore(line)) notesOutput.write({});
                notesOutput.write(line, noteTracker.isInsideFence());
                noteTracker.feed(line);
            }
            if (noteTracker.isInsideBlock()) notesOutput.write(noteTracker.closingLine());
            definition.lastLine = notesOutput.lineCount();
        }
        source.definitions_.push_back(std::move(definition));
    }
    // Separator lines count as markers: one swallowed by a raw HTML block a
    // note left open must still be taken out.
    source.hasMarkers_ = body.wroteMarkers() || notesOutput.wroteMarkers() || !source.notesDocument_.empty()
        || !source.linkAttributes_.empty();
    source.hasReferences_ = body.sawReferences() || notesOutput.sawReferences() || !source.definitions_.empty();
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
