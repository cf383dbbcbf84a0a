#include "platform/text/UndoManager.h"

#include "platform/foundation/CharacterSet.h"

#include <algorithm>
#include <chrono>

namespace lumora {

namespace {

bool hasLineBreak(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return text::isNewline(c); });
}

// The text whose line break ends a typing step: what was typed, or what was deleted.
const QString& coalescedText(const TextReplacement& r, UndoCoalescing coalescing)
{
    return coalescing == UndoCoalescing::typing ? r.newText : r.oldText;
}

} // namespace

UndoManager::UndoManager(QObject* parent) : QObject(parent) {}

UndoManager::~UndoManager() = default;

void UndoManager::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

qint64 UndoManager::now() const
{
    if (m_clock) return m_clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void UndoManager::beginGroup()
{
    if (m_groupDepth++ == 0) {
        closeOpenStep();
        m_group = Step{};
    }
}

void UndoManager::endGroup()
{
    if (m_groupDepth == 0) return;
    if (--m_groupDepth > 0) return;
    Step step = std::move(*m_group);
    m_group.reset();
    if (!step.entries.empty()) {
        pushStep(std::move(step));
    } else {
        emitCleanIfChanged();
    }
}

void UndoManager::recordReplacement(const TextReplacement& replacement, UndoCoalescing coalescing)
{
    if (m_undoing || m_redoing) return;
    addEntry(replacement, &replacement, coalescing);
}

void UndoManager::recordReplacements(TextReplacementBatch batch)
{
    if (m_undoing || m_redoing || batch.ranges.empty()) return;
    const TextReplacement selections{Range(), QString(), QString(), batch.selectionBefore, batch.selectionAfter};
    addEntry(std::move(batch), &selections, UndoCoalescing::none);
}

void UndoManager::applyBatch(const TextReplacementBatch& batch, bool undoing)
{
    std::vector<Range> ranges;
    ranges.reserve(batch.ranges.size());
    if (undoing) {
        // Where each replacement stands in the text after the batch.
        qsizetype shift = 0;
        for (size_t i = 0; i < batch.ranges.size(); ++i) {
            const qsizetype length = batch.newTexts[qsizetype(i)].size();
            ranges.emplace_back(batch.ranges[i].location + shift, length);
            shift += length - batch.ranges[i].length;
        }
    } else {
        ranges = batch.ranges;
    }
    const QStringList& texts = undoing ? batch.oldTexts : batch.newTexts;
    if (m_batchApplier) {
        m_batchApplier(ranges, texts);
    } else if (m_applier) {
        for (size_t i = ranges.size(); i-- > 0;) m_applier(ranges[i], texts[qsizetype(i)]);
    }
}

void UndoManager::registerAction(std::function<void()> undo, std::function<void()> redo)
{
    if (m_undoing || m_redoing) return;
    addEntry(Action{std::move(undo), std::move(redo)}, nullptr, UndoCoalescing::none);
}

void UndoManager::addEntry(Entry entry, const TextReplacement* replacement, UndoCoalescing coalescing)
{
    const qint64 time = now();
    if (m_group) {
        if (replacement) {
            if (!m_group->selectionBefore) m_group->selectionBefore = replacement->selectionBefore;
            m_group->selectionAfter = replacement->selectionAfter;
        }
        m_group->entries.push_back(std::move(entry));
        notify(true);
        return;
    }
    if (replacement && tryCoalesce(*replacement, coalescing, time)) {
        notify(true);
        return;
    }
    Step step;
    step.entries.push_back(std::move(entry));
    if (replacement) {
        step.selectionBefore = replacement->selectionBefore;
        step.selectionAfter = replacement->selectionAfter;
        step.coalescing = coalescing;
        step.open = coalescing != UndoCoalescing::none && !hasLineBreak(coalescedText(*replacement, coalescing));
    }
    step.lastTime = time;
    pushStep(std::move(step));
}

bool UndoManager::tryCoalesce(const TextReplacement& r, UndoCoalescing coalescing, qint64 time)
{
    if (coalescing == UndoCoalescing::none || m_index == 0 || m_index != int(m_steps.size())) return false;
    Step& step = m_steps[m_index - 1];
    if (!step.open || step.coalescing != coalescing || m_cleanIndex == m_index) return false;
    if (time - step.lastTime > kPauseMs || step.entries.size() != 1) return false;
    auto* previous = std::get_if<TextReplacement>(&step.entries.front());
    if (!previous) return false;

    switch (coalescing) {
    case UndoCoalescing::typing:
        // Typing on at the caret: an insertion right after the text typed so far.
        if (!r.range.isEmpty() || r.newText.isEmpty()
            || r.range.location != previous->range.location + previous->newText.size())
            return false;
        previous->newText += r.newText;
        break;
    case UndoCoalescing::deleteBackward:
        // Backspace again: the range ends where the deleted stretch begins.
        if (!r.newText.isEmpty() || r.range.isEmpty() || !previous->newText.isEmpty()
            || r.range.end() != previous->range.location)
            return false;
        previous->range = Range(r.range.location, r.range.length + previous->range.length);
        previous->oldText.prepend(r.oldText);
        break;
    case UndoCoalescing::deleteForward:
        // Delete again: the same location, the following characters.
        if (!r.newText.isEmpty() || r.range.isEmpty() || !previous->newText.isEmpty()
            || r.range.location != previous->range.location)
            return false;
        previous->range.length += r.range.length;
        previous->oldText += r.oldText;
        break;
    case UndoCoalescing::none:
        return false;
    }
    step.selectionAfter = r.selectionAfter;
    step.lastTime = time;
    if (hasLineBreak(coalescedText(r, coalescing))) step.open = false;
    return true;
}

void UndoManager::pushStep(Step step)
{
    closeOpenStep();
    if (m_index < int(m_steps.size())) {
        m_steps.erase(m_steps.begin() + m_index, m_steps.end());
        if (m_cleanIndex > m_index) m_cleanIndex = -1;
    }
    m_steps.push_back(std::move(step));
    ++m_index;
    notify(true);
}

void UndoManager::closeOpenStep()
{
    if (!m_steps.empty()) m_steps.back().open = false;
}

void UndoManager::breakCoalescing()
{
    closeOpenStep();
}

void UndoManager::setActionName(const QString& name)
{
    if (m_group) {
        m_group->name = name;
    } else if (m_index > 0) {
        m_steps[m_index - 1].name = name;
    } else {
        return;
    }
    emit stateChanged();
}

QString UndoManager::undoActionName() const
{
    return m_index > 0 ? m_steps[m_index - 1].name : QString();
}

QString UndoManager::redoActionName() const
{
    return m_index < int(m_steps.size()) ? m_steps[m_index].name : QString();
}

bool UndoManager::canUndo() const
{
    return m_index > 0 || (m_group && !m_group->entries.empty());
}

bool UndoManager::canRedo() const
{
    return m_index < int(m_steps.size()) && !(m_group && !m_group->entries.empty());
}

std::optional<Range> UndoManager::undo()
{
    if (m_undoing || m_redoing) return std::nullopt;
    while (m_groupDepth > 0) endGroup();
    if (m_index == 0) return std::nullopt;
    closeOpenStep();
    const Step& step = m_steps[m_index - 1];
    m_undoing = true;
    for (auto it = step.entries.rbegin(); it != step.entries.rend(); ++it) {
        if (const auto* r = std::get_if<TextReplacement>(&*it)) {
            if (m_applier) m_applier(Range(r->range.location, r->newText.size()), r->oldText);
        } else if (const auto* batch = std::get_if<TextReplacementBatch>(&*it)) {
            applyBatch(*batch, true);
        } else if (const auto& action = std::get<Action>(*it); action.undo) {
            action.undo();
        }
    }
    m_undoing = false;
    --m_index;
    const std::optional<Range> selection = m_steps[m_index].selectionBefore;
    emit didUndo();
    notify(false);
    return selection;
}

std::optional<Range> UndoManager::redo()
{
    if (m_undoing || m_redoing) return std::nullopt;
    while (m_groupDepth > 0) endGroup();
    if (m_index >= int(m_steps.size())) return std::nullopt;
    const Step& step = m_steps[m_index];
    m_redoing = true;
    for (const Entry& entry : step.entries) {
        if (const auto* r = std::get_if<TextReplacement>(&entry)) {
            if (m_applier) m_applier(Range(r->range.location, r->oldText.size()), r->newText);
        } else if (const auto* batch = std::get_if<TextReplacementBatch>(&entry)) {
            applyBatch(*batch, false);
        } else if (const auto& action = std::get<Action>(entry); action.redo) {
            action.redo();
        }
    }
    m_redoing = false;
    ++m_index;
    const std::optional<Range> selection = m_steps[m_index - 1].selectionAfter;
    emit didRedo();
    notify(false);
    return selection;
}

void UndoManager::setClean()
{
    closeOpenStep();
    m_cleanIndex = m_index;
    emitCleanIfChanged();
    emit stateChanged();
}

void UndoManager::forgetCleanState()
{
    closeOpenStep();
    m_cleanIndex = -1;
    emitCleanIfChanged();
    emit stateChanged();
}

bool UndoManager::isClean() const
{
    return m_index == m_cleanIndex && !(m_group && !m_group->entries.empty());
}

void UndoManager::removeAll()
{
    m_steps.clear();
    m_index = 0;
    m_cleanIndex = 0;
    if (m_group) m_group->entries.clear();
    emitCleanIfChanged();
    emit stateChanged();
}

void UndoManager::notify(bool recorded)
{
    if (recorded) emit changeRecorded();
    emitCleanIfChanged();
    emit stateChanged();
}

void UndoManager::emitCleanIfChanged()
{
    const bool clean = isClean();
    if (clean == m_lastClean) return;
    m_lastClean = clean;
    emit cleanChanged(clean);
}

} // namespace lumora
