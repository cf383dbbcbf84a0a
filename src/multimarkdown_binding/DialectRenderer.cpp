#include "multimarkdown_binding/DialectRenderer.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/DialectTree.h"
#include "multimarkdown_binding/EngineText.h"
#include "multimarkdown_binding/InlineOutput.h"

#include <QString>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
// The renderer structure of the installed cmark-gfm: our HTML hook writes
// into its buffer.
#include <cmark-gfm/render.h>
// The extension structure: tildes our extension claims are handed on to the
// strikethrough's own function.
#include <cmark-gfm/syntax_extension.h>

#include <array>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lumora {

namespace {

using namespace dialect;

// cmark-gfm keeps its table of inline trigger characters process-wide and
// changes it at the start and end of every parse, so parses must not overlap.
std::mutex& parseMutex()
{
    static std::mutex mutex;
    return mutex;
}

// What our raw-HTML nodes stand for. Each is an HTML_INLINE node (the one
// inline kind a table cell, a link and every other inline container accept)
// bound to our extension, so our HTML hook writes it; its literal is the
// plain text it shows inside an image description.
struct Mark {
    enum class Kind { tag, reference, raw };
    Kind kind;
};

// HTML of our own, written as it stands: math, superscripts, raw source.
struct Raw : Mark {
    std::string html;
};

struct Tag : Mark {
    const char* html;
};

const Tag insertionStart{{Mark::Kind::tag}, "<ins>"};
const Tag insertionEnd{{Mark::Kind::tag}, "</ins>"};
const Tag deletionStart{{Mark::Kind::tag}, "<del>"};
const Tag deletionEnd{{Mark::Kind::tag}, "</del>"};
const Tag substitutionMiddle{{Mark::Kind::tag}, "</del><ins>"};
const Tag highlightStart{{Mark::Kind::tag}, "<mark>"};
const Tag highlightEnd{{Mark::Kind::tag}, "</mark>"};
const Tag commentStart{{Mark::Kind::tag}, "<span class=\"critic comment\">"};
const Tag commentEnd{{Mark::Kind::tag}, "</span>"};

struct Reference : Mark {
    NoteKind noteKind = NoteKind::footnote;
    int note = -1;       // index into the notes; abbreviations have none
    std::string_view title; // abbreviations: the expansion (kept by the conversion)
    std::string key;     // abbreviations: the normalised abbreviation
    bool firstUse = false; // abbreviations: written out the first time
    bool hidden = false;   // citations: "[Not cited][#key]" only lists the source
    std::string locator; // citations
    int number = 0;
    int occurrence = 0;
    bool insideLink = false;
};

struct HeadingLabel {
    std::string id;
};

// What our rendering of a block or a link stands for (see renderNode).
struct BlockStyle {
    enum class Kind {
        figure, tableOfContents, code, rawCode, hiddenCode, linkAttributes, term, definitions, definition, table, cell
    };
    Kind kind;
    std::string html; // the caption, the contents, the code's language
    const std::vector<LinkAttribute>* attributes = nullptr;
    int span = 1;           // cells
    bool header = false;    // cells
    char alignment = '\0';  // cells: 'l', 'c', 'r' or none
};

// A heading as a table of contents lists it.
struct ContentsEntry {
    int level;
    std::string id;
    std::string text;
};

struct Note {
    NoteKind kind = NoteKind::footnote;
    std::string label;
    std::vector<cmark_node*> blocks;
    int number = 0;
    int references = 0;
};

size_t kindIndex(NoteKind kind)
{
    return size_t(kind);
}

// The label a heading's text gives: letters and digits lower-cased, "-",
// "_" and "." kept, everything else (spaces included) left out.
std::string headingLabel(std::string_view text)
{
    bool ascii = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) { ascii = false; break; }
    if (ascii) {
        std::string label;
        for (char c : text) {
            if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.') label += c;
            else if (c >= 'A' && c <= 'Z') label += char(c - 'A' + 'a');
        }
        return label;
    }
    const QString string = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QString label;
    label.reserve(string.size());
    for (qsizetype i = 0; i < string.size(); ++i) {
        char32_t cp = string.at(i).unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < string.size() && string.at(i + 1).isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(string.at(i), string.at(i + 1));
            ++i;
        }
        if (QChar::isLetterOrNumber(cp)) {
            const char32_t lower = QChar::toLower(cp);
            if (QChar::requiresSurrogates(lower)) {
                label += QChar(QChar::highSurrogate(lower));
                label += QChar(QChar::lowSurrogate(lower));
            } else {
                label += QChar(char16_t(lower));
            }
        } else if (cp == '-' || cp == '_' || cp == '.') {
            label += QChar(char16_t(cp));
        }
    }
    return label.toStdString();
}

void putHtml(cmark_strbuf* html, std::string_view text)
{
    cmark_strbuf_put(html, reinterpret_cast<const unsigned char*>(text.data()), bufsize_t(text.size()));
}

class Conversion {
public:
    Conversion(const DialectSource& source, const DialectRenderer::Options& options)
        : source_(source),
          options_(options),
          restoring_(source.hasMarkers()),
          findingReferences_(options.notes && source.hasReferences()),
          typography_(options.quotes)
    {
    }

    ~Conversion()
    {
        for (Note& note : notes_)
            for (cmark_node* block : note.blocks)
                if (block->parent == nullptr) cmark_node_free(block);
        // The table extension frees what it keeps in its own nodes: the
        // nodes we render are handed back to it first.
        if (cmark_syntax_extension* tables = cmark_find_syntax_extension("table"))
            for (cmark_node* node : tableNodes_) cmark_node_set_syntax_extension(node, tables);
        if (root_) cmark_node_free(root_);
        if (notesRoot_) cmark_node_free(notesRoot_);
        if (parser_) cmark_parser_free(parser_);
        if (notesParser_) cmark_parser_free(notesParser_);
        if (extension_) cmark_syntax_extension_free(cmark_get_default_mem_allocator(), extension_);
    }

    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    std::string run()
    {
        parse();
        registerDefinitions();
        if (options_.dialect) {
            buildDefinitionLists();
            styleTables();
        }
        if (options_.labels) labelHeadings();
        copyBudget_ = 4 * (source_.document().size() + source_.notesDocument().size()) + (size_t(1) << 20);
        findingReferences_ = (options_.notes && source_.hasReferences())
            || (options_.dialect && (!crossReferences_.empty() || hasVariables()));
        wholeTree_ = options_.smart || options_.dialect;
        part_ = DialectSource::Part::body;
        walk(root_);
        fillTablesOfContents();
        spanColumns();
        part_ = DialectSource::Part::notes;
        // Notes are read in the order of their numbers; reading one may
        // number further notes, which join the end of the queue.
        for (size_t i = 0; i < order_.size(); ++i) {
            const std::vector<cmark_node*> blocks = notes_[size_t(order_[i])].blocks;
            for (cmark_node* block : blocks) walk(block);
        }
        appendNotesList(NoteKind::footnote, "footnotes", "fn", "footnote");
        appendNotesList(NoteKind::citation, "citations", "cn", "citation");
        appendNotesList(NoteKind::glossary, "glossary", "gn", "glossary");

        char* html = cmark_render_html(root_, cmarkOptions(), cmark_parser_get_syntax_extensions(parser_));
        std::string result(html ? html : "");
        if (html) cmark_get_default_mem_allocator()->free(html);
        return result;
    }

private:
    int cmarkOptions() const
    {
        // Smart typography is ours (see SmartTypography.h): cmark's knows
        // neither the quotes of other languages nor MultiMarkdown's rules.
        return CMARK_OPT_UNSAFE | CMARK_OPT_STRIKETHROUGH_DOUBLE_TILDE;
    }

    // --- Parsing -----------------------------------------------------------

    cmark_parser* newParser() const
    {
        cmark_parser* parser = cmark_parser_new(cmarkOptions());
        // Ours first: a single tilde is a subscript's, a double one the
        // strikethrough's.
        if (options_.critic || options_.dialect) cmark_parser_attach_syntax_extension(parser, extension_);
        for (const char* name : {"table", "strikethrough", "autolink"})
            if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
                cmark_parser_attach_syntax_extension(parser, extension);
        return parser;
    }

    void parse()
    {
        std::lock_guard<std::mutex> lock(parseMutex());
        cmark_gfm_core_extensions_ensure_registered();

        extension_ = cmark_syntax_extension_new("lumora-multimarkdown");
        cmark_syntax_extension_set_private(extension_, this, [](cmark_mem*, void*) {});
        cmark_syntax_extension_set_html_render_func(extension_, renderNode);
        if (options_.critic || options_.dialect) {
            std::vector<unsigned char> chars;
            if (options_.critic)
                for (unsigned c = insertionOpen; c <= commentClose; ++c)
                    if (isMarker(static_cast<unsigned char>(c))) chars.push_back(static_cast<unsigned char>(c));
            if (options_.dialect)
                for (unsigned char c : {(unsigned char)'$', (unsigned char)'^', (unsigned char)'~', (unsigned char)inlineMathOpen, (unsigned char)displayMathOpen})
                    chars.push_back(c);
            cmark_llist* triggers = nullptr;
            for (unsigned char c : chars)
                triggers = cmark_llist_append(cmark_get_default_mem_allocator(), triggers,
                                              reinterpret_cast<void*>(uintptr_t(c)));
            cmark_syntax_extension_set_special_inline_chars(extension_, triggers);
            cmark_syntax_extension_set_match_inline_func(extension_, matchInline);
            cmark_syntax_extension_set_inline_from_delim_func(extension_, insertCritic);
        }
        parser_ = newParser();
        const std::string& document = source_.document();
        cmark_parser_feed(parser_, document.data(), document.size());
        root_ = cmark_parser_finish(parser_);
        const std::string& notes = source_.notesDocument();
        if (!notes.empty()) {
            notesParser_ = newParser();
            cmark_parser_feed(notesParser_, notes.data(), notes.size());
            notesRoot_ = cmark_parser_finish(notesParser_);
        }
    }

    cmark_node* newMark(const Mark* mark, std::string_view plain = {}) const
    {
        cmark_node* node = newHtmlInline(std::string(plain));
        cmark_node_set_syntax_extension(node, extension_);
        cmark_node_set_user_data(node, const_cast<Mark*>(mark));
        return node;
    }

    static cmark_node* matchInline(cmark_syntax_extension* extension, cmark_parser* parser, cmark_node* parent,
                                   unsigned char c, cmark_inline_parser* inlineParser)
    {
        // cmark asks every extension about every character any of them
        // claims ("w" and ":" for the autolinker among them).
        const bool critic = c <= commentClose && isMarker(c);
        if (!critic && c != '$' && c != '^' && c != '~' && c != inlineMathOpen && c != displayMathOpen) return nullptr;
        auto* self = static_cast<Conversion*>(cmark_syntax_extension_get_private(extension));
        if (critic) {
            if (!self->options_.critic) return nullptr;
            return matchCriticMarker(extension, parser, parent, c, inlineParser);
        }
        if (!self->options_.dialect) return nullptr;
        return self->matchDialectSpan(c, parent, inlineParser);
    }

    // Where the next closing delimiter of one kind lies at or after from in
    // the paragraph being parsed. The answer is kept, so that many opening
    // delimiters before one closing one (or none) cost one scan in all.
    struct CloserSearch {
        const cmark_node* paragraph = nullptr;
        const unsigned char* data = nullptr;
        size_t from = 0;
        size_t found = std::string::npos;
    };

    template <typename IsCloser>
    static size_t nextCloser(CloserSearch& search, const cmark_node* paragraph, const unsigned char* data,
                             size_t length, size_t from, IsCloser isCloser)
    {
        const bool same = search.paragraph == paragraph && search.data == data;
        if (same && from >= search.from && (search.found == std::string::npos || from <= search.found))
            return search.found;
        size_t at = from;
        while (at < length && !isCloser(at)) ++at;
        search = CloserSearch{paragraph, data, from, at < length ? at : std::string::npos};
        return search.found;
    }

    // Math ("$...$", "$$...$$", "\\(...\\)", "\\[...\\]"), superscripts
    // ("^x^") and subscripts ("~x~") become our raw HTML; nothing when the
    // character opens none of them here.
    cmark_node* matchDialectSpan(unsigned char c, const cmark_node* paragraph, cmark_inline_parser* inlineParser)
    {
        const cmark_chunk* chunk = cmark_inline_parser_get_chunk(inlineParser);
        const unsigned char* data = chunk->data;
        const size_t length = size_t(chunk->len);
        const size_t at = size_t(cmark_inline_parser_get_offset(inlineParser));
        const unsigned char before = at > 0 ? data[at - 1] : ' ';
        auto isSpace = [](unsigned char b) { return b == ' ' || b == '\t' || b == '\n'; };
        auto isAlnum = [](unsigned char b) {
            return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
        };

        size_t contentStart = 0;
        size_t contentEnd = 0;
        size_t end = 0; // after the closing delimiter
        std::string_view open;
        std::string_view close;
        const char* element = nullptr;
        if (c == inlineMathOpen || c == displayMathOpen) {
            const unsigned char closer = c == inlineMathOpen ? inlineMathClose : displayMathClose;
            CloserSearch& search = c == inlineMathOpen ? inlineMathSearch_ : displayMathSearch_;
            const size_t found = nextCloser(search, paragraph, data, length, at + 1, [&](size_t i) { return data[i] == closer; });
            if (found == std::string::npos) return nullptr;
            contentStart = at + 1;
            contentEnd = found;
            end = found + 1;
            open = c == inlineMathOpen ? "\\(" : "\\[";
            close = c == inlineMathOpen ? "\\)" : "\\]";
        } else if (c == '$') {
            const bool display = at + 1 < length && data[at + 1] == '$';
            const size_t width = display ? 2 : 1;
            if (isAlnum(before) || before == '$' || at + width >= length || isSpace(data[at + width])) return nullptr;
            CloserSearch& search = display ? displayDollarSearch_ : dollarSearch_;
            const size_t found = nextCloser(search, paragraph, data, length, at + width + 1, [&](size_t i) {
                if (data[i] != '$' || isSpace(data[i - 1]) || data[i - 1] == '\\') return false;
                if (display) return i + 1 < length && data[i + 1] == '$';
                const unsigned char after = i + 1 < length ? data[i + 1] : ' ';
                return after != '$' && !(after >= '0' && after <= '9');
            });
            if (found == std::string::npos) return nullptr;
            contentStart = at + width;
            contentEnd = found;
            end = found + width;
            open = display ? "\\[" : "\\(";
            close = display ? "\\]" : "\\)";
        } else if (c == '^' || c == '~') {
            // No white space inside; a double tilde is the strikethrough's,
            // a caret after a bracket a footnote's.
            if (c == '~' && (before == '~' || (at + 1 < length && data[at + 1] == '~'))) return nullptr;
            if (c == '^' && before == '[') return nullptr;
            size_t i = at + 1;
            while (i < length && i - at <= scriptLimit && data[i] != c && !isSpace(data[i])) ++i;
            if (i >= length || data[i] != c || i == at + 1) return nullptr;
            if (c == '~' && i + 1 < length && data[i + 1] == '~') return nullptr;
            contentStart = at + 1;
            contentEnd = i;
            end = i + 1;
            element = c == '^' ? "sup" : "sub";
        } else {
            return nullptr;
        }

        const std::string source = restoredText(
            std::string_view(reinterpret_cast<const char*>(data) + contentStart, contentEnd - contentStart), false);
        Raw& raw = raws_.emplace_back();
        raw.kind = Mark::Kind::raw;
        if (element) {
            raw.html = std::string("<") + element + ">";
            appendEscapedHtml(raw.html, source);
            raw.html += std::string("</") + element + ">";
        } else {
            raw.html = "<span class=\"math\">";
            appendEscapedHtml(raw.html, std::string(open) + source + std::string(close));
            raw.html += "</span>";
        }
        cmark_inline_parser_set_offset(inlineParser, int(end));
        return newMark(&raw, source);
    }

    // A CriticMarkup marker met by the inline parser becomes a text node of
    // its own and goes on the delimiter stack.
    static cmark_node* matchCriticMarker(cmark_syntax_extension*, cmark_parser*, cmark_node*, unsigned char c,
                                         cmark_inline_parser* inlineParser)
    {
        if (c < insertionOpen || c > commentClose || !isMarker(c)) return nullptr;
        cmark_inline_parser_advance_offset(inlineParser);
        // The marker stays in the text: should it pair with nothing, the
        // pass turns it back into what the writer typed (after smart
        // typography, which must not make "{--" a dash).
        cmark_node* node = newText(std::string(1, char(c)));
        switch (c) {
        case insertionOpen:
        case deletionOpen:
        case substitutionOpen:
        case highlightOpen:
        case commentOpen:
            cmark_inline_parser_push_delimiter(inlineParser, c, 1, 0, node);
            break;
        case substitutionSplit:
            cmark_inline_parser_push_delimiter(inlineParser, c, 0, 0, node);
            break;
        default:
            // A closer carries its opener's marker, so that the two pair up.
            cmark_inline_parser_push_delimiter(inlineParser, static_cast<unsigned char>(c - 1), 0, 1, node);
            break;
        }
        return node;
    }

    // An opener and a closer of one kind met: the text between them becomes
    // the change (or is kept or dropped when changes are accepted or
    // rejected). Every delimiter between them leaves the stack, so each is
    // looked at once; a substitution without "~>" is left as written.
    static delimiter* insertCritic(cmark_syntax_extension* extension, cmark_parser* parser,
                                   cmark_inline_parser* inlineParser, delimiter* opener, delimiter* closer)
    {
        // cmark hands every delimiter of a character to the first extension
        // that claims it: tildes we leave to the strikethrough are its.
        if (opener->delim_char == '~') {
            cmark_syntax_extension* strikethrough = cmark_find_syntax_extension("strikethrough");
            if (!strikethrough || !strikethrough->insert_inline_from_delim) return closer->next;
            return strikethrough->insert_inline_from_delim(strikethrough, parser, inlineParser, opener, closer);
        }
        auto* self = static_cast<Conversion*>(cmark_syntax_extension_get_private(extension));
        delimiter* const after = closer->next;
        const unsigned char kind = opener->delim_char;
        cmark_node* const open = opener->inl_text;
        cmark_node* const close = closer->inl_text;

        cmark_node* split = nullptr;
        for (delimiter* d = closer; d && d != opener;) {
            delimiter* previous = d->previous;
            if (d->delim_char == substitutionSplit && d->inl_text->parent == open->parent) split = d->inl_text;
            cmark_inline_parser_remove_delimiter(inlineParser, d);
            d = previous;
        }
        cmark_inline_parser_remove_delimiter(inlineParser, opener);
        if (kind == substitutionOpen && !split) return after;

        const bool accept = self->options_.criticAccept;
        const bool reject = self->options_.criticReject && !accept;
        const bool marking = !accept && !reject;
        const Tag* startTag = nullptr;
        const Tag* endTag = nullptr;
        switch (kind) {
        case insertionOpen:
            if (reject) freeBetween(open, close);
            if (marking) startTag = &insertionStart, endTag = &insertionEnd;
            break;
        case deletionOpen:
            if (accept) freeBetween(open, close);
            if (marking) startTag = &deletionStart, endTag = &deletionEnd;
            break;
        case highlightOpen:
            if (marking) startTag = &highlightStart, endTag = &highlightEnd;
            break;
        case commentOpen:
            if (!marking) freeBetween(open, close);
            else startTag = &commentStart, endTag = &commentEnd;
            break;
        case substitutionOpen:
            if (accept) freeBetween(open, split);
            if (reject) freeBetween(split, close);
            if (marking) {
                startTag = &deletionStart, endTag = &insertionEnd;
                cmark_node_insert_before(split, self->newMark(&substitutionMiddle));
            }
            cmark_node_free(split);
            break;
        default:
            break;
        }
        if (startTag) {
            cmark_node_insert_before(open, self->newMark(startTag));
            cmark_node_insert_before(close, self->newMark(endTag));
        }
        cmark_node_free(open);
        cmark_node_free(close);
        return after;
    }

    // --- Definitions -------------------------------------------------------

    // Abbreviations and glossary terms marked wherever they stand in the
    // text are single words of letters, digits, periods and hyphens.
    static bool isWordTerm(std::string_view label)
    {
        if (label.empty() || label.size() > 64) return false;
        for (char c : label)
            if (!isWordTermChar(c)) return false;
        return true;
    }

    static bool isWordTermChar(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
            || static_cast<unsigned char>(c) >= 0x80;
    }

    void registerDefinitions()
    {
        struct Region {
            int firstLine;
            int lastLine;
            int note; // -1: a repeated definition, dropped
        };
        std::vector<Region> regions;
        for (const NoteDefinition& definition : source_.definitions()) {
            if (definition.kind == NoteKind::abbreviation) {
                abbreviations_.try_emplace(definition.key, definition.title);
                if (options_.dialect && isWordTerm(definition.label))
                    wordTerms_.try_emplace(definition.label, WordTerm{NoteKind::abbreviation, -1, definition.key});
                continue;
            }
            auto& keys = keys_[kindIndex(definition.kind)];
            const auto [it, added] = keys.try_emplace(definition.key, int(notes_.size()));
            if (added) notes_.push_back(Note{definition.kind, definition.label, {}, 0, 0});
            if (options_.dialect && definition.kind == NoteKind::glossary && isWordTerm(definition.label))
                wordTerms_.try_emplace(definition.label, WordTerm{NoteKind::glossary, it->second, definition.key});
            regions.push_back({definition.firstLine, definition.lastLine, added ? it->second : -1});
        }
        for (const auto& [key, title] : abbreviations_) keyLength_[kindIndex(NoteKind::abbreviation)] =
            std::max(keyLength_[kindIndex(NoteKind::abbreviation)], key.size());
        for (size_t kind = 0; kind < 3; ++kind)
            for (const auto& [key, note] : keys_[kind]) keyLength_[kind] = std::max(keyLength_[kind], key.size());

        if (!notesRoot_) return;
        size_t region = 0;
        for (cmark_node* node = notesRoot_->first_child; node;) {
            cmark_node* next = node->next;
            if (node->type == CMARK_NODE_HTML_BLOCK
                && literalOf(node).substr(0, noteSeparatorLine.size()) == noteSeparatorLine) {
                cmark_node_free(node);
            } else {
                while (region < regions.size() && regions[region].lastLine < node->start_line) ++region;
                if (region < regions.size() && regions[region].firstLine <= node->start_line) {
                    cmark_node_unlink(node);
                    if (regions[region].note >= 0) notes_[size_t(regions[region].note)].blocks.push_back(node);
                    else cmark_node_free(node);
                }
            }
            node = next;
        }
    }

    // --- The pass over the tree --------------------------------------------

    void walk(cmark_node* root)
    {
        cmark_node* node = root;
        bool entering = true;
        while (true) {
            if (entering) {
                if (enter(node) && node->first_child) {
                    node = node->first_child;
                    continue;
                }
            }
            leave(node);
            if (node == root) break;
            if (node->next) {
                node = node->next;
                entering = true;
            } else {
                node = node->parent;
                entering = false;
            }
        }
    }

    static bool isBlock(const cmark_node* node)
    {
        return (node->type & CMARK_NODE_TYPE_MASK) == CMARK_NODE_TYPE_BLOCK;
    }

    static bool holdsBlocks(const cmark_node* node)
    {
        switch (node->type) {
        case CMARK_NODE_DOCUMENT:
        case CMARK_NODE_BLOCK_QUOTE:
        case CMARK_NODE_LIST:
        case CMARK_NODE_ITEM:
        case CMARK_NODE_CUSTOM_BLOCK:
            return true;
        default:
            return false;
        }
    }

    // A block none of whose lines holds a marker, reference syntax or a
    // heading needs no pass. (A table is always entered: cmark counts its
    // lines from below its header row. cmark can also end a block's lines
    // one short, for an HTML block closed by its end marker, so the line
    // after counts too.)
    bool needsNoPass(const cmark_node* node) const
    {
        switch (node->type) {
        case CMARK_NODE_PARAGRAPH:
        case CMARK_NODE_CODE_BLOCK:
        case CMARK_NODE_HTML_BLOCK:
        case CMARK_NODE_BLOCK_QUOTE:
        case CMARK_NODE_LIST:
        case CMARK_NODE_ITEM:
            return node->start_line > 0 && node->end_line >= node->start_line
                && !source_.hasInterestingLine(part_, node->start_line, node->end_line + 1);
        default:
            return false;
        }
    }

    // Does the work of entering node; false when its children need none.
    bool enter(cmark_node* node)
    {
        if (!wholeTree_ && needsNoPass(node)) return false;
        switch (node->type) {
        case CMARK_NODE_TEXT:
            if (!wordTerms_.empty() && linkDepth_ == 0) markWordTerms(node);
            if (options_.smart) smarten(node);
            // Escaped brackets and quotes stayed markers so that the bracket
            // scan and smart typography would pass them by; now they are
            // what was typed. (Other markers reach text only through
            // extensions that read the raw line, such as the autolinker.)
            if (restoreHere_) restoreLiteral(node, &node->as.literal, true);
            return false;
        case CMARK_NODE_SOFTBREAK:
        case CMARK_NODE_LINEBREAK:
            typography_.passSpace();
            return false;
        case CMARK_NODE_HTML_INLINE:
            typography_.passAtom();
            if (node->extension == extension_) {
                auto* mark = static_cast<Mark*>(node->user_data);
                if (mark && mark->kind == Mark::Kind::reference) enterReference(node, *static_cast<Reference*>(mark));
                return false;
            }
            if (restoreHere_) restoreLiteral(node, &node->as.literal, false);
            return false;
        case CMARK_NODE_CODE:
            typography_.passAtom();
            if (restoreHere_) restoreLiteral(node, &node->as.literal, false);
            return false;
        case CMARK_NODE_HTML_BLOCK:
            if (restoring_) restoreLiteral(node, &node->as.literal, false);
            return false;
        case CMARK_NODE_CODE_BLOCK:
            if (restoring_) {
                restoreLiteral(node, &node->as.code.literal, false);
                if (containsMarker(node->as.code.info.data, size_t(node->as.code.info.len))) {
                    const std::string info = restoredText(viewOf(node->as.code.info), true);
                    cmark_node_set_fence_info(node, info.c_str());
                }
            }
            if (options_.dialect) styleCodeBlock(node);
            return false;
        case CMARK_NODE_LINK:
        case CMARK_NODE_IMAGE:
            if (node->type == CMARK_NODE_LINK) ++linkDepth_;
            if (!source_.linkAttributes().empty()) takeLinkAttributes(node);
            // A destination or title may come from a definition elsewhere.
            if (!restoring_) break;
            if (containsMarker(node->as.link.url.data, size_t(node->as.link.url.len))) {
                const std::string url = restoredText(viewOf(node->as.link.url), true);
                cmark_node_set_url(node, url.c_str());
            }
            if (containsMarker(node->as.link.title.data, size_t(node->as.link.title.len))) {
                const std::string title = restoredText(viewOf(node->as.link.title), true);
                cmark_node_set_title(node, title.c_str());
            }
            break;
        default:
            break;
        }
        if (isBlock(node)) {
            typography_.startBlock();
            // Only the blocks with a marked line can hold a marker.
            restoreHere_ = restoring_ && (!source_.linkAttributes().empty() || !needsNoPass(node));
        }
        if (node->type == CMARK_NODE_PARAGRAPH && options_.dialect && part_ == DialectSource::Part::body
            && node->first_child && node->first_child == node->last_child && node->first_child->type == CMARK_NODE_TEXT) {
            if (const std::optional<std::pair<int, int>> levels = contentsLevels(literalOf(node->first_child))) {
                contents_.push_back({node, levels->first, levels->second});
                return false;
            }
        }
        if (node->first_child && !holdsBlocks(node)) {
            if (options_.dialect) convertRawSpans(node);
            if (findingReferences_) findReferences(node);
        }
        return true;
    }

    void leave(cmark_node* node)
    {
        if (node->type == CMARK_NODE_LINK) --linkDepth_;
        else if (node->type == CMARK_NODE_HEADING) labelHeading(node);
        else if (node->type == CMARK_NODE_PARAGRAPH && options_.dialect) styleParagraph(node);
    }

    // --- Smart typography and marked words ---------------------------------

    void smarten(cmark_node* node)
    {
        if (typography_.apply(literalOf(node), nextCharacter(node), smartText_))
            cmark_node_set_literal(node, smartText_.c_str());
    }

    // The character after node in its block: the start of the text that
    // follows, a space at a line break or the block's end, a letter for
    // anything else.
    static char nextCharacter(const cmark_node* node)
    {
        const cmark_node* at = node;
        while (!at->next) {
            at = at->parent;
            if (!at || isBlock(at)) return ' ';
        }
        const cmark_node* next = at->next;
        if (next->type == CMARK_NODE_TEXT) return next->as.literal.len > 0 ? char(next->as.literal.data[0]) : ' ';
        if (next->type == CMARK_NODE_SOFTBREAK || next->type == CMARK_NODE_LINEBREAK) return ' ';
        return 'a';
    }

    // The first defined abbreviation or glossary term standing as a word of
    // node's text becomes a reference; the text after it follows as a text
    // node of its own, which the pass reads next.
    void markWordTerms(cmark_node* node)
    {
        const std::string_view text = literalOf(node);
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && !isWordTermChar(text[i])) ++i;
            const size_t start = i;
            while (i < text.size() && isWordTermChar(text[i])) ++i;
            if (start == i) break;
            std::string_view word = text.substr(start, i - start);
            auto found = wordTerms_.find(std::string(word));
            while (found == wordTerms_.end() && !word.empty() && (word.back() == '.' || word.back() == '-')) {
                word.remove_suffix(1);
                found = wordTerms_.find(std::string(word));
            }
            if (found == wordTerms_.end()) continue;
            const WordTerm& term = found->second;
            cmark_node* reference = makeReference(term.kind, term.note, {}, word);
            if (term.kind == NoteKind::abbreviation) {
                auto* mark = static_cast<Reference*>(reference->user_data);
                mark->title = abbreviations_[term.key];
                mark->key = term.key;
            }
            const std::string rest(text.substr(start + word.size()));
            const std::string before(text.substr(0, start));
            cmark_node_insert_after(node, reference);
            if (!rest.empty()) cmark_node_insert_after(reference, newText(rest));
            cmark_node_set_literal(node, before.c_str());
            return;
        }
    }

    // --- Raw source, code blocks, figures, tables of contents -------------

    // "`source`{=html}" (or "{=*}") passes its source through; raw source
    // for other formats is left out.
    void convertRawSpans(cmark_node* container)
    {
        for (cmark_node* child = container->first_child; child;) {
            cmark_node* next = child->next;
            if (child->type == CMARK_NODE_CODE && next && next->type == CMARK_NODE_TEXT) {
                const std::string_view after = literalOf(next);
                const size_t close = after.substr(0, 32).find('}');
                const std::optional<bool> html = after.substr(0, 2) == "{=" && close != std::string_view::npos
                    ? rawFormatIsHtml(after.substr(2, close - 2))
                    : std::nullopt;
                if (html) {
                    if (*html) {
                        cmark_node* raw = cmark_node_new(CMARK_NODE_HTML_INLINE);
                        const std::string source = restoredText(literalOf(child), false);
                        cmark_node_set_literal(raw, source.c_str());
                        cmark_node_insert_before(child, raw);
                    }
                    cmark_node_free(child);
                    const std::string rest(after.substr(close + 1));
                    if (rest.empty()) {
                        cmark_node* emptied = next;
                        next = next->next;
                        cmark_node_free(emptied);
                    } else {
                        cmark_node_set_literal(next, rest.c_str());
                    }
                }
            }
            child = next;
        }
    }

    // Whether a raw source format ("html", "*", "latex", ...) is HTML's;
    // nothing for what names no format.
    static std::optional<bool> rawFormatIsHtml(std::string_view format)
    {
        if (format == "*" || format == "html") return true;
        if (format.empty()) return std::nullopt;
        for (char c : format)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return std::nullopt;
        return false;
    }

    // Fenced code gets its language as its class, as "<code class="perl">";
    // fenced raw source ("```{=html}") passes through or is left out.
    void styleCodeBlock(cmark_node* node)
    {
        const std::string_view info = trimmedSpaces(viewOf(node->as.code.info));
        if (info.empty()) return;
        BlockStyle& style = styles_.emplace_back();
        const std::string_view word = info.substr(0, info.find_first_of(" \t"));
        const std::optional<bool> html = word.size() > 3 && word.substr(0, 2) == "{=" && word.back() == '}'
            ? rawFormatIsHtml(word.substr(2, word.size() - 3))
            : std::nullopt;
        if (html) {
            style.kind = *html ? BlockStyle::Kind::rawCode : BlockStyle::Kind::hiddenCode;
        } else {
            style.kind = BlockStyle::Kind::code;
            style.html = std::string(word);
        }
        cmark_node_set_syntax_extension(node, extension_);
        cmark_node_set_user_data(node, &style);
    }

    // A paragraph of one image is a figure, captioned with the image's
    // description (or else its title). (A paragraph of "{{TOC}}" alone
    // becomes a table of contents once every heading is known.)
    void styleParagraph(cmark_node* paragraph)
    {
        cmark_node* child = paragraph->first_child;
        if (!child || child != paragraph->last_child) return;
        if (child->type != CMARK_NODE_IMAGE) return;
        BlockStyle& style = styles_.emplace_back();
        style.kind = BlockStyle::Kind::figure;
        for (cmark_node* part = child->first_child; part; part = part->next) {
            char* html = cmark_render_html(part, cmarkOptions(), cmark_parser_get_syntax_extensions(parser_));
            if (html) {
                style.html += html;
                cmark_get_default_mem_allocator()->free(html);
            }
        }
        if (trimmedSpaces(style.html).empty()) {
            style.html.clear();
            appendEscapedHtml(style.html, viewOf(child->as.link.title));
        }
        cmark_node_set_syntax_extension(paragraph, extension_);
        cmark_node_set_user_data(paragraph, &style);
    }

    // "{{TOC}}", "{{TOC:3}}" (levels 1 to 3) or "{{TOC:2-3}}".
    static std::optional<std::pair<int, int>> contentsLevels(std::string_view text)
    {
        text = trimmedSpaces(text);
        if (text.substr(0, 5) != "{{TOC" || text.size() < 7 || text.substr(text.size() - 2) != "}}") return std::nullopt;
        const std::string_view inside = text.substr(5, text.size() - 7);
        if (inside.empty()) return std::pair{1, 6};
        auto digit = [](char c) { return c >= '1' && c <= '6'; };
        if (inside.size() == 2 && inside[0] == ':' && digit(inside[1])) return std::pair{1, inside[1] - '0'};
        if (inside.size() == 4 && inside[0] == ':' && digit(inside[1]) && inside[2] == '-' && digit(inside[3])
            && inside[1] <= inside[3])
            return std::pair{inside[1] - '0', inside[3] - '0'};
        return std::nullopt;
    }

    void fillTablesOfContents()
    {
        // Together the tables list each heading a few times at most: a text
        // of many "{{TOC}}" lines must not make output the square of its size.
        size_t budget = 2 * contentsEntries_.size() + 1000;
        for (const ContentsPlaceholder& placeholder : contents_) {
            std::string html = "<div class=\"TOC\">\n\n<ul>\n";
            std::vector<int> levels;
            size_t listed = 0;
            for (const ContentsEntry& entry : contentsEntries_) {
                if (entry.level < placeholder.minimum || entry.level > placeholder.maximum) continue;
                if (++listed > budget) break;
                if (levels.empty()) {
                    levels.push_back(entry.level);
                } else if (entry.level > levels.back()) {
                    html += "\n<ul>\n";
                    levels.push_back(entry.level);
                } else {
                    while (levels.size() > 1 && entry.level <= levels[levels.size() - 2]) {
                        html += "</li>\n</ul>\n";
                        levels.pop_back();
                    }
                    levels.back() = entry.level;
                    html += "</li>\n";
                }
                html += "<li>";
                if (!entry.id.empty()) {
                    html += "<a href=\"#";
                    appendEscapedHtml(html, entry.id);
                    html += "\">";
                }
                appendEscapedHtml(html, entry.text);
                if (!entry.id.empty()) html += "</a>";
            }
            if (listed > budget) break;
            budget -= listed;
            if (!levels.empty()) html += "</li>\n";
            for (size_t i = 1; i < levels.size(); ++i) html += "</ul>\n</li>\n";
            html += "</ul>\n</div>";
            cmark_node* paragraph = placeholder.paragraph;
            while (paragraph->first_child) cmark_node_free(paragraph->first_child);
            BlockStyle& style = styles_.emplace_back();
            style.kind = BlockStyle::Kind::tableOfContents;
            style.html = std::move(html);
            cmark_node_set_syntax_extension(paragraph, extension_);
            cmark_node_set_user_data(paragraph, &style);
        }
    }

    // A link or image whose definition had attributes: its destination ends
    // in attributesMark and their number.
    void takeLinkAttributes(cmark_node* node)
    {
        const std::string_view url = viewOf(node->as.link.url);
        const size_t mark = url.find(char(attributesMark));
        if (mark == std::string_view::npos) return;
        size_t number = 0;
        size_t i = mark + 1;
        for (; i < url.size() && url[i] >= '0' && url[i] <= '9' && number < (size_t(1) << 40); ++i)
            number = number * 10 + size_t(url[i] - '0');
        std::string plain(url.substr(0, mark));
        plain.append(url.substr(i));
        cmark_node_set_url(node, plain.c_str());
        if (number >= source_.linkAttributes().size()) return;
        BlockStyle& style = styles_.emplace_back();
        style.kind = BlockStyle::Kind::linkAttributes;
        style.attributes = &source_.linkAttributes()[number];
        cmark_node_set_syntax_extension(node, extension_);
        cmark_node_set_user_data(node, &style);
    }

    // Markers in text cmark did not parse as inlines go back to what the
    // writer typed.
    static void restoreLiteral(cmark_node* node, const cmark_chunk* literal, bool unescaped)
    {
        if (!containsMarker(literal->data, size_t(literal->len))) return;
        const std::string text = restoredText(viewOf(*literal), unescaped);
        cmark_node_set_literal(node, text.c_str());
    }

    // --- References --------------------------------------------------------

    // The bracket pairs cmark left as text among container's children
    // ("[^id]", "[#key]", "[locator][#key]", "[?term]", "[?(term) text]",
    // "[>ABBR]", "[>(ABBR) text]", "[^inline note]") become references. Pairs
    // are matched with a stack, innermost first; a recognised pair collapses
    // into one node before the pairs around it are looked at.
    void findReferences(cmark_node* container)
    {
        bool hasBracket = false;
        for (cmark_node* child = container->first_child; child && !hasBracket; child = child->next)
            hasBracket = child->type == CMARK_NODE_TEXT && child->as.literal.len > 0
                && std::memchr(child->as.literal.data, '[', size_t(child->as.literal.len));
        if (!hasBracket) return;

        InlineOutput output;
        std::vector<InlineOutput::Opening> openings;
        std::optional<InlineOutput::Opening> lastOpening; // the last pair left as written
        int64_t lastClosing = -1;
        bool changed = false;
        for (cmark_node* child = container->first_child; child; child = child->next) {
            if (child->type != CMARK_NODE_TEXT) {
                output.appendAtom(child);
                continue;
            }
            const std::string_view text = literalOf(child);
            size_t i = 0;
            while (i < text.size()) {
                size_t run = i;
                while (run < text.size() && text[run] != '[' && text[run] != ']') ++run;
                output.appendText(child, i, run);
                if (run == text.size()) break;
                i = run + 1;
                if (text[run] == '[') {
                    output.appendText(child, run, run + 1);
                    openings.push_back(output.openingAtEnd());
                    continue;
                }
                if (!openings.empty()) {
                    const InlineOutput::Opening open = openings.back();
                    openings.pop_back();
                    const bool hasLocator = lastOpening && lastClosing + 1 == open.position;
                    if (recognize(output, open, hasLocator ? &*lastOpening : nullptr)) {
                        changed = true;
                        lastOpening.reset();
                        // "[Heading][]": the empty pair goes with the cross-reference.
                        const cmark_node* made = output.pieces.back().atom;
                        if (made && made->type == CMARK_NODE_LINK && text.substr(i, 2) == "[]") i += 2;
                        continue;
                    }
                    lastOpening = open;
                    lastClosing = output.length;
                }
                output.appendText(child, run, run + 1);
            }
        }
        if (!changed) return;

        // The container's children become the output: untouched text nodes
        // stay, the others are made anew.
        std::vector<cmark_node*> previous;
        for (cmark_node* child = container->first_child; child; child = child->next) previous.push_back(child);
        for (cmark_node* child : previous) cmark_node_unlink(child);
        for (const InlineOutput::Piece& piece : output.pieces) {
            if (piece.atom) {
                cmark_node_append_child(container, piece.atom);
            } else if (piece.begin == 0 && piece.end == size_t(piece.origin->as.literal.len)
                       && piece.origin->parent == nullptr) {
                cmark_node_append_child(container, piece.origin);
            } else if (piece.size() > 0) {
                cmark_node_append_child(container, newText(piece.text()));
            }
        }
        for (cmark_node* child : previous)
            if (child->parent == nullptr) cmark_node_free(child);
    }

    // The pair from open to the end of the output (the closing bracket not
    // yet written) turned into a reference when it is one; false leaves it.
    bool recognize(InlineOutput& output, const InlineOutput::Opening& open, const InlineOutput::Opening* locator)
    {
        if (open.position + 1 >= output.length) {
            // "[text][]": a cross-reference by the text before.
            return locator && options_.dialect && recognizeCrossReference(output, open, locator);
        }
        const std::string_view firstPiece = output.firstText(open);
        const char sigil = open.offset + 1 < firstPiece.size() ? firstPiece[open.offset + 1] : '\0';
        if (options_.notes) {
            switch (sigil) {
            case '^': return recognizeFootnote(output, open);
            case '#': return recognizeCitation(output, open, locator);
            case '?':
            case '>': return recognizeTerm(output, open);
            default: break;
            }
        }
        if (!options_.dialect) return false;
        if (sigil == '%') return recognizeVariable(output, open);
        return recognizeCrossReference(output, open, locator);
    }

    // "[%key]": the value of a metadata key, as plain text.
    bool recognizeVariable(InlineOutput& output, const InlineOutput::Opening& open)
    {
        if (!options_.metadata || output.lastAtom > open.position || output.length - open.position > 256) return false;
        if (variables_.empty()) {
            // Each key once, with its last value, looked up in constant time:
            // a text may use many variables of a long block.
            for (const MetadataBlock::Entry& entry : options_.metadata->entries())
                variables_.insert_or_assign(entry.key, &entry.value);
        }
        const auto it = variables_.find(MetadataBlock::normalizedKey(output.textAfter(open, 2)));
        if (it == variables_.end()) return false;
        // A long value used many times could make output the square of the
        // text's size: past a budget of a few times the text, variables stay
        // as written.
        if (it->second->size() > copyBudget_) return false;
        copyBudget_ -= it->second->size();
        for (InlineOutput::Piece& piece : output.cut(open, 0))
            if (piece.atom) cmark_node_free(piece.atom);
        // The value is text as it stands: nothing in it is read again (a
        // value may name its own variable).
        Raw& raw = raws_.emplace_back();
        raw.kind = Mark::Kind::raw;
        appendEscapedHtml(raw.html, *it->second);
        output.appendAtom(newMark(&raw, *it->second));
        return true;
    }

    // "[Heading text]", "[text][Heading text]", "[Heading text][]" and the
    // same with a heading's label: a link to the heading.
    bool recognizeCrossReference(InlineOutput& output, const InlineOutput::Opening& open,
                                 const InlineOutput::Opening* locator)
    {
        if (crossReferences_.empty() || linkDepth_ > 0) return false;
        const bool empty = open.position + 1 >= output.length;
        const InlineOutput::Opening& named = empty ? *locator : open;
        const int64_t namedEnd = empty ? open.position - 1 : output.length;
        if (namedEnd - named.position > int64_t(longestHeading_ * 3 + 16)) return false;
        const std::optional<std::string> name = output.plainBetween(named, 1, namedEnd);
        if (!name) return false;
        const auto it = crossReferences_.find(headingLabel(restoredText(*name, true)));
        if (it == crossReferences_.end()) return false;

        std::vector<InlineOutput::Piece> shown;
        if (locator) {
            // The text of the pair before, without its closing bracket.
            for (InlineOutput::Piece& piece : output.cut(open, 0))
                if (piece.atom) cmark_node_free(piece.atom);
            shown = output.cut(*locator, 1);
            if (!shown.empty() && !shown.back().atom && shown.back().size() > 0) --shown.back().end;
        } else {
            shown = output.cut(open, 1);
        }
        cmark_node* link = cmark_node_new(CMARK_NODE_LINK);
        const std::string url = "#" + it->second;
        cmark_node_set_url(link, url.c_str());
        for (InlineOutput::Piece& piece : shown) {
            if (piece.atom) cmark_node_append_child(link, piece.atom);
            else if (piece.size() > 0) cmark_node_append_child(link, newText(piece.text()));
        }
        output.appendAtom(link);
        return true;
    }

    // The label after the sigil when it can name a definition of kind: text
    // only, no longer than any label of that kind can be.
    std::optional<std::string> keyAfterSigil(const InlineOutput& output, const InlineOutput::Opening& open,
                                             NoteKind kind) const
    {
        if (output.lastAtom > open.position) return std::nullopt;
        // Smart typography can make a label up to three times longer.
        if (output.length - open.position - 2 > int64_t(keyLength_[kindIndex(kind)] * 3 + 8)) return std::nullopt;
        return DialectSource::normalizedNoteKey(output.textAfter(open, 2));
    }

    bool recognizeFootnote(InlineOutput& output, const InlineOutput::Opening& open)
    {
        const bool inlineNote = output.lastAtom > open.position || output.lastSpace > open.position;
        if (!inlineNote) {
            const std::optional<std::string> key = keyAfterSigil(output, open, NoteKind::footnote);
            if (!key) return false;
            const auto& keys = keys_[kindIndex(NoteKind::footnote)];
            const auto it = keys.find(*key);
            if (it == keys.end()) return false;
            output.cut(open, 0);
            output.appendAtom(makeReference(NoteKind::footnote, it->second, {}));
            return true;
        }
        // An inline note needs something besides white space.
        if (!output.hasContentAfter(open, 2)) return false;
        std::vector<InlineOutput::Piece> content = output.cut(open, 2);
        const int note = addInlineNote(NoteKind::footnote, {}, std::move(content));
        output.appendAtom(makeReference(NoteKind::footnote, note, {}));
        return true;
    }

    bool recognizeCitation(InlineOutput& output, const InlineOutput::Opening& open,
                           const InlineOutput::Opening* locatorOpen)
    {
        // "[#key]", "[#key;]" (a textual citation), or a source cited by its
        // text alone, "[#Doe, A Book (2005)]".
        int note = -1;
        if (std::optional<std::string> key = keyAfterSigil(output, open, NoteKind::citation)) {
            const auto& keys = keys_[kindIndex(NoteKind::citation)];
            auto it = keys.find(*key);
            if (it == keys.end() && !key->empty() && key->back() == ';') {
                key->pop_back();
                it = keys.find(*key);
            }
            if (it != keys.end()) note = it->second;
        }
        std::string locator;
        if (locatorOpen) {
            // "[locator]" ends right before this pair's bracket.
            if (const std::optional<std::string> text = output.plainBetween(*locatorOpen, 1, open.position - 1))
                locator = collapsedSpaces(restoredText(*text, true));
            else
                locatorOpen = nullptr;
        }
        if (note < 0) {
            if (!options_.dialect || !output.hasContentAfter(open, 2)) return false;
            std::vector<InlineOutput::Piece> content = output.cut(open, 2);
            note = addInlineNote(NoteKind::citation, {}, std::move(content));
        }
        const InlineOutput::Opening cutAt = locatorOpen ? *locatorOpen : open;
        for (InlineOutput::Piece& piece : output.cut(cutAt, 0))
            if (piece.atom) cmark_node_free(piece.atom);
        const bool hidden = locatorOpen && DialectSource::normalizedNoteKey(locator) == "not cited";
        cmark_node* node = makeReference(NoteKind::citation, note, hidden ? std::string() : std::move(locator));
        static_cast<Reference*>(node->user_data)->hidden = hidden;
        output.appendAtom(node);
        return true;
    }

    // "[?term]", "[?(term) definition]", "[>ABBR]", "[>(ABBR) expansion]".
    bool recognizeTerm(InlineOutput& output, const InlineOutput::Opening& open)
    {
        const std::string_view firstPiece = output.firstText(open);
        const bool glossary = firstPiece[open.offset + 1] == '?';
        const NoteKind kind = glossary ? NoteKind::glossary : NoteKind::abbreviation;
        std::string written;
        size_t definitionStart = 0; // bytes after the bracket, when the pair defines the term
        if (open.offset + 2 < firstPiece.size() && firstPiece[open.offset + 2] == '(') {
            const size_t close =
                firstPiece.substr(0, std::min(firstPiece.size(), open.offset + 3 + labelLimit)).find(')', open.offset + 3);
            if (close == std::string::npos || close - open.offset > labelLimit) return false;
            written = collapsedSpaces(restoredText(firstPiece.substr(open.offset + 3, close - open.offset - 3), true));
            definitionStart = close + 1 - open.offset;
        } else {
            if (output.lastAtom > open.position) return false;
            if (output.length - open.position - 2 > int64_t(keyLength_[kindIndex(kind)] * 3 + 8)) return false;
            written = collapsedSpaces(restoredText(output.textAfter(open, 2), true));
        }
        if (written.empty()) return false;
        const std::string key = DialectSource::normalizedNoteKey(written);

        if (glossary) {
            auto& keys = keys_[kindIndex(NoteKind::glossary)];
            auto it = keys.find(key);
            if (it == keys.end()) {
                if (!definitionStart || !output.hasContentAfter(open, definitionStart)) return false;
                std::vector<InlineOutput::Piece> content = output.cut(open, definitionStart);
                keyLength_[kindIndex(kind)] = std::max(keyLength_[kindIndex(kind)], key.size());
                const int note = addInlineNote(NoteKind::glossary, written, std::move(content));
                it = keys.emplace(key, note).first;
            } else {
                for (InlineOutput::Piece& piece : output.cut(open, 0))
                    if (piece.atom) cmark_node_free(piece.atom);
            }
            output.appendAtom(makeReference(NoteKind::glossary, it->second, {}, written));
            return true;
        }

        auto it = abbreviations_.find(key);
        if (it == abbreviations_.end()) {
            if (!definitionStart) return false;
            const std::optional<std::string> expansion = output.plainBetween(open, definitionStart, output.length);
            if (!expansion || collapsedSpaces(*expansion).empty()) return false;
            it = abbreviations_.emplace(key, collapsedSpaces(restoredText(*expansion, true))).first;
            keyLength_[kindIndex(kind)] = std::max(keyLength_[kindIndex(kind)], key.size());
        }
        for (InlineOutput::Piece& piece : output.cut(open, 0))
            if (piece.atom) cmark_node_free(piece.atom);
        cmark_node* node = makeReference(NoteKind::abbreviation, -1, {}, written);
        static_cast<Reference*>(node->user_data)->title = it->second;
        static_cast<Reference*>(node->user_data)->key = key;
        output.appendAtom(node);
        return true;
    }

    // A note whose content is the given text and nodes, in a paragraph of
    // its own.
    int addInlineNote(NoteKind kind, std::string label, std::vector<InlineOutput::Piece> content)
    {
        cmark_node* paragraph = cmark_node_new(CMARK_NODE_PARAGRAPH);
        bool leading = true;
        for (InlineOutput::Piece& piece : content) {
            if (piece.atom) {
                cmark_node_append_child(paragraph, piece.atom);
                leading = false;
                continue;
            }
            std::string_view text = piece.text();
            if (leading) {
                while (!text.empty() && isWhitespace(text.front())) text.remove_prefix(1);
                if (text.empty()) continue;
                leading = false;
            }
            cmark_node_append_child(paragraph, newText(text));
        }
        notes_.push_back(Note{kind, std::move(label), {paragraph}, 0, 0});
        return int(notes_.size() - 1);
    }

    cmark_node* makeReference(NoteKind kind, int note, std::string locator, std::string_view shown = {})
    {
        Reference& reference = references_.emplace_back();
        reference.kind = Mark::Kind::reference;
        reference.noteKind = kind;
        reference.note = note;
        reference.locator = std::move(locator);
        return newMark(&reference, shown);
    }

    // References are numbered in the order they are read.
    void enterReference(cmark_node* node, Reference& reference)
    {
        reference.insideLink = linkDepth_ > 0;
        if (reference.noteKind == NoteKind::abbreviation) {
            // The first use is written out: "MultiMarkdown (MMD)".
            reference.firstUse = !reference.title.empty() && abbreviationsUsed_.insert(reference.key).second;
            // A long expansion used very often loses its title past the budget.
            const size_t copied = reference.title.size() * (reference.firstUse ? 2 : 1);
            if (copied > copyBudget_) {
                reference.title = {};
                reference.firstUse = false;
            } else {
                copyBudget_ -= copied;
            }
            return;
        }
        Note& note = notes_[size_t(reference.note)];
        if (note.number == 0) {
            note.number = ++counters_[kindIndex(note.kind)];
            order_.push_back(reference.note);
        }
        reference.number = note.number;
        if (reference.hidden) return;
        reference.occurrence = ++note.references;
        std::string shown;
        if (reference.noteKind == NoteKind::footnote) {
            shown = std::to_string(note.number);
        } else if (reference.noteKind == NoteKind::citation) {
            shown = "[" + std::to_string(note.number);
            if (!reference.locator.empty()) shown += ", " + reference.locator;
            shown += "]";
        } else {
            return;
        }
        cmark_node_set_literal(node, shown.c_str());
    }

    // --- Definition lists --------------------------------------------------

    // The terms and definitions the pre-pass laid out (see DialectSource)
    // go into one <dl> for each run of them.
    void buildDefinitionLists()
    {
        cmark_node* node = root_->first_child;
        while (node) {
            if (isTerm(node) || isDefinitions(node)) {
                cmark_node* list = cmark_node_new(CMARK_NODE_CUSTOM_BLOCK);
                cmark_node_set_on_enter(list, "<dl>");
                cmark_node_set_on_exit(list, "</dl>");
                cmark_node_insert_before(node, list);
                while (node && (isTerm(node) || isDefinitions(node))) {
                    cmark_node* next = node->next;
                    BlockStyle& style = styles_.emplace_back();
                    if (isTerm(node)) {
                        style.kind = BlockStyle::Kind::term;
                    } else {
                        style.kind = BlockStyle::Kind::definitions;
                        if (source_.beginsLooseDefinitions(node->start_line)) cmark_node_set_list_tight(node, 0);
                        for (cmark_node* item = node->first_child; item; item = item->next) {
                            cmark_node_set_syntax_extension(item, extension_);
                            cmark_node_set_user_data(item, &definitionStyle_);
                        }
                    }
                    cmark_node_set_syntax_extension(node, extension_);
                    cmark_node_set_user_data(node, &style);
                    cmark_node_unlink(node);
                    cmark_node_append_child(list, node);
                    node = next;
                }
                node = list;
            }
            if (holdsBlocks(node) && node->first_child && node->type != CMARK_NODE_CUSTOM_BLOCK) {
                node = node->first_child;
                continue;
            }
            while (node != root_ && !node->next) node = node->parent;
            node = node == root_ ? nullptr : node->next;
        }
    }

    bool isTerm(const cmark_node* node) const
    {
        return node->type == CMARK_NODE_PARAGRAPH && node->parent == root_ && source_.isTermLine(node->start_line);
    }

    bool isDefinitions(const cmark_node* node) const
    {
        return node->type == CMARK_NODE_LIST && node->parent == root_ && source_.beginsDefinitions(node->start_line);
    }

    // --- Tables ------------------------------------------------------------

    static bool isNamed(const cmark_node* node, std::string_view name)
    {
        const char* type = cmark_node_get_type_string(const_cast<cmark_node*>(node));
        return type && name == type;
    }

    // Captions ("[Caption]" or "[Caption][label]" on the line before a table
    // or after its last row) and column spans ("| a || b |": a cell ended
    // by two pipes spans the next column too).
    void styleTables()
    {
        std::vector<cmark_node*> tables;
        cmark_node* node = root_->first_child;
        while (node) {
            if (isNamed(node, "table")) tables.push_back(node);
            else if (holdsBlocks(node) && node->first_child) {
                node = node->first_child;
                continue;
            }
            while (node != root_ && !node->next) node = node->parent;
            node = node == root_ ? nullptr : node->next;
        }
        for (cmark_node* table : tables) styleTable(table);
    }

    void styleTable(cmark_node* table)
    {
        BlockStyle& style = styles_.emplace_back();
        style.kind = BlockStyle::Kind::table;
        std::string caption;
        std::string label;
        cmark_node* before = table->prev;
        if (before && before->type == CMARK_NODE_PARAGRAPH && captionOf(before, caption, label)) {
            cmark_node_free(before);
        } else if (cmark_node* last = table->last_child; last && last != table->first_child && captionRow(last, caption, label)) {
            cmark_node_free(last);
        }
        if (!caption.empty()) {
            const std::string id = headingLabel(label.empty() ? caption : label);
            style.html = "<caption";
            if (!id.empty() && options_.labels) {
                style.html += " id=\"";
                appendEscapedHtml(style.html, id);
                style.html += '"';
                crossReferences_.try_emplace(id, id);
                if (!label.empty()) crossReferences_.try_emplace(headingLabel(caption), id);
                longestHeading_ = std::max({longestHeading_, caption.size(), label.size()});
            }
            style.html += '>';
            appendEscapedHtml(style.html, caption);
            style.html += "</caption>\n";
        }
        cmark_node_set_syntax_extension(table, extension_);
        cmark_node_set_user_data(table, &style);
        tableNodes_.push_back(table);
    }

    // After the pass (cmark asks a node's extension what it may hold, and
    // ours does not know cells): cells ended by "||" span the next column.
    void spanColumns()
    {
        const size_t tables = tableNodes_.size();
        for (size_t i = 0; i < tables; ++i) spanColumns(tableNodes_[i]);
    }

    void spanColumns(cmark_node* table)
    {
        const uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(table);
        const int columns = cmark_gfm_extensions_get_table_columns(table);
        for (cmark_node* row = table->first_child; row; row = row->next) {
            bool spans = false;
            for (cmark_node* cell = row->first_child; cell && !spans; cell = cell->next)
                spans = isSpanMarker(cell);
            if (!spans) continue;
            const bool header = cmark_gfm_extensions_get_table_row_is_header(row);
            int column = 0;
            BlockStyle* previous = nullptr;
            for (cmark_node* cell = row->first_child; cell;) {
                cmark_node* next = cell->next;
                if (previous && isSpanMarker(cell)) {
                    ++previous->span;
                    cmark_node_free(cell);
                } else {
                    BlockStyle& cellStyle = styles_.emplace_back();
                    cellStyle.kind = BlockStyle::Kind::cell;
                    cellStyle.header = header;
                    cellStyle.alignment = alignments && column < columns ? char(alignments[column]) : '\0';
                    cmark_node_set_syntax_extension(cell, extension_);
                    cmark_node_set_user_data(cell, &cellStyle);
                    tableNodes_.push_back(cell);
                    previous = &cellStyle;
                }
                ++column;
                cell = next;
            }
        }
    }

    // An empty cell written as "||": cmark ends it before it starts.
    static bool isSpanMarker(const cmark_node* cell)
    {
        return !cell->first_child && cell->end_column < cell->start_column && cell->start_column > 0;
    }

    // "[Caption]" or "[Caption][label]" as a paragraph's whole plain text.
    static bool captionOf(cmark_node* block, std::string& caption, std::string& label)
    {
        std::string text;
        for (cmark_node* child = block->first_child; child; child = child->next)
            if (!appendPlainText(text, child)) return false;
        text = restoredText(std::string(trimmedSpaces(text)), true);
        if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
        const size_t close = text.find(']');
        if (close == 1 || text.find('[', 1) < close) return false;
        if (close + 1 < text.size()) {
            if (text[close + 1] != '[' || text.find('[', close + 2) != std::string::npos
                || text.find(']', close + 1) != text.size() - 1 || close + 3 >= text.size())
                return false;
            label = text.substr(close + 2, text.size() - close - 3);
        }
        caption = text.substr(1, close - 1);
        return true;
    }

    static bool captionRow(cmark_node* row, std::string& caption, std::string& label)
    {
        cmark_node* first = row->first_child;
        if (!first) return false;
        for (cmark_node* cell = first->next; cell; cell = cell->next)
            if (cell->first_child) return false;
        return captionOf(first, caption, label);
    }

    // --- Headings ----------------------------------------------------------

    // Before the pass: the ids of the body's headings, in order, from their
    // text or from an explicit label ("# Heading [label]", taken off the
    // text), and the names cross-references may use for them.
    void labelHeadings()
    {
        cmark_node* node = root_->first_child;
        while (node) {
            if (node->type == CMARK_NODE_HEADING) labelHeadingAhead(node);
            if (holdsBlocks(node) && node->first_child) {
                node = node->first_child;
                continue;
            }
            while (node != root_ && !node->next) node = node->parent;
            node = node == root_ ? nullptr : node->next;
        }
    }

    void labelHeadingAhead(cmark_node* heading)
    {
        const std::string label = options_.dialect ? takeExplicitLabel(heading) : std::string();
        std::string text;
        for (cmark_node* child = heading->first_child; child; child = child->next)
            if (!appendPlainText(text, child)) break;
        text = withoutNoteReferences(restoredText(text, true));
        const std::string fromText = headingLabel(text);
        const std::string fromLabel = headingLabel(label);
        std::string id = uniqueLabel(fromLabel.empty() ? fromText : fromLabel);
        if (id.empty()) return;
        if (options_.dialect) {
            if (!fromText.empty()) crossReferences_.try_emplace(fromText, id);
            if (!fromLabel.empty()) crossReferences_.try_emplace(fromLabel, id);
            longestHeading_ = std::max({longestHeading_, text.size(), label.size()});
        }
        headingIds_.emplace(heading, std::move(id));
    }

    // "[label]" at the end of a heading's text (cmark leaves it as text
    // nodes), taken off; empty when there is none.
    static std::string takeExplicitLabel(cmark_node* heading)
    {
        std::vector<cmark_node*> tail;
        size_t size = 0;
        for (cmark_node* child = heading->last_child; child && child->type == CMARK_NODE_TEXT; child = child->prev) {
            tail.insert(tail.begin(), child);
            size += size_t(child->as.literal.len);
            if (size > labelLimit) return {};
        }
        std::string text;
        for (cmark_node* child : tail) text.append(literalOf(child));
        size_t end = text.size();
        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
        if (end == 0 || text[end - 1] != ']') return {};
        const size_t open = text.rfind('[', end - 1);
        if (open == std::string::npos || open + 2 >= end) return {};
        const std::string label = text.substr(open + 1, end - open - 2);
        if (label.find(']') != std::string::npos || std::string_view("^#?>%").find(label[0]) != std::string_view::npos)
            return {};
        size_t cut = open;
        while (cut > 0 && (text[cut - 1] == ' ' || text[cut - 1] == '\t')) --cut;
        if (cut == 0 && heading->first_child == tail.front()) return {}; // nothing but the label
        // Shorten the text nodes to end at cut.
        size_t at = 0;
        for (cmark_node* child : tail) {
            const size_t length = size_t(child->as.literal.len);
            if (at >= cut) {
                cmark_node_free(child);
            } else if (at + length > cut) {
                const std::string kept(literalOf(child).substr(0, cut - at));
                cmark_node_set_literal(child, kept.c_str());
            }
            at += length;
        }
        return label;
    }

    // Heading text without "[^note]" and "[#citation]" references.
    static std::string withoutNoteReferences(std::string_view text)
    {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '[' && i + 1 < text.size() && (text[i + 1] == '^' || text[i + 1] == '#')) {
                const size_t close = text.find(']', i);
                if (close != std::string_view::npos) {
                    i = close;
                    continue;
                }
            }
            out += text[i];
        }
        return out;
    }

    std::string uniqueLabel(std::string id)
    {
        if (id.empty()) return id;
        auto [it, fresh] = labelUses_.try_emplace(id, 0);
        if (!fresh) {
            std::string candidate;
            do {
                candidate = id + "-" + std::to_string(++it->second);
            } while (!labelUses_.try_emplace(candidate, 0).second);
            id = std::move(candidate);
        }
        return id;
    }

    void labelHeading(cmark_node* heading)
    {
        if (options_.headingShift != 0)
            cmark_node_set_heading_level(heading, std::min(6, heading->as.heading.level + options_.headingShift));
        std::string text;
        for (cmark_node* child = heading->first_child; child; child = child->next) {
            const auto* mark = child->extension == extension_ ? static_cast<const Mark*>(child->user_data) : nullptr;
            if (mark && mark->kind == Mark::Kind::reference) {
                // Note numbers are no part of a label; terms are.
                const NoteKind kind = static_cast<const Reference*>(mark)->noteKind;
                if (kind == NoteKind::footnote || kind == NoteKind::citation) continue;
            }
            if (!appendPlainText(text, child)) break;
        }
        std::string id;
        if (options_.labels) {
            const auto known = headingIds_.find(heading);
            id = known != headingIds_.end() ? known->second : uniqueLabel(headingLabel(text));
        }
        if (part_ == DialectSource::Part::body && options_.dialect && source_.mayHaveTableOfContents())
            contentsEntries_.push_back({heading->as.heading.level, id, collapsedSpaces(text)});
        if (id.empty()) return;
        HeadingLabel& label = headings_.emplace_back();
        label.id = std::move(id);
        cmark_node_set_syntax_extension(heading, extension_);
        cmark_node_set_user_data(heading, &label);
    }

    bool hasVariables() const
    {
        return options_.metadata && !options_.metadata->entries().empty() && source_.hasReferences();
    }

    // --- Notes lists -------------------------------------------------------

    void appendNotesList(NoteKind kind, const char* listClass, const char* prefix, const char* name)
    {
        cmark_node* section = nullptr;
        for (int index : order_) {
            Note& note = notes_[size_t(index)];
            if (note.kind != kind) continue;
            if (!section) {
                const std::string enter = std::string("<div class=\"") + listClass + "\">\n<hr />\n<ol>";
                section = cmark_node_new(CMARK_NODE_CUSTOM_BLOCK);
                cmark_node_set_on_enter(section, enter.c_str());
                cmark_node_set_on_exit(section, "</ol>\n</div>");
            }
            const std::string number = std::to_string(note.number);
            const std::string enter = std::string("<li id=\"") + prefix + ":" + number + "\">";
            cmark_node* item = cmark_node_new(CMARK_NODE_CUSTOM_BLOCK);
            cmark_node_set_on_enter(item, enter.c_str());
            cmark_node_set_on_exit(item, "</li>");
            for (cmark_node* block : note.blocks) cmark_node_append_child(item, block);

            if (kind == NoteKind::glossary) {
                std::string term = "<span class=\"glossary name\">";
                appendEscapedHtml(term, note.label);
                term += "</span>: ";
                cmark_node* firstBlock = item->first_child;
                if (!firstBlock || firstBlock->type != CMARK_NODE_PARAGRAPH) {
                    firstBlock = cmark_node_new(CMARK_NODE_PARAGRAPH);
                    cmark_node_prepend_child(item, firstBlock);
                }
                cmark_node_prepend_child(firstBlock, newHtmlInline(term));
            }

            const std::string backlink = std::string("<a href=\"#") + prefix + "ref:" + number
                + "\" title=\"return to body\" class=\"reverse" + name + "\">&#8617;</a>";
            cmark_node* lastBlock = item->last_child;
            if (note.references == 0) {
                // Listed but not cited: there is no way back.
            } else if (lastBlock && lastBlock->type == CMARK_NODE_PARAGRAPH) {
                if (lastBlock->first_child) cmark_node_append_child(lastBlock, newText(" "));
                cmark_node_append_child(lastBlock, newHtmlInline(backlink));
            } else {
                cmark_node* paragraph = cmark_node_new(CMARK_NODE_PARAGRAPH);
                cmark_node_append_child(paragraph, newHtmlInline(backlink));
                cmark_node_append_child(item, paragraph);
            }
            cmark_node_append_child(section, item);
        }
        if (section) cmark_node_append_child(root_, section);
    }

    // --- Rendering ---------------------------------------------------------

    static void newLine(cmark_strbuf* html)
    {
        if (html->size > 0 && html->ptr[html->size - 1] != '\n') cmark_strbuf_putc(html, '\n');
    }

    // A destination as an attribute value: characters a URL may not hold
    // percent-encoded, as cmark writes them.
    static void appendHref(std::string& out, std::string_view url)
    {
        static constexpr char hex[] = "0123456789ABCDEF";
        for (char c : url) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (c == '&') {
                out += "&amp;";
            } else if (c == '\'') {
                out += "&#x27;";
            } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                       || std::string_view("-_.+!*(),%#@?=;:/,$~").find(c) != std::string_view::npos) {
                out += c;
            } else {
                out += '%';
                out += hex[u >> 4];
                out += hex[u & 15];
            }
        }
    }

    // Attributes of a link definition; an image's width and height go into
    // its style.
    static void appendAttributes(std::string& out, const std::vector<LinkAttribute>& attributes, bool image)
    {
        std::string style;
        for (const LinkAttribute& attribute : attributes) {
            if (image && (attribute.key == "width" || attribute.key == "height")) {
                style += attribute.key + ":" + attribute.value + ";";
                continue;
            }
            out += ' ';
            appendEscapedHtml(out, attribute.key);
            out += "=\"";
            appendEscapedHtml(out, attribute.value);
            out += '"';
        }
        if (!style.empty()) {
            out += " style=\"";
            appendEscapedHtml(out, style);
            out += '"';
        }
    }

    static void renderStyled(cmark_html_renderer* renderer, cmark_node* node, const BlockStyle& style, bool entering)
    {
        cmark_strbuf* html = renderer->html;
        std::string out;
        switch (style.kind) {
        case BlockStyle::Kind::figure:
            if (entering) {
                newLine(html);
                putHtml(html, "<figure>\n");
            } else {
                newLine(html);
                if (!style.html.empty()) putHtml(html, "<figcaption>" + style.html + "</figcaption>\n");
                putHtml(html, "</figure>\n");
            }
            return;
        case BlockStyle::Kind::tableOfContents:
            if (entering) {
                newLine(html);
                putHtml(html, style.html);
                putHtml(html, "\n");
            }
            return;
        case BlockStyle::Kind::code:
            newLine(html);
            out = "<pre><code class=\"";
            appendEscapedHtml(out, style.html);
            out += "\">";
            appendEscapedHtml(out, viewOf(node->as.code.literal));
            out += "</code></pre>\n";
            putHtml(html, out);
            return;
        case BlockStyle::Kind::rawCode:
            newLine(html);
            putHtml(html, viewOf(node->as.code.literal));
            return;
        case BlockStyle::Kind::hiddenCode:
            return;
        case BlockStyle::Kind::term:
            if (entering) newLine(html);
            putHtml(html, entering ? "<dt>" : "</dt>\n");
            return;
        case BlockStyle::Kind::definitions:
            return;
        case BlockStyle::Kind::definition:
            if (entering) newLine(html);
            putHtml(html, entering ? "<dd>" : "</dd>\n");
            return;
        case BlockStyle::Kind::table:
            if (entering) {
                newLine(html);
                putHtml(html, "<table>\n");
                putHtml(html, style.html);
            } else {
                // Body rows leave their section open, as cmark's tables do.
                const cmark_node* first = node->first_child;
                newLine(html);
                if (first && first->next) putHtml(html, "</tbody>\n");
                putHtml(html, "</table>\n");
            }
            // The table extension keeps its state in the renderer: a table
            // of ours starts and ends with it cleared.
            renderer->opaque = nullptr;
            return;
        case BlockStyle::Kind::cell:
            if (entering) {
                newLine(html);
                out = style.header ? "<th" : "<td";
                if (style.alignment == 'l') out += " align=\"left\"";
                if (style.alignment == 'c') out += " align=\"center\"";
                if (style.alignment == 'r') out += " align=\"right\"";
                if (style.span > 1) out += " colspan=\"" + std::to_string(style.span) + "\"";
                out += '>';
            } else {
                out = style.header ? "</th>\n" : "</td>\n";
            }
            putHtml(html, out);
            return;
        case BlockStyle::Kind::linkAttributes:
            break;
        }
        const bool image = node->type == CMARK_NODE_IMAGE;
        if (entering) {
            out = image ? "<img src=\"" : "<a href=\"";
            appendHref(out, viewOf(node->as.link.url));
            if (image) {
                out += "\" alt=\"";
                // The description is written as plain text up to the image's
                // end, as cmark does.
                renderer->plain = node;
            } else {
                out += '"';
                if (node->as.link.title.len > 0) {
                    out += " title=\"";
                    appendEscapedHtml(out, viewOf(node->as.link.title));
                    out += '"';
                }
                appendAttributes(out, *style.attributes, false);
                out += '>';
            }
        } else if (image) {
            out = "\"";
            if (node->as.link.title.len > 0) {
                out += " title=\"";
                appendEscapedHtml(out, viewOf(node->as.link.title));
                out += '"';
            }
            appendAttributes(out, *style.attributes, true);
            out += " />";
        } else {
            out = "</a>";
        }
        putHtml(html, out);
    }

    static void renderNode(cmark_syntax_extension*, cmark_html_renderer* renderer, cmark_node* node,
                           cmark_event_type event, int)
    {
        cmark_strbuf* html = renderer->html;
        if (node->type == CMARK_NODE_HEADING) {
            const char level = char('0' + node->as.heading.level);
            if (event == CMARK_EVENT_ENTER) {
                if (html->size > 0 && html->ptr[html->size - 1] != '\n') cmark_strbuf_putc(html, '\n');
                std::string tag = std::string("<h") + level;
                if (const auto* label = static_cast<const HeadingLabel*>(node->user_data)) {
                    tag += " id=\"";
                    appendEscapedHtml(tag, label->id);
                    tag += '"';
                }
                tag += '>';
                putHtml(html, tag);
            } else {
                putHtml(html, std::string("</h") + level + ">\n");
            }
            return;
        }
        if (node->type != CMARK_NODE_HTML_INLINE) {
            if (const auto* style = static_cast<const BlockStyle*>(node->user_data))
                renderStyled(renderer, node, *style, event == CMARK_EVENT_ENTER);
            return;
        }
        const auto* mark = static_cast<const Mark*>(node->user_data);
        if (!mark) return;
        if (mark->kind == Mark::Kind::tag) {
            putHtml(html, static_cast<const Tag*>(mark)->html);
            return;
        }
        if (mark->kind == Mark::Kind::raw) {
            putHtml(html, static_cast<const Raw*>(mark)->html);
            return;
        }
        const auto& reference = *static_cast<const Reference*>(mark);
        if (reference.hidden) return;
        std::string out;
        const std::string_view shown = literalOf(node);
        if (reference.noteKind == NoteKind::abbreviation) {
            if (reference.firstUse) {
                appendEscapedHtml(out, reference.title);
                out += " (";
            }
            out += "<abbr title=\"";
            appendEscapedHtml(out, reference.title);
            out += "\">";
            appendEscapedHtml(out, shown);
            out += "</abbr>";
            if (reference.firstUse) out += ")";
            putHtml(html, out);
            return;
        }
        const bool footnote = reference.noteKind == NoteKind::footnote;
        const char* prefix = footnote ? "fn" : reference.noteKind == NoteKind::citation ? "cn" : "gn";
        const char* name = footnote ? "footnote" : reference.noteKind == NoteKind::citation ? "citation" : "glossary";
        if (reference.insideLink) {
            // A link may not hold another: the reference shows without its own.
            out = footnote ? "<sup>" : std::string("<span class=\"") + name + "\">";
            appendEscapedHtml(out, shown);
            out += footnote ? "</sup>" : "</span>";
            putHtml(html, out);
            return;
        }
        const std::string number = std::to_string(reference.number);
        out = std::string("<a href=\"#") + prefix + ":" + number + "\" id=\"" + prefix + "ref:" + number;
        if (reference.occurrence > 1) out += "-" + std::to_string(reference.occurrence);
        out += std::string("\" title=\"see ") + name + "\" class=\"" + name + "\">";
        if (footnote) out += "<sup>";
        appendEscapedHtml(out, shown);
        if (footnote) out += "</sup>";
        out += "</a>";
        putHtml(html, out);
    }

    const DialectSource& source_;
    DialectRenderer::Options options_;
    bool restoring_;         // markers may have to be turned back
    bool findingReferences_; // bracket pairs may be references
    cmark_parser* parser_ = nullptr;
    cmark_syntax_extension* extension_ = nullptr;
    cmark_node* root_ = nullptr;
    cmark_parser* notesParser_ = nullptr;
    cmark_node* notesRoot_ = nullptr;
    DialectSource::Part part_ = DialectSource::Part::body;

    std::deque<Reference> references_;
    std::deque<HeadingLabel> headings_;
    std::vector<Note> notes_;
    std::array<std::unordered_map<std::string, int>, 3> keys_;
    std::unordered_map<std::string, std::string> abbreviations_;
    std::array<size_t, 4> keyLength_{}; // the longest key of each kind
    std::vector<int> order_;
    std::array<int, 3> counters_{};
    int linkDepth_ = 0;
    std::unordered_map<std::string, int> labelUses_;

    struct WordTerm {
        NoteKind kind;
        int note; // glossary entries
        std::string key;
    };
    struct ContentsPlaceholder {
        cmark_node* paragraph;
        int minimum;
        int maximum;
    };
    bool wholeTree_ = false; // every block needs the pass
    bool restoreHere_ = false; // the block being read may hold markers
    std::vector<cmark_node*> tableNodes_; // table nodes we render
    std::unordered_map<std::string, const std::string*> variables_; // metadata by key
    // Bytes that variables and abbreviation titles may copy into the output
    // in all.
    size_t copyBudget_ = 0;
    BlockStyle definitionStyle_{BlockStyle::Kind::definition, {}, nullptr};
    dialect::SmartTypography typography_;
    std::string smartText_; // reused for every text
    std::deque<Raw> raws_;
    std::deque<BlockStyle> styles_;
    std::unordered_map<std::string, WordTerm> wordTerms_;
    std::unordered_set<std::string> abbreviationsUsed_;
    std::unordered_map<const cmark_node*, std::string> headingIds_;
    std::unordered_map<std::string, std::string> crossReferences_; // heading label -> id
    size_t longestHeading_ = 0;
    std::vector<ContentsPlaceholder> contents_;
    std::vector<ContentsEntry> contentsEntries_;
    CloserSearch dollarSearch_;
    CloserSearch displayDollarSearch_;
    CloserSearch inlineMathSearch_;
    CloserSearch displayMathSearch_;
};

} // namespace

std::string DialectRenderer::renderHtml(const DialectSource& source, const Options& options)
{
    Conversion conversion(source, options);
    return conversion.run();
}

std::string DialectRenderer::engineVersion()
{
    return std::string("cmark-gfm ") + cmark_version_string();
}

} // namespace lumora
