#include "multimarkdown_binding/Notes.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>

namespace lumora::dialect {

Notes::Notes(ConversionState& state) : state_(state) {}

void Notes::takeDefinitions(cmark_node* notesRoot)
{
    struct Region {
        int firstLine;
        int lastLine;
        int note; // -1: a repeated definition, dropped
    };
    std::vector<Region> regions;
    for (const NoteDefinition& definition : state_.source.definitions()) {
        if (definition.kind == NoteKind::abbreviation) continue;
        auto& keys = keys_[size_t(definition.kind)];
        const auto [it, added] = keys.try_emplace(definition.key, int(notes_.size()));
        if (added) notes_.push_back(Note{definition.kind, definition.label, {}, 0, 0});
        regions.push_back({definition.firstLine, definition.lastLine, added ? it->second : -1});
    }
    for (size_t kind = 0; kind < keys_.size(); ++kind)
        for (const auto& [key, note] : keys_[kind]) keyLength_[kind] = std::max(keyLength_[kind], key.size());

    if (!notesRoot) return;
    size_t region = 0;
    for (cmark_node* node = notesRoot->first_child; node;) {
        cmark_node* next = node->next;
        if (node->type == CMARK_NODE_HTML_BLOCK
            && literalOf(node).substr(0, noteSeparatorLine.size()) == noteSeparatorLine) {
            discardNode(node);
        } else {
            while (region < regions.size() && regions[region].lastLine < node->start_line) ++region;
            if (region < regions.size() && regions[region].firstLine <= node->start_line) {
                cmark_node_unlink(node);
                NodeOwner block(node);
                if (regions[region].note >= 0) notes_[size_t(regions[region].note)].blocks.push_back(std::move(block));
            }
        }
        node = next;
    }
}

int Notes::find(NoteKind kind, const std::string& key) const
{
    const auto& keys = keys_[size_t(kind)];
    const auto it = keys.find(key);
    return it == keys.end() ? -1 : it->second;
}

int Notes::addInlineNote(NoteKind kind, std::string label, std::vector<InlineOutput::Piece> content)
{
    NodeOwner paragraph(newNode(CMARK_NODE_PARAGRAPH));
    bool leading = true;
    for (InlineOutput::Piece& piece : content) {
        if (piece.atom) {
            cmark_node_append_child(paragraph.get(), piece.atom);
            leading = false;
            continue;
        }
        std::string_view text = piece.text();
        if (leading) {
            while (!text.empty() && isWhitespace(text.front())) text.remove_prefix(1);
            if (text.empty()) continue;
            leading = false;
        }
        cmark_node_append_child(paragraph.get(), newText(text));
    }
    Note& note = notes_.emplace_back();
    note.kind = kind;
    note.label = std::move(label);
    note.blocks.push_back(std::move(paragraph));
    return int(notes_.size() - 1);
}

int Notes::addInlineNote(NoteKind kind, const std::string& key, std::string label,
                         std::vector<InlineOutput::Piece> content)
{
    keyLength_[size_t(kind)] = std::max(keyLength_[size_t(kind)], key.size());
    const int note = addInlineNote(kind, std::move(label), std::move(content));
    keys_[size_t(kind)].emplace(key, note);
    return note;
}

void Notes::enterReference(cmark_node* node, Reference& reference)
{
    Note& note = notes_[size_t(reference.note)];
    if (note.number == 0) {
        note.number = ++counters_[size_t(note.kind)];
        order_.push_back(reference.note);
    }
    reference.number = note.number;
    if (reference.hidden) return;
    reference.occurrence = ++note.references;
    std::string shown;
    if (reference.noteKind == NoteKind::footnote) {
        shown = std::to_string(note.number);
    } else if (reference.noteKind == NoteKind::citation) {
        shown = '[';
        shown += std::to_string(note.number);
        if (!reference.locator.empty()) shown += ", " + reference.locator;
        shown += "]";
    } else {
        return;
    }
    cmark_node_set_literal(node, shown.c_str());
}

std::vector<cmark_node*> Notes::blocksOfNumbered(size_t index) const
{
    std::vector<cmark_node*> blocks;
    for (const NodeOwner& block : notes_[size_t(order_[index])].blocks) blocks.push_back(block.get());
    return blocks;
}

void Notes::appendLists(cmark_node* root)
{
    for (NoteKind kind : {NoteKind::footnote, NoteKind::citation, NoteKind::glossary}) appendList(root, kind);
}

void Notes::appendList(cmark_node* root, NoteKind kind)
{
    const NoteNames names = noteNames(kind, state_.annotations.language());
    cmark_node* section = nullptr;
    for (int index : order_) {
        Note& note = notes_[size_t(index)];
        if (note.kind != kind) continue;
        if (!section) {
            const std::string enter = std::string("<div class=\"") + names.listClass + "\">\n<hr />\n<ol>";
            section = newNode(CMARK_NODE_CUSTOM_BLOCK);
            cmark_node_set_on_enter(section, enter.c_str());
            cmark_node_set_on_exit(section, "</ol>\n</div>");
        }
        const std::string number = std::to_string(note.number);
        const std::string enter = std::string("<li id=\"") + names.prefix + ":" + number + "\">";
        cmark_node* item = newNode(CMARK_NODE_CUSTOM_BLOCK);
        cmark_node_set_on_enter(item, enter.c_str());
        cmark_node_set_on_exit(item, "</li>");
        for (NodeOwner& block : note.blocks) cmark_node_append_child(item, block.release());

        if (kind == NoteKind::glossary) {
            std::string term = "<span class=\"glossary name\">";
            appendEscapedHtml(term, note.label);
            term += "</span>: ";
            cmark_node* firstBlock = item->first_child;
            if (!firstBlock || firstBlock->type != CMARK_NODE_PARAGRAPH) {
                firstBlock = newNode(CMARK_NODE_PARAGRAPH);
                cmark_node_prepend_child(item, firstBlock);
            }
            cmark_node_prepend_child(firstBlock, newHtmlInline(term));
        }

        const std::string backlink = std::string("<a href=\"#") + names.prefix + "ref:" + number + "\" title=\""
            + names.backTitle + "\" class=\"reverse" + names.name + "\">&#8617;</a>";
        cmark_node* lastBlock = item->last_child;
        if (note.references == 0) {
            // Listed but not cited: there is no way back.
        } else if (lastBlock && lastBlock->type == CMARK_NODE_PARAGRAPH) {
            if (lastBlock->first_child) cmark_node_append_child(lastBlock, newText(" "));
            cmark_node_append_child(lastBlock, newHtmlInline(backlink));
        } else {
            cmark_node* paragraph = newNode(CMARK_NODE_PARAGRAPH);
            cmark_node_append_child(paragraph, newHtmlInline(backlink));
            cmark_node_append_child(item, paragraph);
        }
        cmark_node_append_child(section, item);
    }
    if (section) cmark_node_append_child(root, section);
}

} // namespace lumora::dialect
