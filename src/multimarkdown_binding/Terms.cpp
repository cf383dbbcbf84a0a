#include "multimarkdown_binding/Terms.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>

namespace lumora::dialect {

namespace {

bool isWordTermChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
        || static_cast<unsigned char>(c) >= 0x80;
}

// Abbreviations and glossary terms marked wherever they stand in the
// text are words of letters, digits, periods and hyphens, one or several
// separated by single spaces (as collapsedSpaces leaves them).
constexpr size_t wordTermLimit = 128; // bytes
constexpr size_t wordTermWords = 16;

bool isWordTerm(std::string_view label)
{
    if (label.empty() || label.size() > wordTermLimit) return false;
    size_t words = 1;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == ' ') {
            if (i == 0 || i + 1 == label.size() || label[i + 1] == ' ' || ++words > wordTermWords) return false;
        } else if (!isWordTermChar(label[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

Terms::Terms(ConversionState& state, Notes& notes) : state_(state), notes_(notes) {}

void Terms::takeDefinitions()
{
    const bool dialect = state_.options.dialect;
    for (const NoteDefinition& definition : state_.source.definitions()) {
        const std::string label = collapsedSpaces(definition.label);
        if (definition.kind == NoteKind::abbreviation) {
            abbreviations_.try_emplace(definition.key, definition.title);
            if (dialect && isWordTerm(label)) addWordTerm(label, WordTerm{NoteKind::abbreviation, -1, definition.key});
        } else if (dialect && definition.kind == NoteKind::glossary && isWordTerm(label)) {
            const int note = notes_.find(NoteKind::glossary, definition.key);
            addWordTerm(label, WordTerm{NoteKind::glossary, note, definition.key});
        }
    }
    for (const auto& [key, title] : abbreviations_) abbreviationKeyLength_ = std::max(abbreviationKeyLength_, key.size());
}

void Terms::addWordTerm(const std::string& label, WordTerm term)
{
    if (!wordTerms_.try_emplace(label, std::move(term)).second) return;
    for (size_t space = label.find(' '); space != std::string::npos; space = label.find(' ', space + 1))
        wordTermPrefixes_.insert(label.substr(0, space));
}

size_t Terms::longestKey(NoteKind kind) const
{
    return kind == NoteKind::abbreviation ? abbreviationKeyLength_ : notes_.longestKey(kind);
}

// The defined terms among the words of each run of text in the container
// (text nodes and the line breaks between them) become references: at
// each word's start, the longest term of the words from there, a term's
// last word also without the periods and hyphens that end it ("MMD." at a
// sentence's end). Reading stops a term's length after each word's start,
// so it stays linear.
void Terms::markWordTerms(cmark_node* container)
{
    cmark_node* child = container->first_child;
    while (child) {
        if (child->type != CMARK_NODE_TEXT) {
            child = child->next;
            continue;
        }
        cmark_node* last = child;
        while (last->next && (last->next->type == CMARK_NODE_TEXT || last->next->type == CMARK_NODE_SOFTBREAK))
            last = last->next;
        cmark_node* after = last->next;
        markRun(child, last);
        child = after;
    }
}

void Terms::markRun(cmark_node* first, cmark_node* last)
{
    // A line break reads as "\n", which no text node holds.
    std::string joined;
    const std::string_view text = [&]() -> std::string_view {
        if (first == last) return literalOf(first);
        for (cmark_node* node = first;; node = node->next) {
            if (node->type == CMARK_NODE_SOFTBREAK) joined += '\n';
            else joined.append(literalOf(node));
            if (node == last) break;
        }
        return joined;
    }();

    struct Found {
        size_t start;
        size_t end;
        const WordTerm* term;
    };
    std::vector<Found> found;
    std::string phrase;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !isWordTermChar(text[i])) ++i;
        const size_t start = i;
        if (start == text.size()) break;
        phrase.clear();
        size_t wordStart = start;
        Found best{start, start, nullptr};
        while (true) {
            size_t wordEnd = wordStart;
            while (wordEnd < text.size() && isWordTermChar(text[wordEnd])) ++wordEnd;
            const size_t phraseSize = phrase.size();
            phrase.append(text.substr(wordStart, wordEnd - wordStart));
            // The phrase, or else without the periods and hyphens it ends
            // with.
            for (size_t end = wordEnd; end > wordStart; --end) {
                const auto it = wordTerms_.find(phrase);
                if (it != wordTerms_.end()
                    && !(readingGlossaryEntry_ && it->second.kind == NoteKind::glossary)) {
                    best = {start, end, &it->second};
                    break;
                }
                if (phrase.back() != '.' && phrase.back() != '-') break;
                phrase.pop_back();
            }
            phrase.resize(phraseSize);
            phrase.append(text.substr(wordStart, wordEnd - wordStart));
            size_t next = wordEnd;
            while (next < text.size() && isWhitespace(text[next])) ++next;
            if (next == wordEnd || next == text.size() || !isWordTermChar(text[next])
                || phrase.size() > wordTermLimit || !wordTermPrefixes_.count(phrase))
                break;
            phrase += ' ';
            wordStart = next;
        }
        if (best.term) {
            found.push_back(best);
            i = best.end;
        } else {
            while (i < text.size() && isWordTermChar(text[i])) ++i;
        }
    }
    if (found.empty()) return;

    // Text goes back as text nodes and line breaks.
    auto insertText = [&](std::string_view piece) {
        while (!piece.empty()) {
            const size_t lineEnd = piece.find('\n');
            if (lineEnd > 0) cmark_node_insert_before(first, newText(piece.substr(0, lineEnd)));
            if (lineEnd == std::string_view::npos) break;
            cmark_node_insert_before(first, newNode(CMARK_NODE_SOFTBREAK));
            piece.remove_prefix(lineEnd + 1);
        }
    };
    size_t at = 0;
    for (const Found& term : found) {
        insertText(text.substr(at, term.start - at));
        const std::string_view shown = text.substr(term.start, term.end - term.start);
        cmark_node* reference = state_.annotations.newReference(term.term->kind, term.term->note, {}, shown);
        if (term.term->kind == NoteKind::abbreviation) {
            Reference& mark = NodeAnnotations::referenceOf(reference);
            mark.title = abbreviations_[term.term->key];
            mark.key = term.term->key;
        }
        cmark_node_insert_before(first, reference);
        at = term.end;
    }
    insertText(text.substr(at));
    for (cmark_node* node = first;;) {
        cmark_node* next = node->next;
        const bool done = node == last;
        discardNode(node);
        if (done) break;
        node = next;
    }
}

bool Terms::recognize(InlineOutput& output, const InlineOutput::Opening& open)
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
        if (output.length - open.position - 2 > int64_t(longestKey(kind) * 3 + 8)) return false;
        written = collapsedSpaces(restoredText(output.textAfter(open, 2), true));
    }
    if (written.empty()) return false;
    const std::string key = DialectSource::normalizedNoteKey(written);

    if (glossary) {
        int note = notes_.find(NoteKind::glossary, key);
        if (note < 0) {
            if (!definitionStart || !output.hasContentAfter(open, definitionStart)) return false;
            std::vector<InlineOutput::Piece> content = output.cut(open, definitionStart);
            note = notes_.addInlineNote(NoteKind::glossary, key, written, std::move(content));
        } else {
            discardAtoms(output.cut(open, 0));
        }
        output.appendAtom(state_.annotations.newReference(NoteKind::glossary, note, {}, written));
        return true;
    }

    auto it = abbreviations_.find(key);
    if (it == abbreviations_.end()) {
        if (!definitionStart) return false;
        const std::optional<std::string> expansion = output.plainBetween(open, definitionStart, output.length);
        if (!expansion || collapsedSpaces(*expansion).empty()) return false;
        it = abbreviations_.emplace(key, collapsedSpaces(restoredText(*expansion, true))).first;
        abbreviationKeyLength_ = std::max(abbreviationKeyLength_, key.size());
    }
    discardAtoms(output.cut(open, 0));
    cmark_node* node = state_.annotations.newReference(NoteKind::abbreviation, -1, {}, written);
    NodeAnnotations::referenceOf(node).title = it->second;
    NodeAnnotations::referenceOf(node).key = key;
    output.appendAtom(node);
    return true;
}

void Terms::enterAbbreviation(Reference& reference)
{
    // The first use is written out: "MultiMarkdown (MMD)".
    reference.firstUse = !reference.title.empty() && abbreviationsUsed_.insert(reference.key).second;
    // A long expansion used very often loses its title past the budget.
    const size_t copied = reference.title.size() * (reference.firstUse ? 2 : 1);
    if (copied > state_.copyBudget) {
        reference.title = {};
        reference.firstUse = false;
    } else {
        state_.copyBudget -= copied;
    }
}

} // namespace lumora::dialect
