#pragma once

#include "platform/application/DocumentBase.h"

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace lumora {

class Document;

// Every question and message the application puts to its user: the
// document's (save changes, where to save, a file changed by another
// program, errors) and the application's own (what to open, where to
// export, a locked document, errors of commands). The application shows
// calm dialogs (StandardDialogs); tests install scripted answers.
class Dialogs : public DocumentPrompter {
public:
    enum class LockedChoice { duplicate, cancel };

    // An error of the application (a file that cannot be opened, a command
    // that failed): what went wrong and what to do about it.
    virtual void presentApplicationError(const PlatformError& error) = 0;
    // The files and folders to open; empty when cancelled.
    virtual QStringList chooseFilesToOpen() = 0;
    // Where to export document as HTML, proposedName in the name field
    // (left to the dialog when empty); none when cancelled.
    virtual std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) = 0;
    // The writer tried to change a locked document.
    virtual LockedChoice askAboutLockedDocument(Document& document) = 0;
    // Whether to drop the document's edits and read its file again.
    virtual bool confirmRevert(Document& document) = 0;
};

// The dialogs themselves: message boxes in front of the document's window
// (or the active window), and Qt's own file dialog.
class StandardDialogs : public Dialogs {
public:
    SaveChoice askToSaveChanges(DocumentBase& document) override;
    std::optional<QString> chooseSaveLocation(DocumentBase& document) override;
    ExternalChangeChoice askAboutExternalChange(DocumentBase& document) override;
    void presentError(DocumentBase& document, const PlatformError& error) override;

    void presentApplicationError(const PlatformError& error) override;
    QStringList chooseFilesToOpen() override;
    std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) override;
    LockedChoice askAboutLockedDocument(Document& document) override;
    bool confirmRevert(Document& document) override;

    // The window a document's dialogs stand in front of: its last window,
    // else the active one.
    static QWidget* windowFor(DocumentBase* document);
    // Whether a file name the writer typed ends in an extension; a save
    // dialog adds its own to a name without one.
    static bool hasExtension(const QString& fileName);

private:
    QString m_lastFolder;
};

} // namespace lumora
