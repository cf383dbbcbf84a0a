#include "shell/Dialogs.h"

#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/EncodingView.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "shell/DocumentController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>

namespace lumora {

namespace {

QString quoted(const QString& name)
{
    return QStringLiteral("“") + name + QStringLiteral("”");
}

// A message in front of parent with the application's icon and the given
// buttons, the first the default; the index of the one chosen. Escape, or
// closing the box some other way, chooses the button at escapeIndex.
int ask(QWidget* parent, const QString& text, const QString& informative, const QStringList& buttons,
        int escapeIndex)
{
    QMessageBox box(parent);
    box.setWindowTitle(QString());
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box.setIconPixmap(DocumentWindowBase::applicationIcon().pixmap(56, 56));
    box.setText(text);
    box.setInformativeText(informative);
    QList<QAbstractButton*> made;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        made << box.addButton(buttons[i], i == 0              ? QMessageBox::AcceptRole
                                          : i == escapeIndex ? QMessageBox::RejectRole
                                                             : QMessageBox::DestructiveRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(made.first()));
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

// Where a save dialog for the document starts: beside its file, else where
// the last dialog ended.
QString startFolder(const DocumentBase& document, const QString& remembered)
{
    return document.isUntitled() ? startFolder(remembered) : QFileInfo(document.filePath()).path();
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
        setNameFilters({localized("dialog.filter.text") + QStringLiteral(" (*.txt *.text *.md *.markdown *.mdown *.mkd)"),
                        localized("dialog.filter.all") + QStringLiteral(" (*)")});
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

QString savePath(QWidget* parent, const QString& title, const QString& folder, const QString& name,
                 const QString& suffix, const QStringList& filters, Chooser chooser = Chooser::none)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilters(filters);
    if (chooser == Chooser::encoding) addEncodingChooser(dialog);
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace

QWidget* StandardDialogs::windowFor(DocumentBase* document)
{
    if (auto* d = qobject_cast<Document*>(document)) {
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
                                  {localized("dialog.filter.text") + QStringLiteral(" (*.txt)"),
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
    OpenDialog dialog(ActionDispatcher::instance().keyWindow(), startFolder(m_lastFolder));
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

Dialogs::LockedChoice StandardDialogs::askAboutLockedDocument(Document& document)
{
    const int chosen = ask(windowFor(&document),
                           localizedFormat(QStringLiteral("dialog.locked"), {quoted(document.displayName())}),
                           localized("dialog.locked.info"),
                           {localized("dialog.button.duplicate"), localized("dialog.button.cancel")}, 1);
    return chosen == 0 ? LockedChoice::duplicate : LockedChoice::cancel;
}

bool StandardDialogs::confirmRevert(Document& document)
{
    return ask(windowFor(&document),
               localizedFormat(QStringLiteral("dialog.revert"), {quoted(document.displayName())}),
               localized("dialog.revert.info"), {localized("dialog.button.revert"), localized("dialog.button.cancel")},
               1) == 0;
}

} // namespace lumora
