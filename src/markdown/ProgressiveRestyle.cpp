#include "markdown/ProgressiveRestyle.h"

#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"

#include <algorithm>

namespace lumora {

namespace {

// A slice restyles stretches of about this many characters until its time
// is up (a stretch costs well under a millisecond).
constexpr qsizetype kStretch = 8 * 1024;

} // namespace

ProgressiveRestyle::ProgressiveRestyle(TextStorage& storage, std::shared_ptr<const ParsedMarkdownStylesheet> parsed,
                                       bool markdown)
    : m_storage(storage),
      m_parsed(std::move(parsed)),
      m_markdown(markdown),
      m_task(BackgroundWork::Priority::restyling, [this](const QDeadlineTimer& deadline) { return slice(deadline); })
{
    m_observer = m_storage.addObserver([this](const TextStorage::Change& change) { follow(change); });
}

ProgressiveRestyle::~ProgressiveRestyle()
{
    if (m_observer) m_storage.removeObserver(m_observer);
}

void ProgressiveRestyle::start(const std::vector<Range>& first)
{
    m_waiting.clear();
    if (m_storage.length() > 0) m_waiting.push_back(Range(0, m_storage.length()));
    // Each in a bracket of its own: the views lay out again only those.
    for (const Range& range : first) restyle(range);
    if (m_waiting.empty()) end();
    else m_task.wake(BackgroundWork::Burst::always);
}

void ProgressiveRestyle::startFrom(qsizetype from)
{
    waitFrom(from);
    if (m_waiting.empty()) end();
    else m_task.wake(BackgroundWork::Burst::always);
}

void ProgressiveRestyle::forgetStorage()
{
    m_task.stop();
    m_observer = 0;
    m_waiting.clear();
    m_ended = true;
}

void ProgressiveRestyle::finish()
{
    if (m_waiting.empty()) return;
    {
        const TextStorage::BackgroundEditing background(m_storage);
        m_storage.beginEditing();
        while (!m_waiting.empty()) restyle(m_waiting.front());
        m_storage.endEditing();
    }
    end();
}

// Restyles the paragraphs range touches (with the one after it when it ends
// with a line break, as restyleParagraphs does) and takes them off the list.
void ProgressiveRestyle::restyle(Range range)
{
    const qsizetype length = m_storage.length();
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, length);
    qsizetype followFrom = -1;
    take(restyleParagraphs(m_storage, *m_parsed, Range(from, to - from), m_markdown, &followFrom));
    waitFrom(followFrom);
}

// Everything from from to the end of the text waits (nothing when from is
// negative or the end).
void ProgressiveRestyle::waitFrom(qsizetype from)
{
    const qsizetype length = m_storage.length();
    if (from < 0 || from >= length) return;
    while (!m_waiting.empty() && m_waiting.back().end() >= from) {
        from = std::min(from, m_waiting.back().location);
        m_waiting.pop_back();
    }
    m_waiting.push_back(Range(from, length - from));
}

void ProgressiveRestyle::take(Range done)
{
    std::vector<Range> left;
    left.reserve(m_waiting.size() + 1);
    for (const Range& r : m_waiting) {
        if (r.end() <= done.location || r.location >= done.end()) {
            left.push_back(r);
            continue;
        }
        if (r.location < done.location) left.push_back(Range(r.location, done.location - r.location));
        if (r.end() > done.end()) left.push_back(Range(done.end(), r.end() - done.end()));
    }
    m_waiting = std::move(left);
}

// Characters replaced while paragraphs wait: what waits after the edit moves
// with it, and what waits where the edit is (or right next to it) grows to
// hold the edit's new text, which may have joined or split its paragraphs.
void ProgressiveRestyle::follow(const TextStorage::Change& change)
{
    if (!change.characters || m_waiting.empty()) return;
    const Range replaced = change.replacedRange();
    const qsizetype delta = change.changeInLength;
    std::vector<Range> moved;
    moved.reserve(m_waiting.size());
    for (const Range& r : m_waiting) {
        if (r.end() < replaced.location) {
            moved.push_back(r);
        } else if (r.location > replaced.end()) {
            moved.push_back(Range(r.location + delta, r.length));
        } else {
            const qsizetype from = std::min(r.location, replaced.location);
            const qsizetype to = std::max(r.end(), replaced.end()) + delta;
            if (to > from) moved.push_back(Range(from, to - from));
        }
    }
    // Grown ones may now meet their neighbours.
    m_waiting.clear();
    for (const Range& r : moved) {
        if (!m_waiting.empty() && r.location <= m_waiting.back().end()) {
            const qsizetype end = std::max(m_waiting.back().end(), r.end());
            m_waiting.back().length = end - m_waiting.back().location;
        } else {
            m_waiting.push_back(r);
        }
    }
}

// From where the writer is, stretch after stretch, one editing bracket for
// each run of neighbouring stretches (so that the views lay out again what
// was restyled, not everything between two far places).
bool ProgressiveRestyle::slice(const QDeadlineTimer& deadline)
{
    if (!m_waiting.empty() && wanted && !wanted()) {
        m_waiting.clear();
        m_ended = true; // not finished: given up
    }
    if (m_waiting.empty()) {
        end();
        return false;
    }
    qsizetype at = focus ? std::clamp<qsizetype>(focus(), 0, m_storage.length()) : 0;
    const TextStorage::BackgroundEditing background(m_storage);
    bool open = false;
    while (!m_waiting.empty() && !deadline.hasExpired()) {
        // The first stretch waiting at or after at; past the last, the first.
        auto it = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Range& r) { return r.end() > at; });
        if (it == m_waiting.end()) it = m_waiting.begin();
        const qsizetype from = at > it->location && at < it->end() ? at : it->location;
        if (open && from != at) {
            m_storage.endEditing();
            open = false;
        }
        if (!open) {
            m_storage.beginEditing();
            open = true;
        }
        const qsizetype to = std::min(it->end(), from + kStretch);
        qsizetype followFrom = -1;
        const Range done = restyleParagraphs(m_storage, *m_parsed, Range(from, to - from), m_markdown, &followFrom);
        take(done);
        waitFrom(followFrom);
        at = done.end();
    }
    if (open) m_storage.endEditing();
    if (m_waiting.empty()) {
        end();
        return false;
    }
    return true;
}

void ProgressiveRestyle::end()
{
    m_task.stop();
    if (m_observer) {
        m_storage.removeObserver(m_observer);
        m_observer = 0;
    }
    if (m_ended) return;
    m_ended = true;
    if (finished) finished();
}

} // namespace lumora
