#pragma once

#include "platform/application/DocumentBase.h"

#include <QString>
#include <QStringList>

#include <functional>
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
    // Which text a revert goes back to: the file's (as last saved) or the
    // one the document was opened with.
    enum class RevertChoice { lastSaved, lastOpened, cancel };

    // An error of the application (a file that cannot be opened, a command
    // that failed): what went wrong and what to do about it.
    virtual void presentApplicationError(const PlatformError& error) = 0;
    // The files and folders to open; empty when cancelled.
    virtual QStringList chooseFilesToOpen() = 0;
    // Where to export document as HTML, proposedName in the name field
    // (left to the dialog when empty); none when cancelled.
    virtual std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) = 0;
    // The stylesheet file to link; none when cancelled.
    virtual std::optional<QString> chooseStylesheetToLink() = 0;
    // Where to export the stylesheet, proposedName in the name field; none
    // when cancelled.
    virtual std::optional<QString> chooseStylesheetExportLocation(const QString& proposedName) = 0;
    // The writer tried to change a locked document.
    virtual LockedChoice askAboutLockedDocument(Document& document) = 0;
    // Whether to revert the document, and to which text; offers only what
    // is offered (at least one of them).
    virtual RevertChoice chooseRevert(Document& document, bool offerLastSaved, bool offerLastOpened) = 0;
    // Shows, after a moment, that something slow is under way for the
    // document; the returned function ends it. None by default.
    virtual std::function<void()> beginProgress(const Document& document, const QString& message)
    {
        (void)document;
        (void)message;
        return {};
    }
};

// The dialogs themselves: message boxes in front of the document's window
// (or the active window), and Qt's own file dialog.
class StandardDialogs : public Dialogs {
public:
    SaveChoice askToSaveChanges(DocumentBase& document) override;
    std::optional<QString> chooseSaveLocation(DocumentBase& document) override;
    ExternalChangeChoice askAboutExternalChange(DocumentBase& document) override;
    void presentError(DocumentBase& document, const PlatformError& error) override;
    FailedSaveChoice askAfterFailedSave(DocumentBase& document, const PlatformError& error,
                                        FailedSaveContext context) override;
    bool confirmCloseWithoutSaving(DocumentBase& document) override;
    std::optional<QString> chooseNewName(DocumentBase& document) override;
    std::optional<QString> chooseMoveLocation(DocumentBase& document) override;
    DeletedFileChoice askAboutDeletedFile(DocumentBase& document) override;

    void presentApplicationError(const PlatformError& error) override;
    QStringList chooseFilesToOpen() override;
    std::optional<QString> chooseExportLocation(Document& document, const QString& proposedName) override;
    std::optional<QString> chooseStylesheetToLink() override;
    std::optional<QString> chooseStylesheetExportLocation(const QString& proposedName) override;
    LockedChoice askAboutLockedDocument(Document& document) override;
    RevertChoice chooseRevert(Document& document, bool offerLastSaved, bool offerLastOpened) override;
    std::function<void()> beginProgress(const Document& document, const QString& message) override;

    // The window a document's dialogs stand in front of: its last window,
    // else the active one.
    static QWidget* windowFor(const DocumentBase* document);
    // Whether a file name the writer typed ends in an extension; a save
    // dialog adds its own to a name without one.
    static bool hasExtension(const QString& fileName);

private:
    QString m_lastFolder;
};

// Presents an error of the application: through the document controller's
// dialogs when there is one, else in a message box of its own.
void presentApplicationError(const PlatformError& error);

} // namespace lumora
