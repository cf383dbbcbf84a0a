#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/BackgroundWork.h"
#include "platform/text/TextStorage.h"

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class ParsedMarkdownStylesheet;

// The restyle of a whole text (a new theme, font, text size or paragraph
// spacing) in parts: the paragraphs the writer sees at once, the rest in
// slices of the GUI thread's background work (see BackgroundWork), from
// where the writer is onwards, then from the start. A long text is then
// right on screen in a moment, and no key waits for the rest.
//
// Each paragraph is restyled exactly as restyleParagraphs() restyles it, so
// the text ends as one restyle of the whole of it leaves it. Until then the
// paragraphs not yet restyled keep their old looks. Edits are followed: a
// paragraph an edit touches while it waits still waits (restyling a
// paragraph twice changes nothing), and the paragraphs after an edit move
// with it.
class ProgressiveRestyle {
public:
    ProgressiveRestyle(TextStorage& storage, std::shared_ptr<const ParsedMarkdownStylesheet> parsed, bool markdown);
    ~ProgressiveRestyle();
    ProgressiveRestyle(const ProgressiveRestyle&) = delete;
    ProgressiveRestyle& operator=(const ProgressiveRestyle&) = delete;

    // Where the writer is (a storage offset): each slice goes on from the
    // first waiting paragraph at or after it. Asked once a slice.
    std::function<qsizetype()> focus;
    // Called once, when the last waiting paragraph was restyled (by a slice
    // or by finish()).
    std::function<void()> finished;
    // Asked before each slice, when set: false ends the restyle where it is
    // (another restyle of the whole text took its place), without finished.
    std::function<bool()> wanted;

    // Restyles the paragraphs that ranges touch now, in one editing
    // bracket, and leaves the rest to the background.
    void start(const std::vector<Range>& first);
    // Leaves everything from from on to the background too (a fenced code
    // block opened or closed before it changed what it is); restyles
    // nothing now. Not after the restyle has finished.
    void startFrom(qsizetype from);
    // Restyles everything that still waits, now.
    void finish();
    bool isFinished() const { return m_waiting.empty(); }
    // The storage is gone: nothing more is restyled, and it is not touched
    // again (not even by the destructor).
    void forgetStorage();
    // What still waits, in text order (for tests).
    const std::vector<Range>& waiting() const { return m_waiting; }

private:
    void restyle(Range range);
    void take(Range done);
    void waitFrom(qsizetype from);
    void follow(const TextStorage::Change& change);
    bool slice(const QDeadlineTimer& deadline);
    void end();

    TextStorage& m_storage;
    std::shared_ptr<const ParsedMarkdownStylesheet> m_parsed;
    bool m_markdown;
    std::vector<Range> m_waiting; // in text order, apart
    int m_observer = 0;
    bool m_ended = false;
    BackgroundWork::Task m_task;
};

} // namespace lumora
