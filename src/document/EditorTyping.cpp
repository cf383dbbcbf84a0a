#include "document/EditorTyping.h"

#include "document/TextServices.h"
#include "document/TextView.h"

#include "markdown/MarkdownEditing.h"
#include "platform/text/TextStorage.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

#include <algorithm>

namespace lumora {

// What Qt accepts as typed text (the rules of its own text widgets).
bool EditorTyping::isAcceptableInput(const QKeyEvent& event)
{
    const QString text = event.text();
    if (text.isEmpty()) return false;
    const QChar c = text.at(0);
    if (c.category() == QChar::Other_Format) return true;
    const Qt::KeyboardModifiers m = event.modifiers();
    if (m == Qt::ControlModifier || m == (Qt::ShiftModifier | Qt::ControlModifier)) return false;
    if (c.isPrint()) return true;
    if (c.category() == QChar::Other_PrivateUse) return true;
    if (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate()) return true;
    return false;
}

void EditorTyping::insertTyped(const QString& text)
{
    const Range selection = m_view.selectedRange();
    const qsizetype start = selection.location;
    if (m_view.replaceCharacters(selection, text, EditOptions{UndoCoalescing::typing, std::nullopt, true}))
        m_view.services().textWasTyped(Range(start + m_view.gate().followUpShift(), text.size()));
}

void EditorTyping::insertNewline()
{
    insertTyped(lineEnding());
}

QString EditorTyping::lineEnding() const
{
    static const QString lf = QStringLiteral("\n"), crlf = QStringLiteral("\r\n"), cr = QStringLiteral("\r");
    const TextStorage* storage = m_view.textStorage();
    if (!storage) return lf;
    if (m_lineEnding) return *m_lineEnding;
    // Read where the text lies, without gathering it into one string.
    const auto [head, tail] = storage->pieces();
    qsizetype lfs = 0, crlfs = 0, crs = 0;
    if (head.contains(u'\r') || tail.contains(u'\r')) {
        const TextStorage& s = *storage;
        for (qsizetype i = 0, n = s.length(); i < n; ++i) {
            const QChar c = s.characterAt(i);
            if (c == u'\n') {
                ++lfs;
            } else if (c == u'\r') {
                if (s.characterAt(i + 1) == u'\n') {
                    ++crlfs;
                    ++i;
                } else {
                    ++crs;
                }
            }
        }
    }
    // Ties go to "\n", the platform's own.
    m_lineEnding = crlfs > lfs && crlfs >= crs ? crlf : crs > lfs && crs > crlfs ? cr : lf;
    return *m_lineEnding;
}

QString EditorTyping::withDocumentLineEndings(const QString& text) const
{
    if (!text.contains(u'\r') && !text.contains(u'\n')) return text;
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(u'\r', u'\n');
    const QString ending = lineEnding();
    if (ending != QLatin1String("\n")) normal.replace(QStringLiteral("\n"), ending);
    return normal;
}

// Tab indents a list item by one level; anywhere else it types a tab.
void EditorTyping::insertTab()
{
    const TextStorage* storage = m_view.textStorage();
    if (storage && m_view.isMarkdownEnabled()) {
        if (const auto edit = indentListItem(*storage, m_view.selectedRange().location)) {
            applyIndentation(*edit);
            return;
        }
    }
    insertTyped(QStringLiteral("\t"));
}

// Shift+Tab takes one level of indentation from a list item; elsewhere it
// does nothing.
void EditorTyping::insertBacktab()
{
    const TextStorage* storage = m_view.textStorage();
    if (!storage || !m_view.isMarkdownEnabled()) return;
    if (const auto edit = outdentListItem(*storage, m_view.selectedRange().location)) applyIndentation(*edit);
}

// The caret (or selection) moves with the text the edit adds or removes in
// front of it: indentation always stands before the item's text.
void EditorTyping::applyIndentation(const IndentationEdit& edit)
{
    const TextStorage* storage = m_view.textStorage();
    const Range before = m_view.selectedRange();
    const qsizetype delta = edit.replacement.size() - edit.range.length;
    const qsizetype lengthBefore = storage->length();
    m_view.replaceText(edit.replacement, edit.range);
    if (storage->length() != lengthBefore + delta) return; // refused (no-editing mode)
    const qsizetype location = std::max(edit.range.location, before.location + delta);
    m_view.setSelectedRange(Range(location, std::min(before.length, storage->length() - location)));
}

void EditorTyping::deleteText(Deletion deletion)
{
    const Range selection = m_view.selectedRange();
    Range range = selection;
    UndoCoalescing coalescing = UndoCoalescing::none;
    if (selection.isEmpty()) {
        QTextCursor c = m_view.textCursor();
        const qsizetype at = c.position();
        switch (deletion) {
        case Deletion::backward:
            // One character back: a whole surrogate pair or "\r\n", but the
            // accent of a decomposed letter on its own.
            if (at == 0) return;
            range = Range(at - 1, 1);
            coalescing = UndoCoalescing::deleteBackward;
            break;
        case Deletion::forward:
            c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteForward;
            break;
        case Deletion::wordBackward:
            c.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteBackward;
            break;
        case Deletion::wordForward:
            c.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
            coalescing = UndoCoalescing::deleteForward;
            break;
        }
        if (deletion != Deletion::backward)
            range = Range(c.selectionStart(), c.selectionEnd() - c.selectionStart());
    } else {
        range = m_view.services().smartDeleteRange(range);
    }
    range = m_view.gate().safeRange(range);
    if (range.isEmpty()) return;
    m_view.replaceCharacters(range, QString(), EditOptions{coalescing, std::nullopt, false});
}

void EditorTyping::deleteSelection()
{
    if (!m_view.textStorage() || m_view.selectedRange().isEmpty()) return;
    m_view.replaceCharacters(m_view.services().smartDeleteRange(m_view.selectedRange()), QString(), EditOptions{});
}

// The committed text of an input method replaces the selection (or the
// range the method names around the caret) as typing does; a composition
// begun over a selection deletes it first.
void EditorTyping::commitInput(const QInputMethodEvent& e)
{
    const Range selection = m_view.selectedRange();
    if (!e.commitString().isEmpty() || e.replacementLength() > 0) {
        Range range = selection;
        if (e.replacementStart() != 0 || e.replacementLength() != 0) {
            // The replacement counts from the caret, once the selection is gone.
            if (!selection.isEmpty() && !m_view.replaceCharacters(selection, QString(), EditOptions{}))
                m_view.setSelectedRange(Range(selection.end(), 0));
            const qsizetype caret = m_view.textCursor().position();
            range = Range(caret + e.replacementStart(), e.replacementLength());
        }
        const qsizetype start = m_view.gate().safeRange(range).location;
        if (m_view.replaceCharacters(range, e.commitString(), EditOptions{UndoCoalescing::typing, std::nullopt, true}))
            m_view.services().textWasTyped(Range(start + m_view.gate().followUpShift(), e.commitString().size()));
    } else if (!e.preeditString().isEmpty() && !selection.isEmpty()) {
        // Composing over a selection replaces it: the deletion goes first.
        if (!m_view.replaceCharacters(selection, QString(), EditOptions{}))
            m_view.setSelectedRange(Range(selection.end(), 0));
    }
}

} // namespace lumora
