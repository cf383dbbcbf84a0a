#include "multimarkdown_binding/BracketReferences.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"
#include "multimarkdown_binding/InlineAttributes.h"

#include <cstring>

namespace lumora::dialect {

BracketReferences::BracketReferences(ConversionState& state, Notes& notes, Terms& terms, const Headings& headings)
    : state_(state), notes_(notes), terms_(terms), headings_(headings)
{
}

// The bracket pairs cmark left as text among container's children
// ("[^id]", "[#key]", "[locator][#key]", "[?term]", "[?(term) text]",
// "[>ABBR]", "[>(ABBR) text]", "[^inline note]") become references. Pairs
// are matched with a stack, innermost first; a recognised pair collapses
// into one node before the pairs around it are looked at.
void BracketReferences::findReferences(cmark_node* container)
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
    const bool mayHaveAttributes = state_.options.dialect && state_.source.hasInlineAttributes();
    cmark_node* child = container->first_child;
    size_t start = 0; // in child, after an inline link that ended in it
    while (child) {
        if (child->type != CMARK_NODE_TEXT) {
            output.appendAtom(child);
            child = child->next;
            continue;
        }
        const std::string_view text = literalOf(child);
        cmark_node* resumeAt = nullptr; // after an inline link that ended in a later child
        size_t i = start;
        start = 0;
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
                if (mayHaveAttributes && i < text.size() && text[i] == '(') {
                    if (const std::optional<InlineDestination> destination = destinationWithAttributes(child, i)) {
                        if (makeInlineLink(output, open, *destination)) {
                            changed = true;
                            lastOpening.reset();
                            if (destination->endNode == child) {
                                i = destination->endOffset;
                                continue;
                            }
                            resumeAt = destination->endNode;
                            start = destination->endOffset;
                            break;
                        }
                    }
                }
                const bool hasLocator = lastOpening && lastClosing + 1 == open.position;
                if (!takesLocator(output, open, text, i)
                    && recognize(output, open, hasLocator ? &*lastOpening : nullptr)) {
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
        child = resumeAt ? resumeAt : child->next;
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
        if (child->parent == nullptr) discardNode(child);
}

// "[text](url "title" key=value)" and "![alt](url key=value)": the pair
// from open to the end of the output becomes the link or image, with its
// attributes; false where a link may not stand (inside another).
bool BracketReferences::makeInlineLink(InlineOutput& output, const InlineOutput::Opening& open,
                                       const InlineDestination& destination)
{
    const std::string_view firstPiece = output.firstText(open);
    const bool image = open.offset > 0 && firstPiece[open.offset - 1] == '!';
    // A link may not hold another.
    if (!image && (state_.linkDepth > 0 || output.lastLink > open.position)) return false;
    std::vector<InlineOutput::Piece> content = output.cut(open, 1);
    if (image) output.dropLastByte();
    cmark_node* node = newNode(image ? CMARK_NODE_IMAGE : CMARK_NODE_LINK);
    cmark_node_set_url(node, destination.url.c_str());
    cmark_node_set_title(node, destination.title.c_str());
    for (InlineOutput::Piece& piece : content) {
        if (piece.atom) cmark_node_append_child(node, piece.atom);
        else if (piece.size() > 0) cmark_node_append_child(node, newText(piece.text()));
    }
    BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::linkAttributes);
    style.attributes = state_.annotations.keepAttributes(destination.attributes);
    state_.annotations.bind(node, &style);
    output.appendAtom(node);
    return true;
}

// Whether the pair from open to the end of the output is the text of the
// pair right after it, text[after] on, rather than a reference of its own:
// "[Methods][meth]" is one link to the heading labelled "meth", and
// "[Methods][#doe]" cites with "Methods" as its locator, even where a
// heading is named "Methods". Reads up to the next bracket only.
bool BracketReferences::takesLocator(const InlineOutput& output, const InlineOutput::Opening& open,
                                     std::string_view text, size_t after) const
{
    if (after >= text.size() || text[after] != '[') return false;
    const std::string_view firstPiece = output.firstText(open);
    const char sigil = open.offset + 1 < firstPiece.size() ? firstPiece[open.offset + 1] : '\0';
    if (sigil != '\0' && std::string_view("^#?>%").find(sigil) != std::string_view::npos) return false;
    const size_t close = text.find_first_of("[]", after + 1);
    if (close == std::string_view::npos || text[close] != ']' || close == after + 1) return false;
    const std::string_view next = text.substr(after + 1, close - after - 1);
    if (next[0] == '#') return state_.options.notes && state_.options.citations;
    return state_.options.dialect && state_.linkDepth == 0 && headings_.hasTargets()
        && headings_.targetOf(headingLabel(restoredText(next, true)));
}

// The pair from open to the end of the output (the closing bracket not
// yet written) turned into a reference when it is one; false leaves it.
bool BracketReferences::recognize(InlineOutput& output, const InlineOutput::Opening& open,
                                  const InlineOutput::Opening* locator)
{
    if (open.position + 1 >= output.length) {
        // "[text][]": a cross-reference by the text before.
        return locator && state_.options.dialect && recognizeCrossReference(output, open, locator);
    }
    const std::string_view firstPiece = output.firstText(open);
    const char sigil = open.offset + 1 < firstPiece.size() ? firstPiece[open.offset + 1] : '\0';
    if (state_.options.notes) {
        switch (sigil) {
        case '^': return recognizeFootnote(output, open);
        case '#': return state_.options.citations && recognizeCitation(output, open, locator);
        case '?':
        case '>': return terms_.recognize(output, open);
        default: break;
        }
    }
    if (!state_.options.dialect) return false;
    if (sigil == '%') return recognizeVariable(output, open);
    return recognizeCrossReference(output, open, locator);
}

// "[%key]": the value of a metadata key, as plain text.
bool BracketReferences::recognizeVariable(InlineOutput& output, const InlineOutput::Opening& open)
{
    if (!state_.options.metadata || output.lastAtom > open.position || output.length - open.position > 256) return false;
    if (variables_.empty()) {
        // Each key once, with its last value, looked up in constant time:
        // a text may use many variables of a long block.
        for (const MetadataBlock::Entry& entry : state_.options.metadata->entries())
            variables_.insert_or_assign(entry.key, &entry.value);
    }
    const auto it = variables_.find(MetadataBlock::normalizedKey(output.textAfter(open, 2)));
    if (it == variables_.end()) return false;
    // A long value used many times could make output the square of the
    // text's size: past a budget of a few times the text, variables stay
    // as written.
    if (it->second->size() > state_.copyBudget) return false;
    state_.copyBudget -= it->second->size();
    discardAtoms(output.cut(open, 0));
    // The value is text as it stands: nothing in it is read again (a
    // value may name its own variable).
    Raw& raw = state_.annotations.newRaw();
    appendEscapedHtml(raw.html, *it->second);
    output.appendAtom(state_.annotations.newMark(&raw, *it->second));
    return true;
}

// "[Heading text]", "[text][Heading text]", "[Heading text][]" and the
// same with a heading's label: a link to the heading.
bool BracketReferences::recognizeCrossReference(InlineOutput& output, const InlineOutput::Opening& open,
                                                const InlineOutput::Opening* locator)
{
    if (!headings_.hasTargets() || state_.linkDepth > 0) return false;
    const bool empty = open.position + 1 >= output.length;
    const InlineOutput::Opening& named = empty ? *locator : open;
    const int64_t namedEnd = empty ? open.position - 1 : output.length;
    if (namedEnd - named.position > int64_t(headings_.longestName() * 3 + 16)) return false;
    const std::optional<std::string> name = output.plainBetween(named, 1, namedEnd);
    if (!name) return false;
    const std::string* target = headings_.targetOf(headingLabel(restoredText(*name, true)));
    if (!target) return false;

    std::vector<InlineOutput::Piece> shown;
    if (locator) {
        // The text of the pair before, without its closing bracket.
        discardAtoms(output.cut(open, 0));
        shown = output.cut(*locator, 1);
        if (!shown.empty() && !shown.back().atom && shown.back().size() > 0) --shown.back().end;
    } else {
        shown = output.cut(open, 1);
    }
    cmark_node* link = newNode(CMARK_NODE_LINK);
    const std::string url = "#" + *target;
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
std::optional<std::string> BracketReferences::keyAfterSigil(const InlineOutput& output,
                                                            const InlineOutput::Opening& open, NoteKind kind) const
{
    if (output.lastAtom > open.position) return std::nullopt;
    // Smart typography can make a label up to three times longer.
    if (output.length - open.position - 2 > int64_t(notes_.longestKey(kind) * 3 + 8)) return std::nullopt;
    return DialectSource::normalizedNoteKey(output.textAfter(open, 2));
}

// "[^id]" with a definition; any other "[^text]" (one word with no
// definition, as "[^sic]", included) is a note written where it stands.
bool BracketReferences::recognizeFootnote(InlineOutput& output, const InlineOutput::Opening& open)
{
    const bool inlineNote = output.lastAtom > open.position || output.lastSpace > open.position;
    if (!inlineNote) {
        const std::optional<std::string> key = keyAfterSigil(output, open, NoteKind::footnote);
        const int note = key ? notes_.find(NoteKind::footnote, *key) : -1;
        if (note >= 0) {
            output.cut(open, 0);
            output.appendAtom(state_.annotations.newReference(NoteKind::footnote, note, {}));
            return true;
        }
    }
    // An inline note needs something besides white space.
    if (!output.hasContentAfter(open, 2)) return false;
    std::vector<InlineOutput::Piece> content = output.cut(open, 2);
    const int note = notes_.addInlineNote(NoteKind::footnote, {}, std::move(content));
    output.appendAtom(state_.annotations.newReference(NoteKind::footnote, note, {}));
    return true;
}

bool BracketReferences::recognizeCitation(InlineOutput& output, const InlineOutput::Opening& open,
                                          const InlineOutput::Opening* locatorOpen)
{
    // "[#key]", "[#key;]" (a textual citation), or a source cited by its
    // text alone, "[#Doe, A Book (2005)]".
    int note = -1;
    if (std::optional<std::string> key = keyAfterSigil(output, open, NoteKind::citation)) {
        note = notes_.find(NoteKind::citation, *key);
        if (note < 0 && !key->empty() && key->back() == ';') {
            key->pop_back();
            note = notes_.find(NoteKind::citation, *key);
        }
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
        if (!state_.options.dialect || !output.hasContentAfter(open, 2)) return false;
        std::vector<InlineOutput::Piece> content = output.cut(open, 2);
        note = notes_.addInlineNote(NoteKind::citation, {}, std::move(content));
    }
    const InlineOutput::Opening cutAt = locatorOpen ? *locatorOpen : open;
    discardAtoms(output.cut(cutAt, 0));
    const bool hidden = locatorOpen && DialectSource::normalizedNoteKey(locator) == "not cited";
    cmark_node* node = state_.annotations.newReference(NoteKind::citation, note, hidden ? std::string() : std::move(locator));
    NodeAnnotations::referenceOf(node).hidden = hidden;
    output.appendAtom(node);
    return true;
}

} // namespace lumora::dialect
