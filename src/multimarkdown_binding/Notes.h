#pragma once

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/InlineOutput.h"

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumora::dialect {

// The notes of a conversion (footnotes, citations and glossary entries),
// defined apart ("[^id]: text") or written where they are referenced: their
// content blocks, held outside the tree until they are listed; their
// numbers, given in the order the pass meets their first references; and
// the lists of them appended after the body.
class Notes {
public:
    explicit Notes(ConversionState& state);

    Notes(const Notes&) = delete;
    Notes& operator=(const Notes&) = delete;

    // The source's definitions of notes, each key once (the first wins),
    // with their blocks moved out of the notes document.
    void takeDefinitions(cmark_node* notesRoot);

    // The note a key of kind names; -1 for none.
    int find(NoteKind kind, const std::string& key) const;
    // The longest key of kind: a label longer than any cannot name one.
    size_t longestKey(NoteKind kind) const { return keyLength_[size_t(kind)]; }

    // A note whose content is the given text and nodes, in a paragraph of
    // its own.
    int addInlineNote(NoteKind kind, std::string label, std::vector<InlineOutput::Piece> content);
    // The same for a note later references find by key (an inline glossary
    // entry).
    int addInlineNote(NoteKind kind, const std::string& key, std::string label,
                      std::vector<InlineOutput::Piece> content);

    // The pass meets a reference to a note: references are numbered in the
    // order they are read, and node shows its number.
    void enterReference(cmark_node* node, Reference& reference);

    // The notes numbered so far, in the order of their numbers (reading one
    // may number further notes, which join the end), and the blocks of each.
    size_t numberedCount() const { return order_.size(); }
    std::vector<cmark_node*> blocksOfNumbered(size_t index) const;
    NoteKind kindOfNumbered(size_t index) const { return notes_[size_t(order_[index])].kind; }

    // After the pass: the list of each kind's numbered notes, appended to
    // root.
    void appendLists(cmark_node* root);

private:
    struct Note {
        NoteKind kind = NoteKind::footnote;
        std::string label;
        std::vector<NodeOwner> blocks; // empty owners once listed
        int number = 0;
        int references = 0;
    };

    void appendList(cmark_node* root, NoteKind kind);

    ConversionState& state_;
    std::vector<Note> notes_;
    std::array<std::unordered_map<std::string, int>, 3> keys_; // by kind
    std::array<size_t, 3> keyLength_{};
    std::vector<int> order_;
    std::array<int, 3> counters_{};
};

} // namespace lumora::dialect
