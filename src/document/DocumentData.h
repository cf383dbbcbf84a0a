#pragma once

#include "platform/files/StringEncoding.h"
#include "platform/files/TextFileCodec.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Range.h"
#include "platform/text/TextStorage.h"
#include "platform/text/UndoManager.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumora {

class DocumentEditor;
class ProgressiveRestyle;

// The model behind one open document: the one text storage every window of
// the document shows, the document's Markdown switch, the format its file
// was read in, and whether the styling of the whole text is stale.
//
// Files are plain text in one encoding, nothing else. Reading takes a
// byte-order mark first, then the "saveEncoding" preference, then detection;
// nothing is ever decoded loosely (see TextFileCodec). The format a file was
// read in (encoding and byte-order mark) is remembered and used for every
// save, so a file opened and saved without edits is byte for byte the same;
// text the remembered encoding cannot hold is saved as UTF-8 and the
// remembered format stays as it was.
//
// Styling follows the stylesheet of Settings::shared() at the moment it
// runs. A text read before any editor is attached is styled later, when the
// first one attaches (see Document::addEditor); a document held only by a
// library row is never styled.
//
// Main thread only, except readDocument, which hops to the main thread.
class DocumentData {
public:
    DocumentData();
    ~DocumentData();
    DocumentData(const DocumentData&) = delete;
    DocumentData& operator=(const DocumentData&) = delete;

    // Markdown styling and the Markdown commands are on for this document.
    // Starts as the "enableMarkdown" preference (true when absent or not a
    // Bool).
    bool enableMarkdown = true;
    // The attributes must be rebuilt from scratch at the next restyle.
    bool textStorageInvalidated = false;

    TextStorage& textStorage() { return m_textStorage; }
    const TextStorage& textStorage() const { return m_textStorage; }

    // The format of the last successful read (or the one a save was told
    // to use); none for a new document.
    const std::optional<TextFileFormat>& fileFormat() const { return m_format; }
    void setFileFormat(const TextFileFormat& format) { m_format = format; }
    std::optional<StringEncoding> encoding() const;

    // The statistics line for a range of the text, the whole text when the
    // range is empty: "Words: 1,234, Characters: 5,678, Reading: 4 min, 56 sec".
    // Words follow ICU's word boundaries for the user's language (segments
    // holding letters, digits or ideographs; punctuation and Markdown
    // markers are not words); characters are UTF-16 code units, line breaks
    // included; reading time is at 250 words a minute.
    QString documentStatistics(Range range) const;
    // The same for a text of its own: wordCount() may run on any thread,
    // statisticsLine() formats on the main thread.
    static qint64 wordCount(QStringView text, Range range);
    static QString statisticsLine(qint64 words, qsizetype characters);
    // The reading time of a number of words, at most two units ("2 min",
    // "1 min, 30 sec", "0 sec").
    static QString readingTime(qint64 words);

    // Replaces the text with the file's bytes. On failure (binary data, or
    // no encoding reads them) nothing changes. Called off the main thread,
    // it decodes there and then hops to the main thread for the text
    // storage, the caller waiting. filePath names the file in error
    // messages. The encoding tried first after a byte-order mark is
    // preferred, else the "saveEncoding" preference.
    PlatformStatus readDocument(QByteArrayView bytes, const QString& filePath = {},
                                std::optional<StringEncoding> preferred = std::nullopt);
    // Replaces the text with the file's bytes as one undoable edit (revert,
    // reload): only the stretch that differs is replaced, so the caret and
    // the scroll position stay where the text did not change, and the
    // touched paragraphs are restyled. Fails like readDocument, changing
    // nothing.
    PlatformStatus replaceDocument(QByteArrayView bytes, UndoManager& undo, const QString& filePath = {},
                                   std::optional<StringEncoding> preferred = std::nullopt);
    // The whole text encoded for saving, in format when one is given, else
    // in the remembered format, else in the "saveEncoding" preference;
    // UTF-8 when that cannot hold the text. Fails only when no encoding can
    // (a broken surrogate pair), naming the character.
    PlatformResult<QByteArray> documentFileData(const std::optional<TextFileFormat>& format = std::nullopt) const;

    // Flips enableMarkdown for this document and stores the new value as the
    // start value of documents opened later; restyles when an editor is
    // attached, else when the first one attaches.
    void toggleMarkdown();
    // When textStorageInvalidated is set: rebuilds the attributes of the
    // whole text, then refreshes every editor of this document (highlight,
    // then typing attributes) and clears the flag. Otherwise nothing.
    //
    // Given what the windows show (first) and a long text, only the
    // paragraphs those ranges touch are restyled at once, before the
    // editors are refreshed; the rest follows in the background, from
    // where focus() says the writer is, and the editors take their typing
    // attributes again when it ends (see ProgressiveRestyle).
    void restyleTextStorage(const std::vector<Range>& first = {}, std::function<qsizetype()> focus = {});
    // Part of the text still waits for a restyle begun in the background.
    bool isRestyling() const;
    // Restyles what still waits, now.
    void finishRestyling();

    // The editors of this document, in window order (see DocumentEditor).
    const std::vector<DocumentEditor*>& editors() const { return m_editors; }
    bool hasEditors() const { return !m_editors.empty(); }

private:
    friend class Document; // keeps the editor list
    void styleWholeText();
    void replaceText(DecodedText decoded);

    TextStorage m_textStorage;
    std::optional<TextFileFormat> m_format;
    std::vector<DocumentEditor*> m_editors;
    // The restyle going on in the background (kept, finished, until the
    // next one); it goes before the storage it styles.
    std::unique_ptr<ProgressiveRestyle> m_restyle;
};

} // namespace lumora
