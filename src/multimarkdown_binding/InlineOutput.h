#pragma once

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectTree.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// The children of one inline container as the bracket scan rebuilds them:
// runs of text (views into the container's text nodes) and whole nodes
// ("atoms"). Positions count text bytes and one per atom. Recognised
// references only ever replace the end of the output, so every byte is read
// a bounded number of times and every atom moved at most once.
struct InlineOutput {
    struct Piece {
        cmark_node* atom = nullptr;   // a whole node; otherwise text:
        cmark_node* origin = nullptr; // the text node it comes from
        size_t begin = 0;
        size_t end = 0;

        std::string_view text() const { return literalOf(origin).substr(begin, end - begin); }
        size_t size() const { return end - begin; }
    };
    // An opening bracket and what the output looked like before it.
    struct Opening {
        size_t piece = 0;
        size_t offset = 0; // of the bracket in its piece
        int64_t position = 0;
        int64_t lastSpace = -1;
        int64_t lastAtom = -1;
        int64_t lastLink = -1;
    };

    std::vector<Piece> pieces;
    int64_t length = 0;
    int64_t lastSpace = -1; // position of the last white space, -1 for none
    int64_t lastAtom = -1;
    int64_t lastLink = -1; // position of the last atom that is a link

    void appendText(cmark_node* origin, size_t begin, size_t end)
    {
        if (begin == end) return;
        if (!pieces.empty() && !pieces.back().atom && pieces.back().origin == origin && pieces.back().end == begin)
            pieces.back().end = end;
        else
            pieces.push_back(Piece{nullptr, origin, begin, end});
        const std::string_view text = literalOf(origin).substr(begin, end - begin);
        for (size_t i = text.size(); i-- > 0;) {
            if (isWhitespace(text[i])) {
                lastSpace = length + int64_t(i);
                break;
            }
        }
        length += int64_t(text.size());
    }

    void appendAtom(cmark_node* atom)
    {
        pieces.push_back(Piece{atom, nullptr, 0, 0});
        lastAtom = length;
        if (atom->type == CMARK_NODE_LINK) lastLink = length;
        ++length;
    }

    // The opening bracket just appended.
    Opening openingAtEnd() const
    {
        Opening open;
        open.piece = pieces.size() - 1;
        open.offset = pieces.back().size() - 1;
        open.position = length - 1;
        open.lastSpace = lastSpace;
        open.lastAtom = lastAtom;
        open.lastLink = lastLink;
        return open;
    }

    std::string_view firstText(const Opening& open) const { return pieces[open.piece].text(); }

    // The text after an opening bracket and `skip` more bytes, when no atom
    // lies there.
    std::string textAfter(const Opening& open, size_t skip) const
    {
        std::string text;
        size_t offset = open.offset + skip;
        for (size_t i = open.piece; i < pieces.size(); ++i) {
            const std::string_view piece = pieces[i].text();
            if (offset < piece.size()) text.append(piece.substr(offset));
            offset = 0;
        }
        return text;
    }

    // Whether an atom or anything but white space follows an opening bracket
    // and `skip` more bytes. Reads up to the first such byte only.
    bool hasContentAfter(const Opening& open, size_t skip) const
    {
        if (lastAtom > open.position) return true;
        size_t offset = open.offset + skip;
        for (size_t i = open.piece; i < pieces.size(); ++i) {
            const std::string_view piece = pieces[i].text();
            for (size_t j = offset; j < piece.size(); ++j)
                if (!isWhitespace(piece[j])) return true;
            offset = 0;
        }
        return false;
    }

    // Plain text between an opening bracket (and `skip` more bytes) and
    // position end, atoms included; nullopt beyond labelLimit.
    std::optional<std::string> plainBetween(const Opening& open, size_t skip, int64_t end) const
    {
        std::string text;
        int64_t position = open.position;
        size_t offset = open.offset;
        for (size_t i = open.piece; i < pieces.size() && position < end; ++i) {
            const Piece& piece = pieces[i];
            if (piece.atom) {
                if (!appendPlainText(text, piece.atom)) return std::nullopt;
                ++position;
                continue;
            }
            const std::string_view view = piece.text();
            for (size_t j = offset; j < view.size() && position < end; ++j, ++position) {
                if (position >= open.position + int64_t(skip)) text += view[j];
                if (text.size() > labelLimit) return std::nullopt;
            }
            offset = 0;
        }
        return text;
    }

    // Takes everything from an opening bracket on off the output; returns
    // it, its first `skip` bytes dropped, as text and atoms.
    std::vector<Piece> cut(const Opening& open, size_t skip)
    {
        std::vector<Piece> removed;
        if (open.piece < pieces.size()) {
            Piece& first = pieces[open.piece];
            const size_t from = std::min(first.end, first.begin + open.offset + skip);
            if (from < first.end) removed.push_back(Piece{nullptr, first.origin, from, first.end});
            first.end = first.begin + open.offset;
            for (size_t i = open.piece + 1; i < pieces.size(); ++i) removed.push_back(pieces[i]);
            pieces.resize(first.size() == 0 ? open.piece : open.piece + 1);
        }
        length = open.position;
        lastSpace = open.lastSpace;
        lastAtom = open.lastAtom;
        lastLink = open.lastLink;
        return removed;
    }

    // Takes the last byte of text off the output (the "!" before an
    // image's bracket).
    void dropLastByte()
    {
        if (pieces.empty() || pieces.back().atom || pieces.back().size() == 0) return;
        if (--pieces.back().end == pieces.back().begin) pieces.pop_back();
        --length;
    }
};

// Frees the nodes among pieces taken off an output and not used again.
inline void discardAtoms(const std::vector<InlineOutput::Piece>& pieces)
{
    for (const InlineOutput::Piece& piece : pieces)
        if (piece.atom) discardNode(piece.atom);
}

} // namespace lumora::dialect
