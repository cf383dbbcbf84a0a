#pragma once

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/DialectSource.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// The first byte of data at or after from (and before size) that is one of
// those MarkedWriter may have to look at in any mode: a backslash, a pipe, a
// bracket, or a character of a CriticMarkup delimiter. Sixteen bytes at a
// time where the processor allows.
inline size_t nextMarkupCandidate(const char* data, size_t from, size_t size)
{
#if defined(__SSE2__)
    while (from + 16 <= size) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
        __m128i found = _mm_setzero_si128();
        for (char c : {'\\', '|', '[', ']', '{', '+', '-', '~', '=', '<'})
            found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
        if (const int mask = _mm_movemask_epi8(found)) return from + size_t(__builtin_ctz(unsigned(mask)));
        from += 16;
    }
#endif
    for (; from < size; ++from) {
        switch (data[from]) {
        case '\\': case '|': case '[': case ']': case '{': case '+': case '-': case '~': case '=': case '<':
            return from;
        default:
            break;
        }
    }
    return size;
}

// Writes lines with CriticMarkup delimiters and escaped brackets turned into
// markers. A backslash escape is copied whole, so an escaped brace or tilde
// never starts a delimiter. Runs of ordinary bytes are copied in one go.
//
// cmark-gfm's table extension takes time quadratic in the cells of a row, so
// a line never reaches it with more than DialectSource::maxTableColumns + 1
// unescaped pipes (a row of that many columns between a leading and a
// trailing pipe): the pipes past that are escaped, and what follows stays
// the text of the last cell (or of the paragraph, when the line is no table
// row).
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
        if (dialect_) interesting_[size_t(']')] = true;
        if (critic)
            for (char c : {'{', '+', '-', '~', '=', '<'}) interesting_[size_t(c)] = true;
    }

    bool wroteMarkers() const { return wroteMarkers_; }
    bool sawReferences() const { return sawReferences_; }
    bool sawInlineAttributes() const { return sawInlineAttributes_; }

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
        size_t lastEquals = std::string_view::npos; // looked for at the first "](" only
        bool equalsSought = false;

        while (i < n) {
            size_t run = nextMarkupCandidate(line.data(), i, n);
            while (run < n && !interesting_[static_cast<unsigned char>(line[run])])
                run = nextMarkupCandidate(line.data(), run + 1, n);
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
                if (++pipes > DialectSource::maxTableColumns + 1) {
                    // Under a header as wide, a delimiter row ends here, so
                    // that the two still match in cells.
                    if (previousWide_ && isDelimiterRow(line)) break;
                    out_ += '\\';
                }
                out_ += c;
                ++i;
                continue;
            }
            if (c == ']') {
                // "](" with "=" after it: an inline link or image may carry
                // attributes.
                if (next == '(') {
                    if (!equalsSought) {
                        const void* equals = memrchr(line.data(), '=', n);
                        lastEquals = equals ? size_t(static_cast<const char*>(equals) - line.data()) : std::string_view::npos;
                    }
                    equalsSought = true;
                    if (lastEquals != std::string_view::npos && lastEquals > i)
                        sawInlineAttributes_ = interesting = true;
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
        previousWide_ = pipes > DialectSource::maxTableColumns + 1;
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
    bool sawInlineAttributes_ = false;
    bool previousWide_ = false;
};

// Whether a line may be a heading or a heading's underline, inside any
// quotes and list items: such lines need the tree pass too (for labels and
// levels). Guessing too many is harmless.
inline bool mayBeHeading(std::string_view line)
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
class DocumentOutput {
public:
    DocumentOutput(std::string& text, std::vector<int>& interestingLines, const DialectSource::Options& options)
        : text_(text), interestingLines_(interestingLines), writer_(text, options)
    {
    }

    void write(std::string_view line, bool verbatim = false)
    {
        if (origins_) noteOrigin(line);
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
        if (origins_) origins_->push_back(LineOrigin{});
        interestingLines_.push_back(lineCount_ + 1);
        text_.append(line);
        text_ += '\n';
        ++lineCount_;
    }

    // From now on each line written notes where in read it came from (see
    // LineOrigin): the line itself when it is a piece of read, else the
    // line of read being taken (setReadLine), else none.
    void traceOrigins(std::vector<LineOrigin>& origins, std::string_view read)
    {
        origins_ = &origins;
        read_ = read;
    }
    void setReadLine(std::string_view line) { readLine_ = line; }

    int lineCount() const { return lineCount_; }
    bool wroteMarkers() const { return writer_.wroteMarkers(); }
    bool sawReferences() const { return writer_.sawReferences(); }
    bool sawInlineAttributes() const { return writer_.sawInlineAttributes(); }

private:
    std::string& text_;
    std::vector<int>& interestingLines_;
    MarkedWriter writer_;
    int lineCount_ = 0;
    std::vector<LineOrigin>* origins_ = nullptr;
    std::string_view read_;
    std::string_view readLine_;

    void noteOrigin(std::string_view line)
    {
        const auto within = [this](std::string_view piece) {
            return piece.data() >= read_.data() && piece.data() + piece.size() <= read_.data() + read_.size();
        };
        std::string_view from = within(line) ? line : readLine_;
        if (from.data() && within(from))
            origins_->push_back(LineOrigin{size_t(from.data() - read_.data()), from.size()});
        else
            origins_->push_back(LineOrigin{});
    }
};

} // namespace lumora::dialect
