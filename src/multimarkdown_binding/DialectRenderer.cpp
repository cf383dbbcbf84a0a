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

#include <array>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
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
    enum class Kind { tag, reference };
    Kind kind;
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
    std::string title;   // abbreviations: the expansion
    std::string locator; // citations
    int number = 0;
    int occurrence = 0;
    bool insideLink = false;
};

struct HeadingLabel {
    std::string id;
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
          findingReferences_(options.notes && source.hasReferences())
    {
    }

    ~Conversion()
    {
        for (Note& note : notes_)
            for (cmark_node* block : note.blocks)
                if (block->parent == nullptr) cmark_node_free(block);
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
        part_ = DialectSource::Part::body;
        walk(root_);
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
        int flags = CMARK_OPT_UNSAFE | CMARK_OPT_STRIKETHROUGH_DOUBLE_TILDE;
        if (options_.smart) flags |= CMARK_OPT_SMART;
        return flags;
    }

    // --- Parsing -----------------------------------------------------------

    cmark_parser* newParser() const
    {
        cmark_parser* parser = cmark_parser_new(cmarkOptions());
        for (const char* name : {"table", "strikethrough", "autolink"})
            if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
                cmark_parser_attach_syntax_extension(parser, extension);
        if (options_.critic) cmark_parser_attach_syntax_extension(parser, extension_);
        return parser;
    }

    void parse()
    {
        std::lock_guard<std::mutex> lock(parseMutex());
        cmark_gfm_core_extensions_ensure_registered();

        extension_ = cmark_syntax_extension_new("lumora-multimarkdown");
        cmark_syntax_extension_set_private(extension_, this, [](cmark_mem*, void*) {});
        cmark_syntax_extension_set_html_render_func(extension_, renderNode);
        if (options_.critic) {
            cmark_llist* triggers = nullptr;
            for (unsigned c = insertionOpen; c <= commentClose; ++c)
                if (isMarker(static_cast<unsigned char>(c)))
                    triggers = cmark_llist_append(cmark_get_default_mem_allocator(), triggers,
                                                  reinterpret_cast<void*>(uintptr_t(c)));
            cmark_syntax_extension_set_special_inline_chars(extension_, triggers);
            cmark_syntax_extension_set_match_inline_func(extension_, matchCriticMarker);
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

    // A CriticMarkup marker met by the inline parser becomes a text node
    // holding what the writer typed, and goes on the delimiter stack.
    static cmark_node* matchCriticMarker(cmark_syntax_extension*, cmark_parser*, cmark_node*, unsigned char c,
                                         cmark_inline_parser* inlineParser)
    {
        if (c < insertionOpen || c > commentClose || !isMarker(c)) return nullptr;
        cmark_inline_parser_advance_offset(inlineParser);
        cmark_node* node = newText(markerSource(c));
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
    static delimiter* insertCritic(cmark_syntax_extension* extension, cmark_parser*,
                                   cmark_inline_parser* inlineParser, delimiter* opener, delimiter* closer)
    {
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
                continue;
            }
            auto& keys = keys_[kindIndex(definition.kind)];
            const auto [it, added] = keys.try_emplace(definition.key, int(notes_.size()));
            if (added) notes_.push_back(Note{definition.kind, definition.label, {}, 0, 0});
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
        if (needsNoPass(node)) return false;
        switch (node->type) {
        case CMARK_NODE_TEXT:
            // Escaped brackets stayed markers so that the bracket scan would
            // pass them by; now they are brackets again. (Other markers reach
            // text only through extensions that read the raw line, such as
            // the autolinker.)
            if (restoring_) restoreLiteral(node, &node->as.literal, true);
            return false;
        case CMARK_NODE_SOFTBREAK:
        case CMARK_NODE_LINEBREAK:
            return false;
        case CMARK_NODE_HTML_INLINE:
            if (node->extension == extension_) {
                auto* mark = static_cast<Mark*>(node->user_data);
                if (mark && mark->kind == Mark::Kind::reference) enterReference(node, *static_cast<Reference*>(mark));
                return false;
            }
            if (restoring_) restoreLiteral(node, &node->as.literal, false);
            return false;
        case CMARK_NODE_CODE:
        case CMARK_NODE_HTML_BLOCK:
            if (restoring_) restoreLiteral(node, &node->as.literal, false);
            return false;
        case CMARK_NODE_CODE_BLOCK:
            if (!restoring_) return false;
            restoreLiteral(node, &node->as.code.literal, false);
            if (containsMarker(node->as.code.info.data, size_t(node->as.code.info.len))) {
                const std::string info = restoredText(viewOf(node->as.code.info), true);
                cmark_node_set_fence_info(node, info.c_str());
            }
            return false;
        case CMARK_NODE_LINK:
        case CMARK_NODE_IMAGE:
            if (node->type == CMARK_NODE_LINK) ++linkDepth_;
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
        if (findingReferences_ && node->first_child && !holdsBlocks(node)) findReferences(node);
        return true;
    }

    void leave(cmark_node* node)
    {
        if (node->type == CMARK_NODE_LINK) --linkDepth_;
        else if (node->type == CMARK_NODE_HEADING) labelHeading(node);
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
        if (open.position + 1 >= output.length) return false;
        const std::string_view firstPiece = output.firstText(open);
        if (open.offset + 1 >= firstPiece.size()) return false; // an atom follows the bracket
        switch (firstPiece[open.offset + 1]) {
        case '^': return recognizeFootnote(output, open);
        case '#': return recognizeCitation(output, open, locator);
        case '?':
        case '>': return recognizeTerm(output, open);
        default: return false;
        }
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
        const std::optional<std::string> key = keyAfterSigil(output, open, NoteKind::citation);
        if (!key) return false;
        const auto& keys = keys_[kindIndex(NoteKind::citation)];
        const auto it = keys.find(*key);
        if (it == keys.end()) return false;
        std::string locator;
        const InlineOutput::Opening* start = &open;
        if (locatorOpen) {
            // "[locator]" ends right before this pair's bracket.
            if (const std::optional<std::string> text = output.plainBetween(*locatorOpen, 1, open.position - 1)) {
                locator = collapsedSpaces(restoredText(*text, true));
                start = locatorOpen;
            }
        }
        const InlineOutput::Opening cutAt = *start;
        for (InlineOutput::Piece& piece : output.cut(cutAt, 0))
            if (piece.atom) cmark_node_free(piece.atom);
        output.appendAtom(makeReference(NoteKind::citation, it->second, std::move(locator)));
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
        if (reference.noteKind == NoteKind::abbreviation) return;
        Note& note = notes_[size_t(reference.note)];
        if (note.number == 0) {
            note.number = ++counters_[kindIndex(note.kind)];
            order_.push_back(reference.note);
        }
        reference.number = note.number;
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

    // --- Headings ----------------------------------------------------------

    void labelHeading(cmark_node* heading)
    {
        if (options_.headingShift != 0)
            cmark_node_set_heading_level(heading, std::min(6, heading->as.heading.level + options_.headingShift));
        if (!options_.labels) return;
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
        std::string id = headingLabel(text);
        if (id.empty()) return;
        auto [it, fresh] = labelUses_.try_emplace(id, 0);
        if (!fresh) {
            std::string candidate;
            do {
                candidate = id + "-" + std::to_string(++it->second);
            } while (!labelUses_.try_emplace(candidate, 0).second);
            id = std::move(candidate);
        }
        HeadingLabel& label = headings_.emplace_back();
        label.id = std::move(id);
        cmark_node_set_syntax_extension(heading, extension_);
        cmark_node_set_user_data(heading, &label);
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
            if (lastBlock && lastBlock->type == CMARK_NODE_PARAGRAPH) {
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
        const auto* mark = static_cast<const Mark*>(node->user_data);
        if (node->type != CMARK_NODE_HTML_INLINE || !mark) return;
        if (mark->kind == Mark::Kind::tag) {
            putHtml(html, static_cast<const Tag*>(mark)->html);
            return;
        }
        const auto& reference = *static_cast<const Reference*>(mark);
        std::string out;
        const std::string_view shown = literalOf(node);
        if (reference.noteKind == NoteKind::abbreviation) {
            out = "<abbr title=\"";
            appendEscapedHtml(out, reference.title);
            out += "\">";
            appendEscapedHtml(out, shown);
            out += "</abbr>";
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
