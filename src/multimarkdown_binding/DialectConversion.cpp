#include "multimarkdown_binding/DialectConversion.h"

#include "multimarkdown_binding/DialectHtml.h"
#include "multimarkdown_binding/DialectMarkers.h"

#include <cmark-gfm-core-extensions.h>

#include <mutex>

namespace lumora::dialect {

namespace {

// cmark-gfm keeps its table of inline trigger characters process-wide and
// changes it at the start and end of every parse, so parses must not overlap.
std::mutex& parseMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The character after node in its block: the start of the text that
// follows, a space at a line break or the block's end, a letter for
// anything else.
char nextCharacter(const cmark_node* node)
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

// Markers in text cmark did not parse as inlines go back to what the
// writer typed.
void restoreLiteral(cmark_node* node, const cmark_chunk* literal, bool unescaped)
{
    if (!containsMarker(literal->data, size_t(literal->len))) return;
    const std::string text = restoredText(viewOf(*literal), unescaped);
    cmark_node_set_literal(node, text.c_str());
}

SyntaxExtensionOwner newExtension()
{
    SyntaxExtensionOwner extension(cmark_syntax_extension_new("lumora-multimarkdown"));
    cmark_syntax_extension_set_html_render_func(extension.get(), DialectHtml::renderNode);
    return extension;
}

} // namespace

DialectConversion::DialectConversion(const DialectSource& source, const DialectRenderer::Options& options)
    : extension_(newExtension()),
      state_(source, options, extension_.get()),
      inlineSyntax_(extension_.get(), state_.options, state_.annotations),
      notes_(state_),
      terms_(state_, notes_),
      headings_(state_),
      tables_(state_, headings_),
      elements_(state_),
      references_(state_, notes_, terms_, headings_),
      restoring_(source.hasMarkers()),
      typography_(options.quotes)
{
}

DialectConversion::~DialectConversion()
{
    // The parsers and the trees go with the memory, whole: nothing in them
    // holds anything else.
    (void)parser_.release();
    (void)notesParser_.release();
    (void)root_.release();
    (void)notesRoot_.release();
}

void DialectConversion::run(const std::function<void(std::string_view html)>& take)
{
    const DialectRenderer::Options& options = state_.options;
    const DialectSource& source = state_.source;
    parse();
    notes_.takeDefinitions(notesRoot_.get());
    terms_.takeDefinitions();
    shapeBlocks();
    state_.copyBudget = 4 * (source.document().size() + source.notesDocument().size()) + (size_t(1) << 20);
    findingReferences_ = (options.notes && source.hasReferences())
        || (options.dialect && (headings_.hasTargets() || hasVariables() || source.hasInlineAttributes()));
    wholeTree_ = options.smart || options.dialect;
    state_.part = DialectSource::Part::body;
    walk(root_.get());
    headings_.fillTablesOfContents();
    state_.part = DialectSource::Part::notes;
    // Notes are read in the order of their numbers; reading one may
    // number further notes, which join the end of the queue.
    // A glossary entry's definition links no other entries.
    for (size_t i = 0; i < notes_.numberedCount(); ++i) {
        terms_.setReadingGlossaryEntry(notes_.kindOfNumbered(i) == NoteKind::glossary);
        for (cmark_node* block : notes_.blocksOfNumbered(i)) {
            if (options.dialect) tables_.styleTables(block);
            walk(block);
        }
    }
    tables_.finish(cmark_parser_get_syntax_extensions(parser_.get()));
    notes_.appendLists(root_.get());
    const RenderedText html(cmark_render_html(root_.get(), cmarkOptions, cmark_parser_get_syntax_extensions(parser_.get())),
                            RenderedTextDeleter{cmark_node_mem(root_.get())});
    take(html ? std::string_view(html.get()) : std::string_view());
}

// --- Parsing -----------------------------------------------------------------

void DialectConversion::readTrees(const std::function<void(cmark_node* body, cmark_node* notes)>& read)
{
    parse(cmarkOptions | CMARK_OPT_SOURCEPOS);
    read(root_.get(), notesRoot_.get());
}

ParserOwner DialectConversion::newParser(int options) const
{
    ParserOwner parser(cmark_parser_new_with_mem(options, ConversionMemory::allocator()));
    // Ours first: a single tilde is a subscript's, a double one the
    // strikethrough's.
    if (state_.options.critic || state_.options.dialect)
        cmark_parser_attach_syntax_extension(parser.get(), extension_.get());
    for (const char* name : {"table", "strikethrough", "autolink"})
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser.get(), extension);
    return parser;
}

void DialectConversion::parse(int options)
{
    std::lock_guard<std::mutex> lock(parseMutex());
    cmark_gfm_core_extensions_ensure_registered();
    parser_ = newParser(options);
    const std::string& document = state_.source.document();
    cmark_parser_feed(parser_.get(), document.data(), document.size());
    root_.reset(cmark_parser_finish(parser_.get()));
    const std::string& notes = state_.source.notesDocument();
    if (!notes.empty()) {
        notesParser_ = newParser(options);
        cmark_parser_feed(notesParser_.get(), notes.data(), notes.size());
        notesRoot_.reset(cmark_parser_finish(notesParser_.get()));
    }
}

// Before the pass: the body's definition lists built, its tables reshaped
// and its headings labelled, in one walk over its blocks. Tables go first:
// a captioned table's name is taken before a heading's of the same text.
void DialectConversion::shapeBlocks()
{
    const bool dialect = state_.options.dialect;
    const bool labels = state_.options.labels;
    cmark_node* root = root_.get();
    if (dialect) elements_.buildDefinitionLists(root);
    if (!dialect && !labels) return;
    std::vector<cmark_node*> tables;
    std::vector<cmark_node*> headings;
    cmark_node* node = root->first_child;
    while (node) {
        prefetchNext(node);
        if (node->type == CMARK_NODE_HEADING) {
            if (labels) headings.push_back(node);
        } else if (dialect && TableStyler::isTable(node)) {
            tables.push_back(node);
        } else if (holdsBlocks(node) && node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node != root && !node->next) node = node->parent;
        node = node == root ? nullptr : node->next;
    }
    if (dialect) tables_.styleTables(tables);
    if (labels) headings_.labelAhead(headings);
}

// --- The pass over the tree --------------------------------------------------

void DialectConversion::walk(cmark_node* root)
{
    cmark_node* node = root;
    bool entering = true;
    while (true) {
        if (entering) {
            prefetchNext(node);
            if (isBlock(node) && !holdsBlocks(node)) prefetchChildren(node);
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

// A block none of whose lines holds a marker, reference syntax or a
// heading needs no pass. (A table is always entered: cmark counts its
// lines from below its header row. cmark can also end a block's lines
// one short, for an HTML block closed by its end marker, so the line
// after counts too.)
bool DialectConversion::needsNoPass(const cmark_node* node) const
{
    switch (node->type) {
    case CMARK_NODE_PARAGRAPH:
    case CMARK_NODE_CODE_BLOCK:
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_BLOCK_QUOTE:
    case CMARK_NODE_LIST:
    case CMARK_NODE_ITEM:
        return node->start_line > 0 && node->end_line >= node->start_line
            && !state_.source.hasInterestingLine(state_.part, node->start_line, node->end_line + 1);
    default:
        return false;
    }
}

// Does the work of entering node; false when its children need none.
bool DialectConversion::enter(cmark_node* node)
{
    if (!wholeTree_ && needsNoPass(node)) return false;
    const DialectRenderer::Options& options = state_.options;
    switch (node->type) {
    case CMARK_NODE_TEXT:
        if (options.smart) smarten(node);
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
        if (node->extension == extension_.get()) {
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
        if (options.dialect) {
            elements_.alignListCode(node);
            elements_.styleCodeBlock(node);
        }
        return false;
    case CMARK_NODE_LINK:
    case CMARK_NODE_IMAGE:
        enterLink(node);
        break;
    case CMARK_NODE_LIST:
        // Markdown numbers an ordered list from 1 whatever its first item's
        // number, and MultiMarkdown keeps to that.
        if (options.dialect && node->as.list.list_type == CMARK_ORDERED_LIST) cmark_node_set_list_start(node, 1);
        break;
    case CMARK_NODE_ITEM:
        if (options.dialect) elements_.keepNumberAsText(node);
        break;
    default:
        break;
    }
    if (isBlock(node)) {
        resolveQuotes();
        typography_.startBlock();
        // Only the blocks with a marked line can hold a marker.
        restoreHere_ = restoring_ && (!state_.source.linkAttributes().empty() || !needsNoPass(node));
    }
    if (node->type == CMARK_NODE_PARAGRAPH && options.dialect && state_.part == DialectSource::Part::body
        && headings_.takeContentsPlaceholder(node))
        return false;
    if (node->first_child && !holdsBlocks(node)) {
        if (options.dialect) elements_.convertRawSpans(node);
        if (findingReferences_) references_.findReferences(node);
        // Terms are words of plain text: not in a link, nor in an image's
        // description.
        if (terms_.hasWordTerms() && state_.linkDepth == 0 && node->type != CMARK_NODE_IMAGE)
            terms_.markWordTerms(node);
    }
    return true;
}

void DialectConversion::enterLink(cmark_node* node)
{
    if (node->type == CMARK_NODE_LINK) ++state_.linkDepth;
    if (!state_.source.linkAttributes().empty()) elements_.takeLinkAttributes(node);
    // A destination or title may come from a definition elsewhere.
    if (!restoring_) return;
    if (containsMarker(node->as.link.url.data, size_t(node->as.link.url.len))) {
        const std::string url = restoredText(viewOf(node->as.link.url), true);
        cmark_node_set_url(node, url.c_str());
    }
    if (containsMarker(node->as.link.title.data, size_t(node->as.link.title.len))) {
        const std::string title = restoredText(viewOf(node->as.link.title), true);
        cmark_node_set_title(node, title.c_str());
    }
}

void DialectConversion::enterReference(cmark_node* node, Reference& reference)
{
    reference.insideLink = state_.linkDepth > 0;
    if (reference.noteKind == NoteKind::abbreviation) terms_.enterAbbreviation(reference);
    else notes_.enterReference(node, reference);
}

void DialectConversion::leave(cmark_node* node)
{
    // A block's text is final before its heading label or figure caption
    // is taken from it.
    if (isBlock(node)) resolveQuotes();
    if (node->type == CMARK_NODE_LINK) --state_.linkDepth;
    else if (node->type == CMARK_NODE_HEADING) headings_.label(node);
    else if (node->type == CMARK_NODE_PARAGRAPH && state_.options.dialect)
        elements_.styleParagraph(node, cmark_parser_get_syntax_extensions(parser_.get()));
}

void DialectConversion::smarten(cmark_node* node)
{
    if (!typography_.apply(literalOf(node), nextCharacter(node), smartText_)) return;
    cmark_node_set_literal(node, smartText_.c_str());
    if (typography_.wrotePlaceholders()) quotesToResolve_.push_back(node);
}

void DialectConversion::resolveQuotes()
{
    for (cmark_node* node : quotesToResolve_) {
        smartText_.assign(literalOf(node));
        typography_.resolve(smartText_);
        cmark_node_set_literal(node, smartText_.c_str());
    }
    quotesToResolve_.clear();
}

bool DialectConversion::hasVariables() const
{
    const DialectRenderer::Options& options = state_.options;
    return options.metadata && !options.metadata->entries().empty() && state_.source.hasReferences();
}

} // namespace lumora::dialect
