#include "multimarkdown_binding/SourceScanner.h"

#include "multimarkdown_binding/BlockRules.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/LinkDefinitions.h"
#include "multimarkdown_binding/SourceLines.h"

#include <algorithm>
#include <optional>

namespace lumora::dialect {

SourceScanner::SourceScanner(std::string_view text, const DialectSource::Options& options, DialectSource& source)
    : text_(text),
      options_(options),
      source_(source),
      body_(source.document_, source.interestingLines_, options),
      tableLines_(source.tableShapes_, source.tableSectionLines_)
{
    if (options.lineOrigins) body_.traceOrigins(source.documentOrigins_, text);
}

void SourceScanner::scanBody()
{
    while (position_ < text_.size()) {
        lineStart_ = position_;
        const std::string_view line = lineAt(text_, position_);
        position_ = std::min(text_.size(), position_ + line.size() + 1);
        if (options_.lineOrigins) body_.setReadLine(line);

        if (state_ == State::noteDefinition && continueNote(line)) continue;
        // Right under a line of a paragraph at the top level, a definition
        // starts as it does after a blank line.
        const bool underText = (!tracker_.isInsideBlock() && topLevel_.isOpen()) || endsNestedText(line);
        if (options_.notes && !tracker_.isInsideBlock() && (definitionMayStart_ || underText) && startNote(line))
            continue;
        if (options_.dialect && !tracker_.isInsideBlock() && definitionListLine(line)) continue;
        previousBlank_ = isBlankLine(line) || isAtxHeading(line);
        const bool linkDefinition = !tracker_.isInsideBlock() && isLinkDefinition(line);
        if (linkDefinition && takeLinkDefinition(line, underText)) continue;
        writeTextLine(line, linkDefinition);
    }
}

// A definition at the start of a line right under a quote, a list item or a
// definition list's definition: MultiMarkdown ends the block there, where
// cmark would go on with its text lazily. (Indented, the line may belong to
// the item, its code say, and stays what cmark makes of it.)
bool SourceScanner::endsNestedText(std::string_view line)
{
    if (tracker_.isInsideBlock() || !topLevel_.isNestedOpen() || line.empty() || line[0] != '[') return false;
    if (!isLinkDefinition(line) && !(options_.notes && definitionStart(line))) return false;
    definitionList_ = DefinitionList::none;
    return true;
}

// A line after a note's definition started: its content goes on while
// lines are indented (after blank lines) or continue it lazily; false when
// the note ended before line.
bool SourceScanner::continueNote(std::string_view line)
{
    PendingNote& note = notes_.back();
    if (isBlankLine(line)) {
        ++noteBlanks_;
        return true;
    }
    if (noteBlanks_ == 0) {
        if (!definitionStart(line) && !startsBlock(line) && !isLinkDefinition(line)) {
            note.lines.push_back(dedented(line));
            return true;
        }
        state_ = State::text;
        definitionMayStart_ = true;
        return false;
    }
    if (isIndentedLine(line)) {
        note.lines.insert(note.lines.end(), size_t(noteBlanks_), std::string_view());
        note.lines.push_back(dedented(line));
        noteBlanks_ = 0;
        return true;
    }
    state_ = State::text;
    for (int i = 0; i < noteBlanks_; ++i) writeBlankLine();
    definitionMayStart_ = true;
    return false;
}

// "[^id]: text", "[#key]: text", "[?term]: text" or "[>ABBR]: text".
bool SourceScanner::startNote(std::string_view line)
{
    const std::optional<DefinitionStart> start = definitionStart(line);
    if (!start) return false;
    PendingNote note;
    note.definition.kind = start->kind;
    note.definition.key = DialectSource::normalizedNoteKey(start->label);
    note.definition.label = std::string(start->label);
    if (!start->rest.empty()) note.lines.push_back(start->rest);
    notes_.push_back(std::move(note));
    state_ = State::noteDefinition;
    noteBlanks_ = 0;
    return true;
}

// Definition lists: each term a paragraph of its own, the definitions a
// list of "+" items; the pass over the tree makes them <dt> and <dd> by
// their lines.
bool SourceScanner::definitionListLine(std::string_view line)
{
    if (definitionList_ != DefinitionList::none && isDefinitionLine(line)) {
        if (definitionList_ == DefinitionList::afterTerms) {
            source_.definitionLines_.push_back(body_.lineCount() + 1);
            if (looseDefinitions_) source_.looseDefinitionLines_.push_back(body_.lineCount() + 1);
            definitionList_ = DefinitionList::definitions;
        }
        std::string item(line);
        item[leadingSpaces(line)] = '+';
        // The list rules follow the item, for a list in the definition.
        std::string unused;
        bool blankBefore = false;
        listRules_.adjust(item, unused, blankBefore);
        tableLines_.written(item, body_.lineCount() + 1, false, false);
        body_.write(item);
        tracker_.feed(item);
        topLevel_.feed(item);
        previousBlank_ = false;
        return true;
    }
    if (!isBlankLine(line) && previousBlank_ && !isIndentedLine(line)) definitionList_ = DefinitionList::none;
    if (previousBlank_ && !isBlankLine(line) && !isIndentedLine(line) && !startsBlock(line)
        && !isDefinitionLine(line) && !isLinkDefinition(line) && !(options_.notes && definitionStart(line)))
        return takeTerms();
    return false;
}

// The terms of a definition list starting at the line being read, each
// written as a paragraph of its own.
bool SourceScanner::takeTerms()
{
    const TermLines terms = termsAhead(lineStart_);
    if (terms.count == 0) return false;
    size_t at = lineStart_;
    for (int i = 0; i < terms.count; ++i) {
        const std::string_view term = lineAt(text_, at);
        if (i > 0) body_.write({});
        source_.termLines_.push_back(body_.lineCount() + 1);
        tableLines_.written(term, body_.lineCount() + 1, false, false);
        body_.write(term);
        at += term.size() + 1;
    }
    if (!terms.blankBefore) body_.write({});
    topLevel_.feed({});
    position_ = std::min(at, text_.size());
    definitionList_ = DefinitionList::afterTerms;
    looseDefinitions_ = terms.blankBefore;
    previousBlank_ = true;
    definitionMayStart_ = false;
    return true;
}

SourceScanner::TermLines SourceScanner::termsAhead(size_t position) const
{
    TermLines terms;
    while (position < text_.size() && terms.count <= 16) {
        const std::string_view line = lineAt(text_, position);
        const size_t next = position + line.size() + 1;
        if (isDefinitionLine(line)) return terms;
        if (isBlankLine(line)) {
            if (terms.count > 0 && next < text_.size() && isDefinitionLine(lineAt(text_, next))) {
                terms.blankBefore = true;
                return terms;
            }
            return {};
        }
        if (startsBlock(line) || isIndentedLine(line)) return {};
        ++terms.count;
        position = next;
    }
    return {};
}

// "[label]: destination": one with attributes is rewritten without them
// (see LinkDefinitions.h); the notes document repeats each one, so that the
// notes can use them.
bool SourceScanner::takeLinkDefinition(std::string_view line, bool underText)
{
    if (underText) {
        writeBlankLine();
        // The list rules see it too: a list under the definition is a new
        // one, which may start at any number.
        std::string unused;
        bool blankBefore = false;
        listRules_.adjust({}, unused, blankBefore);
    }
    std::string_view nextLine;
    if (position_ < text_.size()) nextLine = lineAt(text_, position_);
    bool usedNextLine = false;
    std::vector<LinkAttribute> attributes;
    std::optional<std::string> rewritten;
    if (options_.dialect && (linkDefinitionMayStart_ || definitionMayStart_ || underText))
        rewritten = definitionWithoutAttributes(line, nextLine, source_.linkAttributes_.size(), attributes,
                                                usedNextLine);
    if (!rewritten) {
        if (options_.notes) linkDefinitions_.emplace_back(line);
        return false;
    }
    source_.linkAttributes_.push_back(std::move(attributes));
    if (usedNextLine) position_ = std::min(text_.size(), position_ + nextLine.size() + 1);
    linkDefinitions_.push_back(*rewritten);
    tableLines_.written(*rewritten, body_.lineCount() + 1, false, false);
    body_.write(*rewritten);
    tracker_.feed(*rewritten);
    topLevel_.feed(*rewritten);
    linkDefinitionMayStart_ = true;
    definitionMayStart_ = false;
    return true;
}

// Any other line: rewritten where MultiMarkdown's block rules differ from
// cmark's, after a blank line where a table must end, and followed by what
// it opens or closes.
void SourceScanner::writeTextLine(std::string_view line, bool linkDefinition)
{
    if (!options_.dialect || tracker_.isInsideBlock()) {
        listRules_.skip();
        writeLine(line, line, linkDefinition);
        return;
    }
    if (takeTableLines(line)) return;
    std::string rewritten;
    bool blankBefore = false;
    std::string_view written = listRules_.adjust(line, rewritten, blankBefore);
    if (blankBefore) writeBlankLine();
    std::optional<std::string> block = quotedCodeLine(written);
    if (!block && topLevel_.atBlockStart()) block = equalsRule(line);
    if (block) {
        rewritten = std::move(*block);
        written = rewritten;
    }
    writeLine(written, line, linkDefinition);
}

// MultiMarkdown's tables where cmark-gfm reads them otherwise (see
// TableLines): true when it wrote the line and the table's header lines
// after it, or left out a blank line between a table's rows; a line that
// ends a table gets a blank line before it.
bool SourceScanner::takeTableLines(std::string_view line)
{
    if (isBlankLine(line)) {
        if (!tableLines_.sectionAhead(text_, position_)) return false;
        tableLines_.beginSection(body_.lineCount() + 1);
        return true;
    }
    if (tableLines_.isInTable()) {
        // A line without a pipe (other than a caption) ends the table; cmark
        // would read it as one more row.
        if (!hasUnescapedPipe(line) && !mayBeTableCaption(line)) writeBlankLine();
        return false;
    }
    const std::optional<TableLines::Header> header =
        tableLines_.headerAhead(text_, lineStart_, topLevel_.atBlockStart(), body_.lineCount() + 1);
    if (!header) return false;
    std::string unused;
    bool blankBefore = false;
    for (const std::string& row : header->lines) {
        listRules_.adjust(row, unused, blankBefore);
        writeLine(row, row, false);
    }
    position_ = header->end;
    tableLines_.enterTable();
    return true;
}

void SourceScanner::writeLine(std::string_view written, std::string_view line, bool linkDefinition)
{
    if (!tracker_.isInsideFence() && tables_.needsBreakBefore(written)) writeBlankLine();
    const bool insideBlock = tracker_.isInsideBlock();
    tableLines_.written(written, body_.lineCount() + 1, insideBlock, topLevel_.atBlockStart());
    if (insideBlock) topLevel_.skip();
    else topLevel_.feed(written);
    body_.write(written, tracker_.isInsideFence());
    tracker_.feed(line);
    const bool blankOrHeading = isBlankLine(line) || isAtxHeading(line);
    definitionMayStart_ = !tracker_.isInsideBlock() && blankOrHeading;
    linkDefinitionMayStart_ = !tracker_.isInsideBlock() && (blankOrHeading || linkDefinition);
}

void SourceScanner::writeBlankLine()
{
    tableLines_.written({}, body_.lineCount() + 1, false, topLevel_.atBlockStart());
    body_.write({});
    topLevel_.feed({});
}

void SourceScanner::finish()
{
    // The notes form a document of their own, parsed apart from the body so
    // that nothing left open in one can swallow the other. It begins with the
    // body's link definitions; each note follows a separator comment.
    DocumentOutput notesOutput(source_.notesDocument_, source_.interestingNoteLines_, options_);
    if (options_.lineOrigins) notesOutput.traceOrigins(source_.notesOrigins_, text_);
    bool hasNoteText = false;
    for (const PendingNote& note : notes_) hasNoteText |= note.definition.kind != NoteKind::abbreviation;
    if (hasNoteText)
        for (const std::string& line : linkDefinitions_) notesOutput.write(line);

    source_.definitions_.reserve(notes_.size());
    for (PendingNote& note : notes_) {
        NoteDefinition& definition = note.definition;
        if (definition.kind == NoteKind::abbreviation) {
            for (std::string_view line : note.lines) {
                const std::string_view words = trimmedSpaces(line);
                if (words.empty()) continue;
                if (!definition.title.empty()) definition.title += ' ';
                definition.title.append(words);
            }
        } else {
            notesOutput.write({});
            notesOutput.writeRaw(noteSeparatorLine);
            definition.firstLine = notesOutput.lineCount() + 1;
            BlockTracker noteTracker;
            TableBudget noteTables;
            ListRules noteLists;
            std::string rewritten;
            for (std::string_view line : note.lines) {
                if (!noteTracker.isInsideFence() && noteTables.needsBreakBefore(line)) notesOutput.write({});
                std::string_view written = line;
                if (!options_.dialect || noteTracker.isInsideBlock()) noteLists.skip();
                else written = noteLists.adjustInItems(line, rewritten);
                notesOutput.write(written, noteTracker.isInsideFence());
                noteTracker.feed(line);
            }
            if (noteTracker.isInsideBlock()) notesOutput.write(noteTracker.closingLine());
            definition.lastLine = notesOutput.lineCount();
        }
        source_.definitions_.push_back(std::move(definition));
    }
    // Separator lines count as markers: one swallowed by a raw HTML block a
    // note left open must still be taken out.
    source_.hasMarkers_ = body_.wroteMarkers() || notesOutput.wroteMarkers() || !source_.notesDocument_.empty()
        || !source_.linkAttributes_.empty();
    source_.hasReferences_ = body_.sawReferences() || notesOutput.sawReferences() || !source_.definitions_.empty();
    source_.hasInlineAttributes_ = body_.sawInlineAttributes() || notesOutput.sawInlineAttributes();
}

} // namespace lumora::dialect
