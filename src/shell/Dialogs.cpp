#include "shell/Dialogs.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/EncodingView.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/NativePath.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QStandardPaths>

#include <algorithm>
#include <limits>

namespace lumora {

namespace {

// The plain-text names the dialogs list, beside every file.
const QString kTextPatterns = QStringLiteral(" (*.txt *.text *.md *.markdown *.mdown *.mkd)");

QString quoted(const QString& name)
{
    return QStringLiteral("“") + name + QStringLiteral("”");
}

// A message in front of parent with the application's icon and the given
// buttons, the first the default; the index of the one chosen. Escape, or
// closing the box some other way, chooses the button at escapeIndex.
int ask(QWidget* parent, const QString& text, const QString& informative, const QStringList& buttons,
        int escapeIndex, int defaultIndex = 0)
{
    QMessageBox box(parent);
    box.setWindowTitle(QString());
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box.setIconPixmap(DocumentWindowBase::applicationIcon().pixmap(56, 56));
    // Plain text: a message names files, and a name such as
    // "<img src=x>.md" would be read as HTML, which loads what it names.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setInformativeText(informative);
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    QList<QAbstractButton*> made;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        made << box.addButton(buttons[i], i == 0              ? QMessageBox::AcceptRole
                                          : i == escapeIndex ? QMessageBox::RejectRole
                                                             : QMessageBox::DestructiveRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(made.value(defaultIndex, made.first())));
    box.setEscapeButton(made.value(escapeIndex));
    box.exec();
    const qsizetype chosen = made.indexOf(box.clickedButton());
    return chosen < 0 ? escapeIndex : int(chosen);
}

QString startFolder(const QString& remembered)
{
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) return remembered;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

// The document's name as a file dialog proposes it: the name on disk,
// with ":" as it is stored.
QString nameOnDisk(const DocumentBase& document)
{
    return document.isUntitled() ? document.displayName()
                                 : NativePath::shown(QFileInfo(document.filePath()).fileName());
}

// Where a dialog for the document starts: beside its file, else where the
// last dialog ended.
QString startFolder(const DocumentBase& document, const QString& remembered)
{
    const QString folder = document.isUntitled() ? QString() : QFileInfo(document.filePath()).path();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : startFolder(remembered);
}

// The encoding chooser below the file dialog's own controls, across its
// width.
void addEncodingChooser(QFileDialog& dialog)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid) return;
    grid->addWidget(EncodingView::makeEncodingAccessoryView(), grid->rowCount(), 0, 1, grid->columnCount());
}

// Qt's file dialog for opening, where a chosen folder opens as it is instead
// of being entered (a double click or Return still enters it).
class OpenDialog : public QFileDialog {
public:
    OpenDialog(QWidget* parent, const QString& folder)
        : QFileDialog(parent, localized("dialog.open.title"), folder)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setAcceptMode(QFileDialog::AcceptOpen);
        setNameFilters({localized("dialog.filter.text") + kTextPatterns, localized("dialog.filter.all") + QStringLiteral(" (*)")});
        addEncodingChooser(*this);
    }

    QStringList chosen;

    void accept() override
    {
        const QStringList files = selectedFiles();
        const bool anyFolder = std::any_of(files.begin(), files.end(), [](const QString& f) { return QFileInfo(f).isDir(); });
        const bool allExist = std::all_of(files.begin(), files.end(), [](const QString& f) { return QFileInfo::exists(f); });
        if (!files.isEmpty() && anyFolder && allExist) {
            chosen = files;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

// Documents are saved with the encoding chooser; exports are not.
enum class Chooser { none, encoding };

// Qt's save dialog, where a name the writer typed keeps its extension and
// only a name without one gets the default extension. (Qt would take
// anything after a dot for an extension: "Mr. Smith" would stay without
// one.) The name is completed before the dialog accepts it, so that Qt still
// asks before replacing a file of that name.
class SaveDialog : public QFileDialog {
public:
    SaveDialog(QWidget* parent, const QString& title, const QString& folder, QString suffix)
        : QFileDialog(parent, title, folder), m_suffix(std::move(suffix))
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
    }

    void accept() override
    {
        if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            const QString typed = name->text().trimmed();
            if (!typed.isEmpty() && !StandardDialogs::hasExtension(QFileInfo(typed).fileName())) {
                name->setText(typed + QLatin1Char('.') + m_suffix);
            }
        }
        QFileDialog::accept();
    }

private:
    QString m_suffix;
};

QString savePath(QWidget* parent, const QString& title, const QString& folder, const QString& name,
                 const QString& suffix, const QStringList& filters, Chooser chooser = Chooser::none)
{
    SaveDialog dialog(parent, title, folder, suffix);
    dialog.setNameFilters(filters);
    if (chooser == Chooser::encoding) addEncodingChooser(dialog);
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace

bool StandardDialogs::hasExtension(const QString& fileName)
{
    // A short run of letters and digits after the last dot, which is not
    // the first character: "notes.md", "Chapter 1.draft"; not "Mr. Smith",
    // "v1.", ".notes".
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return false;
    const QStringView extension = QStringView(fileName).mid(dot + 1);
    if (extension.isEmpty() || extension.size() > 15) return false;
    return std::all_of(extension.begin(), extension.end(),
                       [](QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'-'; });
}

QWidget* StandardDialogs::windowFor(const DocumentBase* document)
{
    if (auto* d = qobject_cast<const Document*>(document)) {
        const auto& editors = d->editors();
        for (auto it = editors.rbegin(); it != editors.rend(); ++it)
            if (auto* pane = dynamic_cast<DocumentViewController*>(*it)) return pane->window();
    }
    return ActionDispatcher::instance().keyWindow();
}

SaveChoice StandardDialogs::askToSaveChanges(DocumentBase& document)
{
    const int chosen = ask(windowFor(&document),
                           localizedFormat(QStringLiteral("dialog.saveChanges"), {quoted(document.displayName())}),
                           localized("dialog.saveChanges.info"),
                           {localized("dialog.button.save"), localized("dialog.button.dontSave"),
                            localized("dialog.button.cancel")},
                           2);
    return chosen == 0 ? SaveChoice::save : chosen == 1 ? SaveChoice::dontSave : SaveChoice::cancel;
}

std::optional<QString> StandardDialogs::chooseSaveLocation(DocumentBase& document)
{
    QString name;
    auto* d = qobject_cast<Document*>(&document);
    if (d) {
        if (const auto suggested = d->suggestedFileName()) name = *suggested + QLatin1Char('.') + Document::fileNameExtension();
    }
    const QString path = savePath(windowFor(&document), localized("dialog.save.title"), startFolder(document, m_lastFolder), name,
                                  Document::fileNameExtension(),
                                  {localized("dialog.filter.text") + kTextPatterns,
                                   localized("dialog.filter.all") + QStringLiteral(" (*)")},
                                  Chooser::encoding);
    if (path.isEmpty()) return std::nullopt;
    m_lastFolder = QFileInfo(path).path();
    // The encoding the dialog showed when the writer saved applies to this save.
    if (d) d->setSaveDialogEncoding(UserDefaults::standard().integerValue(QStringLiteral("saveEncoding")).value_or(-1));
    return path;
}

ExternalChangeChoice StandardDialogs::askAboutExternalChange(DocumentBase& document)
{
    const int chosen = ask(windowFor(&document),
                           localizedFormat(QStringLiteral("dialog.externalChange"), {quoted(document.displayName())}),
                           localized("dialog.externalChange.info"),
                           {localized("dialog.button.keepMine"), localized("dialog.button.loadTheirs")}, 0);
    return chosen == 1 ? ExternalChangeChoice::reloadTheirs : ExternalChangeChoice::keepMine;
}

void StandardDialogs::presentError(DocumentBase& document, const PlatformError& error)
{
    if (error.isCancellation()) return;
    ask(windowFor(&document), error.errorDescription, error.recoverySuggestion, {localized("dialog.button.ok")}, 0);
}

void StandardDialogs::presentApplicationError(const PlatformError& error)
{
    if (error.isCancellation()) return;
    ask(ActionDispatcher::instance().keyWindow(), error.errorDescription, error.recoverySuggestion,
        {localized("dialog.button.ok")}, 0);
}

void presentApplicationError(const PlatformError& error)
{
    if (DocumentController* controller = DocumentController::shared()) controller->presentError(error);
    else StandardDialogs().presentApplicationError(error);
}

QStringList StandardDialogs::chooseFilesToOpen()
{
    // Beside the document the writer is in, else where the last dialog ended.
    QString folder = startFolder(m_lastFolder);
    if (WindowController* window = WindowController::of(ActionDispatcher::instance().keyWindow()))
        if (const Document* current = window->document(); current && !current->isUntitled())
            folder = startFolder(*current, m_lastFolder);
    OpenDialog dialog(ActionDispatcher::instance().keyWindow(), folder);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.chosen.isEmpty() ? dialog.selectedFiles() : dialog.chosen;
    if (!files.isEmpty()) m_lastFolder = dialog.directory().absolutePath();
    return files;
}

std::optional<QString> StandardDialogs::chooseExportLocation(Document& document, const QString& proposedName)
{
    const QString name = proposedName.isEmpty() ? QString() : proposedName + QStringLiteral(".html");
    const QString path = savePath(windowFor(&document), localized("dialog.export.title"), startFolder(document, m_lastFolder), name,
                                  QStringLiteral("html"), {QStringLiteral("HTML (*.html *.htm)")});
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> StandardDialogs::chooseStylesheetToLink()
{
    QFileDialog dialog(ActionDispatcher::instance().keyWindow(), localized("dialog.stylesheet.link.title"),
                       startFolder(m_lastFolder));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({localized("dialog.filter.stylesheet") + QStringLiteral(" (*.json)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    m_lastFolder = dialog.directory().absolutePath();
    return dialog.selectedFiles().first();
}

std::optional<QString> StandardDialogs::chooseStylesheetExportLocation(const QString& proposedName)
{
    const QString path = savePath(ActionDispatcher::instance().keyWindow(), localized("dialog.stylesheet.export.title"),
                                  startFolder(m_lastFolder), proposedName + QStringLiteral(".json"),
                                  QStringLiteral("json"),
                                  {localized("dialog.filter.stylesheet") + QStringLiteral(" (*.json)")});
    if (path.isEmpty()) return std::nullopt;
    m_lastFolder = QFileInfo(path).absolutePath();
    return path;
}

Dialogs::LockedChoice StandardDialogs::askAboutLockedDocument(Document& document)
{
    const int chosen = ask(windowFor(&document),
                           localizedFormat(QStringLiteral("dialog.locked"), {quoted(document.displayName())}),
                           localized("dialog.locked.info"),
                           {localized("dialog.button.duplicate"), localized("dialog.button.cancel")}, 1);
    return chosen == 0 ? LockedChoice::duplicate : LockedChoice::cancel;
}

Dialogs::RevertChoice StandardDialogs::chooseRevert(Document& document, bool offerLastSaved, bool offerLastOpened)
{
    const QString name = quoted(document.displayName());
    QWidget* parent = windowFor(&document);
    if (offerLastSaved && offerLastOpened) {
        const int chosen = ask(parent, localizedFormat(QStringLiteral("dialog.revert.both"), {name}),
                               localized("dialog.revert.both.info"),
                               {localized("dialog.button.revertToSaved"), localized("dialog.button.revertToOpened"),
                                localized("dialog.button.cancel")},
                               2);
        return chosen == 0 ? RevertChoice::lastSaved : chosen == 1 ? RevertChoice::lastOpened : RevertChoice::cancel;
    }
    const bool opened = !offerLastSaved;
    const int chosen = ask(parent, localizedFormat(opened ? QStringLiteral("dialog.revert.opened") : QStringLiteral("dialog.revert"), {name}),
                           localized(opened ? "dialog.revert.opened.info" : "dialog.revert.info"),
                           {localized("dialog.button.revert"), localized("dialog.button.cancel")}, 1);
    if (chosen != 0) return RevertChoice::cancel;
    return opened ? RevertChoice::lastOpened : RevertChoice::lastSaved;
}

FailedSaveChoice StandardDialogs::askAfterFailedSave(DocumentBase& document, const PlatformError& error,
                                                     FailedSaveContext context)
{
    QWidget* parent = windowFor(&document);
    switch (context) {
    case FailedSaveContext::saving:
        return ask(parent, error.errorDescription, error.recoverySuggestion,
                   {localized("dialog.button.ok"), localized("dialog.button.saveAs")}, 0) == 1
                   ? FailedSaveChoice::saveAs
                   : FailedSaveChoice::dismiss;
    case FailedSaveContext::closing: {
        const int chosen = ask(parent, error.errorDescription, error.recoverySuggestion,
                               {localized("dialog.button.saveAs"), localized("dialog.button.closeWithoutSaving"),
                                localized("dialog.button.cancel")},
                               2);
        return chosen == 0 ? FailedSaveChoice::saveAs
               : chosen == 1 ? FailedSaveChoice::closeWithoutSaving
                             : FailedSaveChoice::dismiss;
    }
    case FailedSaveContext::terminating: {
        // Said before it happens: where the text will be.
        const QString kept = localizedFormat(QStringLiteral("dialog.failedSave.quit.info"),
                                             {QDir::toNativeSeparators(document.reserveRecoveryFile())});
        const QString informative =
            error.recoverySuggestion.isEmpty() ? kept : error.recoverySuggestion + QStringLiteral("\n\n") + kept;
        return ask(parent, error.errorDescription, informative,
                   {localized("dialog.button.saveAs"), localized("dialog.button.quitAnyway")}, 1) == 0
                   ? FailedSaveChoice::saveAs
                   : FailedSaveChoice::keepRecoveryCopy;
    }
    }
    return FailedSaveChoice::dismiss;
}

bool StandardDialogs::confirmCloseWithoutSaving(DocumentBase& document)
{
    return ask(windowFor(&document),
               localizedFormat(QStringLiteral("dialog.closeWithoutSaving"), {quoted(document.displayName())}),
               localized("dialog.closeWithoutSaving.info"),
               {localized("dialog.button.closeWithoutSaving.confirm"), localized("dialog.button.cancel")}, 1, 1)
           == 0;
}

std::optional<QString> StandardDialogs::chooseNewName(DocumentBase& document)
{
    QInputDialog dialog(windowFor(&document));
    dialog.setWindowTitle(localized("dialog.rename.title"));
    dialog.setLabelText(localizedFormat(QStringLiteral("dialog.rename.label"), {quoted(document.displayName())}));
    dialog.setTextValue(document.displayName());
    dialog.setOkButtonText(localized("dialog.button.rename"));
    dialog.setCancelButtonText(localized("dialog.button.cancel"));
    // The name is selected without its extension, ready to type over.
    QTimer::singleShot(0, &dialog, [&dialog, name = document.displayName()] {
        if (auto* field = dialog.findChild<QLineEdit*>()) {
            const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
            field->setSelection(0, int(dot > 0 ? dot : name.size()));
        }
    });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> StandardDialogs::chooseMoveLocation(DocumentBase& document)
{
    const QString path = savePath(windowFor(&document), localized("dialog.move.title"),
                                  startFolder(document, m_lastFolder), nameOnDisk(document), QString(),
                                  {localized("dialog.filter.all") + QStringLiteral(" (*)")});
    if (path.isEmpty()) return std::nullopt;
    m_lastFolder = QFileInfo(path).path();
    return path;
}

DeletedFileChoice StandardDialogs::askAboutDeletedFile(DocumentBase& document)
{
    const int chosen = ask(windowFor(&document),
                           localizedFormat(QStringLiteral("dialog.deletedFile"), {quoted(document.displayName())}),
                           localizedFormat(QStringLiteral("dialog.deletedFile.info"),
                                           {QDir::toNativeSeparators(QFileInfo(document.filePath()).path())}),
                           {localized("dialog.button.saveAgain"), localized("dialog.button.saveAs"),
                            localized("dialog.button.cancel")},
                           2);
    return chosen == 0 ? DeletedFileChoice::saveAgain : chosen == 1 ? DeletedFileChoice::saveAs : DeletedFileChoice::cancel;
}

std::function<void()> StandardDialogs::beginProgress(const Document& document, const QString& message)
{
    // A small busy indicator over the window, only when the work takes a
    // while; the window stays usable.
    QPointer<QProgressDialog> progress = new QProgressDialog(message, QString(), 0, 0, windowFor(&document));
    progress->setWindowModality(Qt::NonModal);
    progress->setCancelButton(nullptr);
    progress->setMinimumDuration(std::numeric_limits<int>::max());
    QTimer::singleShot(400, progress, [progress] {
        if (progress) progress->show();
    });
    // Gone at once, with its timer: a failure dialog that follows (its own
    // event loop would run the timer of a window merely hidden) is never
    // covered by it.
    return [progress] { delete progress.data(); };
}

} // namespace lumora
