#include "document/EditorSubstitutions.h"

#include "document/SubstitutionsPanel.h"
#include "document/TextServices.h"
#include "document/TextView.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/SpellChecker.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextStorage.h"
#include "platform/text/TextSubstitutions.h"

#include <algorithm>

namespace lumora {

EditorSubstitutions::EditorSubstitutions(TextView& view, TextServices& services) : m_view(view), m_services(services)
{
}

void EditorSubstitutions::textWasTyped(Range typed)
{
    const TextStorage* storage = m_services.storage();
    if (m_substituting || !storage || typed.isEmpty()) return;
    m_typingEnd = typed.end();
    const qsizetype typedAt = typed.end() - 1;
    // Substitutions look at the paragraph typed in, up to the caret.
    const QStringView text = storage->stringBefore(storage->paragraphBounds(Range(std::max<qsizetype>(typedAt, 0), 0)).end);
    if (typedAt < 0 || typedAt >= text.size()) return;
    const QChar c = text[typedAt];
    using S = TextServices::Switch;
    const auto on = [this](S which) { return m_view.textOption(TextServices::optionKey(which)); };

    std::optional<text::Substitution> change;
    if (on(S::quoteSubstitution) && (c == u'"' || c == u'\'')) change = text::smartQuote(text, typedAt);
    if (!change && on(S::dashSubstitution)) change = text::smartDash(text, typedAt);
    if (!change && on(S::textReplacement) && text::endsReplacementShortcut(c))
        change = text::textReplacement(text, typedAt, TextReplacements::entries());
    if (change && !m_services.isProse(change->range.location)) change.reset();
    if (!change && on(S::spellingCorrection) && text::endsReplacementShortcut(c)) {
        if (const auto fix = correctionBefore(typedAt)) change = text::Substitution{fix->first, fix->second};
    }
    if (change) applySubstitution(change->range, change->replacement);
}

std::optional<std::pair<Range, QString>> EditorSubstitutions::correctionBefore(qsizetype typedAt)
{
    SpellChecker& checker = SpellChecker::shared();
    if (!checker.isAvailable()) return std::nullopt;
    const TextStorage& storage = *m_services.storage();
    const QStringView text = storage.stringBefore(storage.paragraphBounds(Range(typedAt, 0)).end);
    const auto word = text::wordAt(text, typedAt);
    if (!word || word->end() != typedAt || !m_services.isProse(word->location)) return std::nullopt;
    const auto fix = checker.correction(QStringView(text).sliced(word->location, word->length));
    if (!fix) return std::nullopt;
    return std::make_pair(*word, *fix);
}

void EditorSubstitutions::applySubstitution(Range range, const QString& replacement)
{
    const Range caret = m_view.selectedRange();
    const qsizetype delta = replacement.size() - range.length;
    TextView::EditOptions options;
    options.selection = Range(caret.location >= range.end() ? caret.location + delta : caret.location, 0);
    options.silent = true;
    m_substituting = true;
    // An undo step of its own: undoing it gives back what was typed.
    if (UndoManager* undo = m_view.undoManager()) undo->breakCoalescing();
    m_view.replaceCharacters(range, replacement, options);
    m_substituting = false;
    if (m_typingEnd && *m_typingEnd >= range.end()) *m_typingEnd += delta;
}

QString EditorSubstitutions::smartPasteText(Range range, const QString& pasted) const
{
    const TextStorage* storage = m_services.storage();
    if (!storage || !m_view.textOption(TextServices::optionKey(TextServices::Switch::smartInsertDelete))) return pasted;
    const auto [before, after] = text::smartInsertPadding(storage->string(), range, pasted);
    return before + pasted + after;
}

Range EditorSubstitutions::smartDeleteRange(Range range) const
{
    const TextStorage* storage = m_services.storage();
    if (!storage || !m_view.textOption(TextServices::optionKey(TextServices::Switch::smartInsertDelete))) return range;
    return text::smartDeleteRange(storage->string(), range);
}

void EditorSubstitutions::showSubstitutionsPanel()
{
    SubstitutionsPanel& panel = SubstitutionsPanel::shared();
    panel.setOptions({[this](const QString& key) { return m_view.textOption(key); },
                      [this](const QString& key, bool on) { m_view.setTextOption(key, on); }},
                     this);
    panel.show();
    panel.raise();
}

} // namespace lumora
