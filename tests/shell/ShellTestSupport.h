#pragma once

#include "document/Document.h"
#include "document/DocumentTestSupport.h"
#include "document/DocumentViewController.h"
#include "document/TextView.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/TextStorage.h"
#include "platform/text/UndoManager.h"
#include "shell/Dialogs.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"

#include <QApplication>
#include <QStringList>
#include <QTest>

#include <deque>
#include <memory>

namespace lumora::test {

// Dialogs that answer from a script and note what they were asked.
class ScriptedDialogs : public Dialogs {
public:
    QStringList asked;
    std::deque<SaveChoice> saveChoices;
    std::optional<QString> saveLocation;
    QStringList filesToOpen;
    LockedChoice lockedChoice = LockedChoice::cancel;
    QStringList errors;

    SaveChoice askToSaveChanges(DocumentBase& document) override
    {
        asked << "saveChanges:" + document.displayName();
        if (saveChoices.empty()) return SaveChoice::cancel;
        const SaveChoice choice = saveChoices.front();
        saveChoices.pop_front();
        return choice;
    }
    std::optional<QString> chooseSaveLocation(DocumentBase&) override
    {
        asked << "saveLocation";
        return saveLocation;
    }
    ExternalChangeChoice askAboutExternalChange(DocumentBase&) override
    {
        asked << "externalChange";
        return ExternalChangeChoice::keepMine;
    }
    void presentError(DocumentBase&, const PlatformError& error) override { errors << error.errorDescription; }
    void presentApplicationError(const PlatformError& error) override { errors << error.errorDescription; }
    QStringList chooseFilesToOpen() override
    {
        asked << "open";
        return filesToOpen;
    }
    std::optional<QString> chooseExportLocation(Document&, const QString&) override { return std::nullopt; }
    std::optional<QString> stylesheetToLink;
    std::optional<QString> chooseStylesheetToLink() override
    {
        asked << "linkStylesheet";
        return stylesheetToLink;
    }
    std::optional<QString> stylesheetExportLocation;
    std::optional<QString> chooseStylesheetExportLocation(const QString& proposedName) override
    {
        asked << "stylesheetExportLocation:" + proposedName;
        return stylesheetExportLocation;
    }
    LockedChoice askAboutLockedDocument(Document& document) override
    {
        asked << "locked:" + document.displayName();
        return lockedChoice;
    }
    RevertChoice revertChoice = RevertChoice::lastSaved;
    RevertChoice chooseRevert(Document&, bool offerLastSaved, bool offerLastOpened) override
    {
        asked << QStringLiteral("revert:%1%2").arg(offerLastSaved ? "saved" : "", offerLastOpened ? "opened" : "");
        return revertChoice;
    }
    std::optional<FailedSaveChoice> failedSaveChoice; // none: the default answer
    bool confirmClose = false;
    FailedSaveChoice askAfterFailedSave(DocumentBase& document, const PlatformError& error,
                                        FailedSaveContext context) override
    {
        asked << QStringLiteral("failedSave:%1").arg(context == FailedSaveContext::saving    ? "saving"
                                                     : context == FailedSaveContext::closing ? "closing"
                                                                                            : "quitting");
        if (!failedSaveChoice) return Dialogs::askAfterFailedSave(document, error, context);
        errors << error.errorDescription;
        return *failedSaveChoice;
    }
    bool confirmCloseWithoutSaving(DocumentBase&) override
    {
        asked << "confirmClose";
        return confirmClose;
    }
    std::optional<QString> newName;
    std::optional<QString> chooseNewName(DocumentBase&) override
    {
        asked << "rename";
        return newName;
    }
    DeletedFileChoice deletedFileChoice = DeletedFileChoice::cancel;
    DeletedFileChoice askAboutDeletedFile(DocumentBase&) override
    {
        asked << "deletedFile";
        return deletedFileChoice;
    }
};

// A document controller over the standard store (the test's own, in its
// sandbox) with scripted dialogs and the main menu; closes what it opened.
struct Shell {
    ScriptedDialogs dialogs;
    std::unique_ptr<DocumentController> controller;

    explicit Shell(bool prepare = false)
        : controller(std::make_unique<DocumentController>(&UserDefaults::standard()))
    {
        controller->setDialogs(&dialogs);
        controller->clearRecentDocuments();
        if (prepare) controller->prepareApplication();
        else controller->buildMainMenu();
    }
    ~Shell()
    {
        for (WindowController* window : WindowController::all()) delete window->window();
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Document* open(const QString& path)
    {
        auto opened = controller->openDocument(path, true);
        return opened ? qobject_cast<Document*>(*opened) : nullptr;
    }
};

inline WindowController* windowOf(const Document* document)
{
    const auto controllers = document ? WindowController::controllersOf(*document) : std::vector<WindowController*>();
    return controllers.empty() ? nullptr : controllers.front();
}

// Shows the window and makes it the one that receives keys.
inline bool activate(WindowController* window)
{
    window->window()->show();
    QApplication::setActiveWindow(window->window());
    window->documentViewController()->textView()->setFocus();
    return QTest::qWaitForWindowExposed(window->window());
}

inline QString textOf(const Document* document) { return document->data().textStorage().string(); }

// Deletes the top-level windows that hold a Content.
template <typename Content>
void closeWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->findChild<Content*>()) windows << window;
    for (const QPointer<QWidget>& window : windows) delete window.data();
}

} // namespace lumora::test

