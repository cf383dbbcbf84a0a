#include "document/EditorCommands.h"

#include "document/TextView.h"
#include "markdown/Markdown.h"
#include "markdown/MarkdownConverter.h"
#include "markdown/MarkdownInsertion.h"
#include "markdown/TextNavigation.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "multimarkdown_binding/SourceReading.h"
#include "platform/text/RichText.h"
#include "platform/text/TextStorage.h"
#include "settings/LumoraError.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

#include <algorithm>

namespace lumora {

namespace {

// The clipboard types Paste as Markdown reads, rich first.
bool clipboardHasMarkdownType()
{
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && (data->hasHtml() || data->hasText());
}

bool noEditing() { return Settings::shared().isNoEditingEnabled(); }

// What the conversion reads in the text, for Link and Footnote: they count
// and renumber what every output reads as links and notes. Read only when
// the selection is in an element of kind, which the command may turn (a new
// link or note needs no reading).
ConversionReading conversionReading(const TextStorage& storage, Range selection,
                                    std::initializer_list<Markdown::Kind> kinds)
{
    ConversionReading reading;
    const auto element = inlineElementAtSelection(storage.string(), selection);
    if (!element || std::find(kinds.begin(), kinds.end(), element->element.kind()) == kinds.end()) return reading;
    const SourceReading source(storage.string());
    for (const TextStretch& stretch : source.literalStretches()) reading.literal.emplace_back(stretch.start, stretch.length);
    for (const TextStretch& stretch : source.noteDefinitions())
        reading.noteDefinitions.emplace_back(stretch.start, stretch.length);
    return reading;
}

} // namespace

EditorCommands::EditorCommands(TextView& view) : m_view(view) {}

// ---- Validation ------------------------------------------------------------------

bool EditorCommands::canEditText() const { return m_view.isEditable(); }

bool EditorCommands::canMoveCaret() const { return m_view.textStorage() != nullptr; }

bool EditorCommands::canMoveLine() const { return canMoveCaret() && !noEditing() && canEditText(); }

bool EditorCommands::canSetStrong() const
{
    return canMoveCaret() && canEditText() && m_view.isMarkdownEnabled();
}

bool EditorCommands::canSetLink() const { return !noEditing() && canSetStrong(); }

bool EditorCommands::canCopyAsHTML() const { return canMoveCaret() && !m_view.selectedRange().isEmpty(); }

bool EditorCommands::canPaste() const
{
    if (!canMoveCaret() || (noEditing() && !m_view.selectedRange().isEmpty())) return false;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return canEditText() && data && (data->hasText() || data->hasHtml() || data->hasUrls());
}

bool EditorCommands::canPasteAsMarkdown() const
{
    if (!canMoveCaret() || (noEditing() && !m_view.selectedRange().isEmpty())) return false;
    return canEditText() && clipboardHasMarkdownType();
}

// ---- Applying edits -----------------------------------------------------------------

bool EditorCommands::applyEdits(const std::vector<MarkdownEdit>& edits)
{
    TextStorage* storage = m_view.textStorage();
    if (!storage || edits.empty()) return false;
    // All or nothing: a locked document asks once, and in no-editing mode a
    // command that would take away any text makes none of its edits (half a
    // line move would duplicate the line; half a renumbering would break
    // the references).
    if (!m_view.checkEditable()) return false;
    if (noEditing()) {
        for (const MarkdownEdit& edit : edits)
            if (edit.range.length > 0) return false;
    }
    UndoManager* undo = m_view.undoManager();
    if (undo) undo->beginGroup();
    bool made = false;
    for (const MarkdownEdit& edit : edits) {
        TextView::EditOptions options;
        options.selection = edit.selection;
        options.continuesLists = false;
        made = m_view.replaceCharacters(edit.range, edit.replacement, options) || made;
    }
    if (undo) undo->endGroup();
    return made;
}

// ---- Lines, sentences and paragraphs ------------------------------------------------

void EditorCommands::moveLine(bool up)
{
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    const Range s = m_view.selectedRange();
    const auto moved = up ? lineMovedUp(storage->string(), s) : lineMovedDown(storage->string(), s);
    if (!moved) return;
    const Range after(s.location + moved->selectionShift, s.length);
    applyEdits({MarkdownEdit{moved->text, moved->insertion, moved->insertion},
                MarkdownEdit{QString(), moved->removal, after}});
}

void EditorCommands::move(Motion motion, bool extend)
{
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    const QStringView text = storage->string();
    const Range s = m_view.selectedRange();
    const qsizetype c = s.location, e = s.end();
    switch (motion) {
    case Motion::previousSentence: {
        const qsizetype target = previousSentenceTarget(text, c);
        return selectAndReveal(extend ? e : target, target);
    }
    case Motion::nextSentence: {
        const qsizetype target = nextSentenceTarget(text, e);
        return selectAndReveal(extend ? c : target, target);
    }
    case Motion::previousParagraph: {
        const qsizetype target = previousParagraphTarget(text, c);
        return selectAndReveal(extend ? e : target, target);
    }
    case Motion::nextParagraph: {
        const qsizetype target = nextParagraphTarget(text, e);
        return selectAndReveal(extend ? c : target, target);
    }
    }
}

// The selection runs from anchor to position; the caret end is position, so
// the keyboard goes on extending from there.
void EditorCommands::selectAndReveal(qsizetype anchor, qsizetype position)
{
    const qsizetype length = m_view.textStorage()->length();
    QTextCursor cursor(m_view.document());
    cursor.setPosition(int(std::clamp<qsizetype>(anchor, 0, length)));
    cursor.setPosition(int(std::clamp<qsizetype>(position, 0, length)), QTextCursor::KeepAnchor);
    m_view.setTextCursor(cursor);
    m_view.ensureCursorVisible();
}

// ---- Strong, emphasis, links and footnotes ----------------------------------------------

void EditorCommands::setStrong()
{
    if (TextStorage* storage = m_view.textStorage())
        applyEdits({toggleMarkdownEmphasis(storage->string(), m_view.selectedRange(), Markdown::Kind::Bold)});
}

void EditorCommands::setEmphasis()
{
    if (TextStorage* storage = m_view.textStorage())
        applyEdits({toggleMarkdownEmphasis(storage->string(), m_view.selectedRange(), Markdown::Kind::Italic)});
}

void EditorCommands::setLink()
{
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    const Range selection = m_view.selectedRange();
    const ConversionReading reading =
        conversionReading(*storage, selection, {Markdown::Kind::LinkInline, Markdown::Kind::LinkReference});
    applyEdits(insertMarkdownLink(*storage, selection, reading, m_view.lineEnding()));
}

void EditorCommands::setFootnote()
{
    TextStorage* storage = m_view.textStorage();
    if (!storage) return;
    const Range selection = m_view.selectedRange();
    const ConversionReading reading = conversionReading(*storage, selection, {Markdown::Kind::FootnoteInline});
    applyEdits(insertMarkdownFootnote(*storage, selection, reading, m_view.lineEnding()));
}

// ---- The clipboard ------------------------------------------------------------------------

void EditorCommands::copyAsHTML()
{
    TextStorage* storage = m_view.textStorage();
    const Range s = m_view.selectedRange();
    if (!storage || s.isEmpty()) return;
    Markdown::prepareCharacterSets();
    const QString text = storage->string().mid(s.location, s.length);
    // A selection is a piece of the text, never its start: a first line
    // such as "Note: call me" is a sentence, not metadata.
    const std::optional<QString> html = MultiMarkdown::applicationHtmlOfExcerpt(text);
    if (!html) {
        if (presentError) presentError(LumoraError(QStringLiteral("An error occurred.")));
        return;
    }
    auto* data = new QMimeData;
    data->setHtml(*html);
    data->setText(text);
    QApplication::clipboard()->setMimeData(data);
}

void EditorCommands::pasteAsMarkdown()
{
    if (!m_view.textStorage()) return;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QString markdown;
    if (data && data->hasHtml()) {
        markdown = MarkdownConverter::markdown(attributedStringFromHTML(data->html()));
    } else if (data && data->hasText()) {
        markdown = data->text();
    } else {
        QApplication::beep();
        return;
    }
    if (markdown.isEmpty()) return;
    TextView::EditOptions options;
    options.typed = true;
    m_view.replaceCharacters(m_view.selectedRange(), m_view.withDocumentLineEndings(markdown), options);
}

} // namespace lumora
