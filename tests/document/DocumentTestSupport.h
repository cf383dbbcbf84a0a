#pragma once

#include "document/Document.h"
#include "document/DocumentEditor.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "platform/files/UserDefaults.h"

#include <QStringList>

namespace lumora::test {

// An editor that records what the document asks of it.
class RecordingEditor : public DocumentEditor {
public:
    QStringList calls;
    bool outlineVisible = false;

    void updateHighlightAttributes() override { calls << "highlight"; }
    void updateTypingAttributes() override { calls << "typing"; }
    void updateInfo() override { calls << "info"; }
    void showWindow() override { calls << "show"; }
    bool isOutlineVisible() const override { return outlineVisible; }
    void reloadOutline() override { calls << "outline"; }
    void setOutlineVisible(bool visible) override
    {
        outlineVisible = visible;
        calls << (visible ? "showOutline" : "hideOutline");
    }
};

// A prompter that answers no to every question and keeps the errors shown.
class RecordingPrompter : public DocumentPrompter {
public:
    QList<PlatformError> errors;
    SaveChoice askToSaveChanges(DocumentBase&) override { return SaveChoice::cancel; }
    std::optional<QString> chooseSaveLocation(DocumentBase&) override { return std::nullopt; }
    ExternalChangeChoice askAboutExternalChange(DocumentBase&) override { return ExternalChangeChoice::keepMine; }
    void presentError(DocumentBase&, const PlatformError& error) override { errors << error; }
};

// The HTML conversion the application installs at start-up.
inline void installHTMLConverter()
{
    Document::setHTMLConverter(MultiMarkdown::applicationHtml);
}

// A keystroke as the editor makes it: the storage changes, the undo stack
// records it.
inline void type(Document& document, const QString& text)
{
    TextStorage& storage = document.data().textStorage();
    const Range at(storage.length(), 0);
    storage.replaceCharacters(at, text);
    document.undoManager().recordReplacement({at, QString(), text, at, Range(storage.length(), 0)},
                                             UndoCoalescing::typing);
}

// Sets a preference of the standard store for the length of a test.
class ScopedPreference {
public:
    ScopedPreference(const QString& key, const QVariant& value) : m_key(key)
    {
        UserDefaults::standard().set(key, value);
    }
    ~ScopedPreference() { UserDefaults::standard().remove(m_key); }

private:
    QString m_key;
};

} // namespace lumora::test
