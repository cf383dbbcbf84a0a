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
// text are single words of letters, digits, periods and hyphens.
bool isWordTerm(std::string_view label)
{
    if (label.empty() || label.size() > 64) return false;
    for (char c : label)
        if (!isWordTermChar(c)) return false;
    return true;
}

} // namespace

Terms::Terms(ConversionState& state, Notes& notes) : state_(state), notes_(notes) {}

void Terms::takeDefinitions()
{
    const bool dialect = state_.options.dialect;
    for (const NoteDefinition& definition : state_.source.definitions()) {
        if (definition.kind == NoteKind::abbreviation) {
            abbreviations_.try_emplace(definition.key, definition.title);
            if (dialect && isWordTerm(definition.label))
                wordTerms_.try_emplace(definition.label, WordTerm{NoteKind::abbreviation, -1, definition.key});
        } else if (dialect && definition.kind == NoteKind::glossary && isWordTerm(definition.label)) {
            const int note = notes_.find(NoteKind::glossary, definition.key);
            wordTerms_.try_emplace(definition.label, WordTerm{NoteKind::glossary, note, definition.key});
        }
    }
    for (const auto& [key, title] : abbreviations_) abbreviationKeyLength_ = std::max(abbreviationKeyLength_, key.size());
}

size_t Terms::longestKey(NoteKind kind) const
{
    return kind == NoteKind::abbreviation ? abbreviationKeyLength_ : notes_.longestKey(kind);
}

void Terms::markWordTerms(cmark_node* node)
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
        cmark_node* reference = state_.annotations.newReference(term.kind, term.note, {}, word);
        if (term.kind == NoteKind::abbreviation) {
            Reference& mark = NodeAnnotations::referenceOf(reference);
            mark.title = abbreviations_[term.key];
            mark.key = term.key;
        }
        const std::string rest(text.substr(start + word.size()));
        const std::string before(text.substr(0, start));
        cmark_node_insert_after(node, reference);
        if (!rest.empty()) cmark_node_insert_after(reference, newText(rest));
        cmark_node_set_literal(node, before.c_str());
        return;
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
