#include "shell/Commands.h"

#include "document/Document.h"
#include "document/EditorCommands.h"
#include "document/FindBar.h"
#include "document/PreviewViewController.h"
#include "document/TextServices.h"
#include "document/TextView.h"
#include "library/LibraryDocumentOpener.h"
#include "library/LibraryFileCommands.h"
#include "library/LibraryViewController.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/foundation/PlatformError.h"
#include "settings/Settings.h"
#include "shell/DocumentController.h"
#include "shell/MainMenu.h"
#include "shell/SupportTheDeveloperViewController.h"
#include "shell/ThemesTableViewController.h"
#include "shell/WindowCommands.h"
#include "shell/WindowController.h"

namespace lumora {

namespace {

// Who carries what out, in the order the responder chain meets them: the
// editor (TextView, its EditorCommands and TextServices) and Qt's own text
// fields where they have the focus (in the editor's find bar, the field's
// own editing and the bar's find commands, never the editor's others); the
// library pane (its file commands and its opener of documents) while the
// focus is in it; the window (DocumentWindowBase, the preview, the themes and
// donation windows); the window's controllers (WindowController, whose
// commands are its WindowCommands, and through it its document; then the
// library pane, whose row commands act on its highlighted row from anywhere
// in the window); and at the end the application's own commands, the
// document controller and the main menu.

template <typename Run>
Bind<EditorCommands> onEditorCommands(Run run)
{
    return onVia<EditorCommands>(&TextView::commands, std::move(run));
}

template <typename Run>
Bind<TextServices> onTextServices(Run run)
{
    return onVia<TextServices>(&TextView::services, std::move(run));
}

// The find commands: the editor's, and its find bar's while the focus is in
// the bar (whose chain leaves the editor out).
template <typename Run>
Bind<TextServices> onFinding(Run run)
{
    return Bind<TextServices>(
        [](QObject* object) -> TextServices* {
            if (auto* bar = qobject_cast<FindBar*>(object)) object = bar->parentWidget();
            auto* view = qobject_cast<TextView*>(object);
            return view ? &view->services() : nullptr;
        },
        std::move(run));
}

// The library pane's file commands and its opening of documents.
template <typename Run>
Bind<LibraryFileCommands> onLibraryFiles(Run run)
{
    return onVia<LibraryFileCommands>(&LibraryViewController::fileCommands, std::move(run));
}

template <typename Run>
Bind<WindowCommands> onWindow(Run run)
{
    return onVia<WindowCommands>(&WindowController::commands, std::move(run));
}

template <typename Run>
Bind<Document> onDocument(Run run)
{
    return onVia<Document>(&WindowController::document, std::move(run));
}

// Qt's own text fields; never the editor, whose edits go through its gate.
template <typename Run>
Bind<QWidget> onQtEdit(Run run)
{
    return on<QWidget>(std::move(run)).servesIf([](const QWidget& widget) {
        return QtEditCommands::isEdit(widget) && !qobject_cast<const TextView*>(&widget);
    });
}

// A preference's check mark, whoever carries its command.
template <typename T>
auto preference(bool (Settings::*flag)() const)
{
    return [flag](const T&) { return (Settings::shared().*flag)(); };
}

CommandBinding textSwitch(TextServices::Switch which)
{
    return onTextServices([which](TextServices& services) { services.toggle(which); })
        .validatedBy([which](TextServices& services, MenuItem& item) { return services.validateSwitch(which, item); });
}

CommandBinding editorMotion(EditorCommands::Motion motion, bool extend)
{
    return onEditorCommands([motion, extend](EditorCommands& commands) { commands.move(motion, extend); })
        .enabledIf(&EditorCommands::canMoveCaret)
        .checksBeforeRunning();
}

constexpr KeyModifierMask cmd = commandKey;
constexpr KeyModifierMask shiftCmd = shiftKey | commandKey;
constexpr KeyModifierMask optCmd = optionKey | commandKey;
constexpr KeyModifierMask optShiftCmd = optionKey | shiftKey | commandKey;
constexpr KeyModifierMask opt = optionKey;
constexpr KeyModifierMask optShift = optionKey | shiftKey;

// The find panel's and the text finder's action codes, kept as the tags of
// their items.
constexpr qint64 showFindPanelTag = 1;
constexpr qint64 nextMatchTag = 2;
constexpr qint64 previousMatchTag = 3;
constexpr qint64 setFindStringTag = 7;
constexpr qint64 showReplaceInterfaceTag = 12;

void addApplicationMenu(CommandTable& t)
{
    t.add(Command::showAboutPanel, "showAboutPanel:")
        .title("menu.app.about")
        .handledBy(on<DocumentController>(&DocumentController::showAboutPanel));
    t.add(Command::donate, "donate:")
        .title("menu.app.donate")
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::showSupportWindow));
    // Nothing here hides or shows an application's windows as a group: the
    // items stay hidden and their keys go on to the focused widget.
    const auto hiding = [](void (ApplicationCommands::*run)()) {
        return on<ApplicationCommands>(run)
            .hiddenIf([](const ApplicationCommands& application) { return !application.canHideApplications(); })
            .enabledIf(&ApplicationCommands::canHideApplications);
    };
    t.add(Command::hide, "hide:").title("menu.app.hide.self").key(u'h', cmd).handledBy(hiding(&ApplicationCommands::hide));
    t.add(Command::hideOtherApplications, "hideOtherApplications:")
        .title("menu.app.hide.others")
        .key(u'h', optCmd)
        .handledBy(hiding(&ApplicationCommands::hideOtherApplications));
    t.add(Command::unhideAllApplications, "unhideAllApplications:")
        .title("menu.app.show.all")
        .handledBy(hiding(&ApplicationCommands::unhideAllApplications));
    t.add(Command::terminate, "terminate:")
        .title("menu.app.quit")
        .key(u'q', cmd)
        .handledBy(on<ApplicationCommands>(&ApplicationCommands::terminate));
}

void addFileMenu(CommandTable& t)
{
    t.add(Command::newDocument, "newDocument:")
        .title("menu.file.new")
        .key(u'n', cmd)
        .handledBy(on<DocumentControllerBase>(&DocumentControllerBase::newDocument));
    t.add(Command::newTab, "newTab:")
        .title("menu.file.newTab")
        .key(u't', cmd)
        .hidden(true)
        .handledBy(onWindow(&WindowCommands::newTab));
    t.add(Command::openDocument, "openDocument:")
        .title("menu.file.open")
        .key(u'o', cmd)
        .handledBy(on<DocumentController>(&DocumentController::openDocumentFromMenu));
    // Listed by the Open Recent menu, which titles them.
    t.add(Command::openRecentDocument, "openRecentDocument:")
        .handledBy(on<DocumentControllerBase>(&DocumentControllerBase::openRecentDocument));
    t.add(Command::clearRecentDocuments, "clearRecentDocuments:")
        .handledBy(on<DocumentControllerBase>(&DocumentControllerBase::clearRecentDocuments)
                       .enabledIf(&DocumentControllerBase::hasRecentDocuments));
    // Whatever window is in front.
    t.add(Command::performClose, "performClose:")
        .title("menu.file.close")
        .key(u'w', cmd)
        .handledBy(on<DocumentWindowBase>(&DocumentWindowBase::close))
        .handledBy(on<PreviewViewController>(&PreviewViewController::close))
        .handledBy(on<ThemesWindow>(&ThemesWindow::close))
        .handledBy(on<SupportWindow>(&SupportWindow::close));
    // Titled when validated, as the platform titles its standard items.
    t.add(Command::saveDocument, "saveDocument:")
        .key(u's', cmd)
        .handledBy(onWindow(&WindowCommands::saveDocument).enabledIf(&WindowCommands::canSaveDocument));
    t.add(Command::revertDocumentToSaved, "revertDocumentToSaved:")
        .key(u'r', cmd)
        .handledBy(
            onWindow(&WindowCommands::revertDocument).enabledIf(&WindowCommands::canRevertDocument));
    t.add(Command::exportAsHTML, "exportAsHTML:")
        .title("menu.file.exportAsHtml")
        .key(u'e', shiftCmd)
        .handledBy(onDocument(&Document::exportAsHTML));
    t.add(Command::runPageLayout, "runPageLayout:")
        .title("menu.file.pageSetup")
        .key(u'p', shiftCmd)
        .handledBy(onDocument(&Document::runPageLayout));
    t.add(Command::printDocument, "printDocument:")
        .title("menu.file.print")
        .key(u'p', cmd)
        .handledBy(onDocument(&Document::printDocument));

    // The document menu of a window's title, which titles them.
    t.add(Command::renameDocument, "renameDocument:").handledBy(onDocument(&Document::renameDocument));
    t.add(Command::moveDocument, "moveDocument:").handledBy(onDocument(&Document::moveDocument));
    t.add(Command::duplicateDocument, "duplicateDocument:")
        .handledBy(onWindow(&WindowCommands::duplicateDocument));
    t.add(Command::toggleDocumentLocked, "toggleDocumentLocked:")
        .handledBy(onDocument(&Document::toggleDocumentLocked).checkedIf(&Document::isLocked));
}

void addEditMenu(CommandTable& t)
{
    using M = EditorCommands::Motion;
    // The editor's own, else the Qt text field that has the focus.
    t.add(Command::undo, "undo:")
        .key(u'z', cmd)
        .handledBy(on<TextView>(&TextView::undo).enabledIf(&TextView::canUndo))
        .handledBy(onQtEdit(&QtEditCommands::undo).enabledIf(&QtEditCommands::canUndo));
    t.add(Command::redo, "redo:")
        .key(u'z', shiftCmd)
        .handledBy(on<TextView>(&TextView::redo).enabledIf(&TextView::canRedo))
        .handledBy(onQtEdit(&QtEditCommands::redo).enabledIf(&QtEditCommands::canRedo));
    t.add(Command::cut, "cut:")
        .title("menu.edit.cut")
        .key(u'x', cmd)
        .handledBy(on<TextView>(&TextView::cut).enabledIf(&TextView::canCut))
        .handledBy(onQtEdit(&QtEditCommands::cut).enabledIf(&QtEditCommands::canCut));
    t.add(Command::copy, "copy:")
        .title("menu.edit.copy")
        .key(u'c', cmd)
        .handledBy(on<TextView>(&TextView::copy).enabledIf(&TextView::canCopy))
        .handledBy(onQtEdit(&QtEditCommands::copy).enabledIf(&QtEditCommands::canCopy));
    t.add(Command::copyAsHTML, "copyAsHTML:")
        .title("menu.edit.copy.html")
        .key(u'c', optCmd)
        .handledBy(onEditorCommands(&EditorCommands::copyAsHTML)
                       .enabledIf(&EditorCommands::canCopyAsHTML)
                       .checksBeforeRunning());
    t.add(Command::paste, "paste:")
        .title("menu.edit.paste")
        .key(u'v', cmd)
        .handledBy(on<TextView>(&TextView::paste).enabledIf([](TextView& view) { return view.commands().canPaste(); }))
        .handledBy(onQtEdit(&QtEditCommands::paste).enabledIf(&QtEditCommands::canPaste));
    t.add(Command::pasteAsMarkdown, "pasteAsMarkdown:")
        .title("menu.edit.paste.markdown")
        .key(u'v', optCmd)
        .handledBy(onEditorCommands(&EditorCommands::pasteAsMarkdown)
                       .enabledIf(&EditorCommands::canPasteAsMarkdown)
                       .checksBeforeRunning());
    t.add(Command::deleteSelection, "delete:")
        .title("menu.edit.delete")
        .key(KeyEquivalent::backspace)
        .handledBy(on<TextView>(&TextView::deleteSelection).enabledIf(&TextView::canCut))
        .handledBy(onQtEdit(&QtEditCommands::deleteSelection).enabledIf(&QtEditCommands::canCut));
    t.add(Command::selectAll, "selectAll:")
        .title("menu.edit.selectAll")
        .key(u'a', cmd)
        .handledBy(on<TextView>(&TextView::selectAll).enabledIf(&TextView::canSelectAll))
        .handledBy(onQtEdit(&QtEditCommands::selectAll));

    t.add(Command::setStrong, "setStrong:")
        .title("menu.edit.text.bold")
        .key(u'b', cmd)
        .handledBy(
            onEditorCommands(&EditorCommands::setStrong).enabledIf(&EditorCommands::canSetStrong).checksBeforeRunning());
    t.add(Command::setEmphasis, "setEmphasis:")
        .title("menu.edit.text.italic")
        .key(u'i', cmd)
        .handledBy(onEditorCommands(&EditorCommands::setEmphasis)
                       .enabledIf(&EditorCommands::canSetStrong)
                       .checksBeforeRunning());
    t.add(Command::setLink, "setLink:")
        .title("menu.edit.text.link")
        .key(u'k', cmd)
        .handledBy(
            onEditorCommands(&EditorCommands::setLink).enabledIf(&EditorCommands::canSetLink).checksBeforeRunning());
    t.add(Command::setFootnote, "setFootnote:")
        .title("menu.edit.text.footnote")
        .key(u'k', optCmd)
        .handledBy(onEditorCommands(&EditorCommands::setFootnote)
                       .enabledIf(&EditorCommands::canSetLink)
                       .checksBeforeRunning());
    t.add(Command::insertTab, "insertTab:")
        .title("menu.edit.text.indent")
        .key(KeyEquivalent::tab)
        .handledBy(on<TextView>(&TextView::insertTab).enabledIf([](TextView& view) {
            return view.commands().canSetStrong();
        }));
    t.add(Command::insertBacktab, "insertBacktab:")
        .title("menu.edit.text.unindent")
        .key(KeyEquivalent::tab, shiftKey)
        .handledBy(on<TextView>(&TextView::insertBacktab).enabledIf([](TextView& view) {
            return view.commands().canSetLink();
        }));

    t.add(Command::moveLineUp, "moveLineUp:")
        .title("menu.edit.line.moveUp")
        .key(KeyEquivalent::upArrow, optCmd)
        .handledBy(onEditorCommands([](EditorCommands& commands) { commands.moveLine(true); })
                       .enabledIf(&EditorCommands::canMoveLine)
                       .checksBeforeRunning());
    t.add(Command::moveLineDown, "moveLineDown:")
        .title("menu.edit.line.moveDown")
        .key(KeyEquivalent::downArrow, optCmd)
        .handledBy(onEditorCommands([](EditorCommands& commands) { commands.moveLine(false); })
                       .enabledIf(&EditorCommands::canMoveLine)
                       .checksBeforeRunning());

    t.add(Command::jumpToPreviousSentence, "jumpToPreviousSentence:")
        .title("menu.edit.sentence.previous.jump")
        .key(KeyEquivalent::leftArrow, optCmd)
        .handledBy(editorMotion(M::previousSentence, false));
    t.add(Command::selectUntilPreviousSentence, "selectUntilPreviousSentence:")
        .title("menu.edit.sentence.previous.select")
        .key(KeyEquivalent::leftArrow, optShiftCmd)
        .alternate()
        .handledBy(editorMotion(M::previousSentence, true));
    t.add(Command::jumpToNextSentence, "jumpToNextSentence:")
        .title("menu.edit.sentence.next.jump")
        .key(KeyEquivalent::rightArrow, optCmd)
        .handledBy(editorMotion(M::nextSentence, false));
    t.add(Command::selectUntilNextSentence, "selectUntilNextSentence:")
        .title("menu.edit.sentence.next.select")
        .key(KeyEquivalent::rightArrow, optShiftCmd)
        .alternate()
        .handledBy(editorMotion(M::nextSentence, true));
    t.add(Command::jumpToPreviousParagraph, "jumpToPreviousParagraph:")
        .title("menu.edit.paragraph.previous.jump")
        .key(KeyEquivalent::upArrow, opt)
        .handledBy(editorMotion(M::previousParagraph, false));
    t.add(Command::selectUntilPreviousParagraph, "selectUntilPreviousParagraph:")
        .title("menu.edit.paragraph.previous.select")
        .key(KeyEquivalent::upArrow, optShift)
        .alternate()
        .handledBy(editorMotion(M::previousParagraph, true));
    t.add(Command::jumpToNextParagraph, "jumpToNextParagraph:")
        .title("menu.edit.paragraph.next.jump")
        .key(KeyEquivalent::downArrow, opt)
        .handledBy(editorMotion(M::nextParagraph, false));
    t.add(Command::selectUntilNextParagraph, "selectUntilNextParagraph:")
        .title("menu.edit.paragraph.next.select")
        .key(KeyEquivalent::downArrow, optShift)
        .alternate()
        .handledBy(editorMotion(M::nextParagraph, true));
}

void addEditSubmenus(CommandTable& t)
{
    using S = TextServices::Switch;
    // Find: the find panel's and the text finder's actions with their codes.
    t.add(Command::showFindInterface, "performFindPanelAction:")
        .title("menu.edit.find.find")
        .key(u'f', cmd)
        .withTag(showFindPanelTag)
        .handledBy(onFinding(&TextServices::showFindInterface).enabledIf(&TextServices::hasText));
    t.add(Command::showReplaceInterface, "performTextFinderAction:")
        .title("menu.edit.find.replace")
        .key(u'f', optCmd)
        .withTag(showReplaceInterfaceTag)
        .handledBy(onFinding(&TextServices::showReplaceInterface).enabledIf(&TextServices::hasText));
    t.add(Command::findNext, "performFindPanelAction:")
        .title("menu.edit.find.next")
        .key(u'g', cmd)
        .withTag(nextMatchTag)
        .handledBy(onFinding(&TextServices::findNextMatch).enabledIf(&TextServices::canFindAgain));
    t.add(Command::findPrevious, "performFindPanelAction:")
        .title("menu.edit.find.previous")
        .key(u'g', shiftCmd)
        .withTag(previousMatchTag)
        .handledBy(onFinding(&TextServices::findPreviousMatch).enabledIf(&TextServices::canFindAgain));
    t.add(Command::useSelectionForFind, "performFindPanelAction:")
        .title("menu.edit.find.useSelection")
        .key(u'e', cmd)
        .withTag(setFindStringTag)
        .handledBy(
            onTextServices(&TextServices::useSelectionAsFindString).enabledIf(&TextServices::canUseSelectionForFind));
    t.add(Command::centerSelectionInVisibleArea, "centerSelectionInVisibleArea:")
        .title("menu.edit.find.jumpToSelection")
        .key(u'j', cmd)
        .handledBy(onTextServices(&TextServices::centerSelection).enabledIf(&TextServices::hasText));

    t.add(Command::showGuessPanel, "showGuessPanel:")
        .title("menu.edit.spellingAndGrammar.show")
        .key(u':', cmd)
        .handledBy(onTextServices(&TextServices::showGuessPanel).enabledIf(&TextServices::canCheckSpelling));
    t.add(Command::checkSpelling, "checkSpelling:")
        .title("menu.edit.spellingAndGrammar.checkNow")
        .key(u';', cmd)
        .handledBy(onTextServices(&TextServices::checkSpellingNow).enabledIf(&TextServices::canCheckSpelling));
    t.add(Command::toggleContinuousSpellChecking, "toggleContinuousSpellChecking:")
        .title("menu.edit.spellingAndGrammar.checkSpelling")
        .handledBy(textSwitch(S::continuousSpellChecking));
    t.add(Command::toggleGrammarChecking, "toggleGrammarChecking:")
        .title("menu.edit.spellingAndGrammar.checkGrammar")
        .handledBy(onTextServices(&TextServices::toggleGrammarChecking).validatedBy(&TextServices::validateGrammarChecking));
    t.add(Command::toggleAutomaticSpellingCorrection, "toggleAutomaticSpellingCorrection:")
        .title("menu.edit.spellingAndGrammar.correctSpelling")
        .handledBy(textSwitch(S::spellingCorrection));

    t.add(Command::orderFrontSubstitutionsPanel, "orderFrontSubstitutionsPanel:")
        .title("menu.edit.substitutions.show")
        .handledBy(onTextServices(&TextServices::orderFrontSubstitutionsPanel).enabledIf(&TextServices::hasText));
    t.add(Command::toggleSmartInsertDelete, "toggleSmartInsertDelete:")
        .title("menu.edit.substitutions.smart.copyPaste")
        .handledBy(textSwitch(S::smartInsertDelete));
    t.add(Command::toggleAutomaticQuoteSubstitution, "toggleAutomaticQuoteSubstitution:")
        .title("menu.edit.substitutions.smart.quotes")
        .handledBy(textSwitch(S::quoteSubstitution));
    t.add(Command::toggleAutomaticDashSubstitution, "toggleAutomaticDashSubstitution:")
        .title("menu.edit.substitutions.smart.dashes")
        .handledBy(textSwitch(S::dashSubstitution));
    t.add(Command::toggleAutomaticLinkDetection, "toggleAutomaticLinkDetection:")
        .title("menu.edit.substitutions.smart.links")
        .handledBy(textSwitch(S::linkDetection));
    t.add(Command::toggleAutomaticDataDetection, "toggleAutomaticDataDetection:")
        .title("menu.edit.substitutions.dataDetectors")
        .handledBy(textSwitch(S::dataDetection));
    t.add(Command::toggleAutomaticTextReplacement, "toggleAutomaticTextReplacement:")
        .title("menu.edit.substitutions.textReplacement")
        .handledBy(textSwitch(S::textReplacement));

    // The case changes replace words: none in no-editing mode.
    t.add(Command::uppercaseWord, "uppercaseWord:")
        .title("menu.edit.transformations.uppercase")
        .handledBy(onTextServices(&TextServices::uppercaseWord).enabledIf(&TextServices::canEdit));
    t.add(Command::lowercaseWord, "lowercaseWord:")
        .title("menu.edit.transformations.lowercase")
        .handledBy(onTextServices(&TextServices::lowercaseWord).enabledIf(&TextServices::canEdit));
    t.add(Command::capitalizeWord, "capitalizeWord:")
        .title("menu.edit.transformations.capitalize")
        .handledBy(onTextServices(&TextServices::capitalizeWord).enabledIf(&TextServices::canEdit));
    t.add(Command::startSpeaking, "startSpeaking:")
        .title("menu.edit.speech.start")
        .handledBy(onTextServices(&TextServices::startSpeaking).enabledIf(&TextServices::canStartSpeaking));
    t.add(Command::stopSpeaking, "stopSpeaking:")
        .title("menu.edit.speech.stop")
        .handledBy(onTextServices(&TextServices::stopSpeaking).enabledIf(&TextServices::canStopSpeaking));
}

void addModeMenu(CommandTable& t)
{
    t.add(Command::toggleMarkdown, "toggleMarkdown:")
        .title("menu.modus.markdown")
        .handledBy(onDocument(&Document::toggleMarkdown).checkedIf(&Document::isMarkdownEnabled));
    t.add(Command::toggleTypewriterScrolling, "toggleTypewriterScrolling:")
        .title("menu.modus.typewriterScrolling")
        .handledBy(onWindow(&WindowCommands::toggleTypewriterScrolling)
                       .checkedIf(preference<WindowCommands>(&Settings::isTypewriterScrollingEnabled)));
    t.add(Command::toggleSounds, "toggleSounds:")
        .title("menu.modus.typewriterSounds")
        .handledBy(onWindow(&WindowCommands::toggleSounds)
                       .checkedIf(preference<WindowCommands>(&Settings::isTypewriterSoundsEnabled)));
    // One item per highlighting, titled after it.
    t.add(Command::setHighlighting, "setHighlighting:")
        .handledBy(onWindow(&WindowCommands::setHighlighting)
                       .checkedIf([](const WindowCommands&, const QVariant& value) {
                           return value.value<Settings::Highlighting>() == Settings::shared().highlighting();
                       }));
    t.add(Command::toggleNoEditing, "toggleNoEditing:")
        .title("menu.modus.noEditing")
        .handledBy(onWindow(&WindowCommands::toggleNoEditing)
                       .checkedIf(preference<WindowCommands>(&Settings::isNoEditingEnabled)));
}

void addLibraryMenu(CommandTable& t)
{
    // The library pane's own while the focus is in it; else the window's,
    // which shows the pane first.
    t.add(Command::makeLibraryDocument, "makeLibraryDocument:")
        .title("menu.library.newDocument")
        .key(u'n', shiftCmd)
        .handledBy(onLibraryFiles(&LibraryFileCommands::makeLibraryDocument)
                       .enabledIf(&LibraryFileCommands::canMakeFiles))
        .handledBy(onWindow(&WindowCommands::makeLibraryDocument)
                       .enabledIf(&WindowCommands::canMakeLibraryFiles));
    t.add(Command::makeLibraryFolder, "makeLibraryFolder:")
        .title("menu.library.newFolder")
        .handledBy(onLibraryFiles(&LibraryFileCommands::makeLibraryFolder)
                       .enabledIf(&LibraryFileCommands::canMakeFiles))
        .handledBy(
            onWindow(&WindowCommands::makeLibraryFolder).enabledIf(&WindowCommands::canMakeLibraryFiles));
    t.add(Command::removeLibraryDocument, "removeLibraryDocument:")
        .title("menu.library.moveToTrash")
        .handledBy(onLibraryFiles(&LibraryFileCommands::removeSelectedFiles)
                       .enabledIf(&LibraryFileCommands::canActOnRows));
    t.add(Command::renameLibraryDocument, "renameLibraryDocument:")
        .title("menu.edit.rename")
        .handledBy(onLibraryFiles(&LibraryFileCommands::renameLibraryDocument)
                       .enabledIf(&LibraryFileCommands::canActOnOneRow));
    t.add(Command::printSelectedFiles, "printSelectedFiles:")
        .title("menu.file.print")
        .handledBy(onLibraryFiles(&LibraryFileCommands::printSelectedFiles)
                       .enabledIf(&LibraryFileCommands::canActOnRows));
    t.add(Command::openInFinder, "openInFinder:")
        .title("menu.library.openInFinder")
        .handledBy(onLibraryFiles(&LibraryFileCommands::revealInFileManager)
                       .enabledIf(&LibraryFileCommands::canActOnOneRow));
    t.add(Command::openSelectedFile, "openSelectedFile:")
        .title("menu.library.open")
        .key(KeyEquivalent::lineFeed, cmd)
        .hidden(true)
        .handledBy(onVia<LibraryDocumentOpener>(&LibraryViewController::opener,
                                                &LibraryDocumentOpener::openSelectedFile)
                       .enabledIf(&LibraryDocumentOpener::canOpenSelectedFile));
    t.add(Command::findInLibrary, "findInLibrary:")
        .title("menu.library.find")
        .key(u'f', shiftCmd)
        .handledBy(onWindow(&WindowCommands::findInLibrary).enabledIf(&WindowCommands::hasLibraries));
    // Titled when validated, after the document and the library shown.
    t.add(Command::moveToLibrary, "moveToLibrary:")
        .hidden(false)
        .handledBy(onWindow(&WindowCommands::moveToLibrary)
                       .validatedBy(&WindowCommands::validateMoveToLibrary));
    t.add(Command::toggleLibraryLinked, "toggleLibraryLinked:")
        .hidden(false)
        .handledBy(onWindow(&WindowCommands::toggleLibraryLinked)
                       .validatedBy(&WindowCommands::validateToggleLibraryLinked));
}

void addViewMenu(CommandTable& t)
{
    t.add(Command::toggleInfoView, "toggleInfoView:")
        .title("menu.view.statistics.on")
        .key(u'w', shiftCmd)
        .handledBy(onWindow(&WindowCommands::toggleInfoView)
                       .titled(preference<WindowCommands>(&Settings::isInfoViewVisible), "menu.view.statistics.off",
                               "menu.view.statistics.on"));
    t.add(Command::toggleLibraryView, "toggleLibraryView:")
        .title("menu.view.library.on")
        .key(u'l', cmd)
        .handledBy(onWindow(&WindowCommands::toggleLibraryView)
                       .titled(&WindowCommands::isLibraryVisible, "menu.view.library.off", "menu.view.library.on"));
    t.add(Command::showAndFocusLibraryView, "showAndFocusLibraryView:")
        .title("menu.view.focusLibrary")
        .key(u'l', optCmd)
        .alternate()
        .handledBy(onWindow(&WindowCommands::showAndFocusLibraryView));
    t.add(Command::toggleOutlineView, "toggleOutlineView:")
        .title("menu.view.outline.on")
        .key(u'l', shiftCmd)
        .handledBy(onWindow(&WindowCommands::toggleOutlineView)
                       .titled(&WindowCommands::isOutlineVisible, "menu.view.outline.off", "menu.view.outline.on")
                       .hiddenIf([](const WindowCommands& window) { return !window.showsMarkdown(); }));
    t.add(Command::togglePreview, "togglePreview:")
        .title("menu.view.preview")
        .key(u'p', optCmd)
        .handledBy(onWindow(&WindowCommands::togglePreviewWindow));

    // The value choices: one item per value, titled after it.
    t.add(Command::setLibrarySummaryLines, "setLibrarySummaryLines:")
        .handledBy(onWindow(&WindowCommands::setLibrarySummaryLines)
                       .checkedIf([](const WindowCommands&, const QVariant& value) {
                           return value.toInt() == Settings::shared().librarySummaryLines();
                       }));
    t.add(Command::setTheme, "setTheme:").handledBy(on<MainMenu>(&MainMenu::setTheme).checkedIf(&MainMenu::isTheme));
    t.add(Command::editThemes, "editThemes:")
        .title("menu.view.theme.edit")
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::editThemes));
    t.add(Command::setFontFamily, "setFontFamily:")
        .handledBy(on<MainMenu>(&MainMenu::setFontFamily).checkedIf(&MainMenu::isFontFamilyChosen));
    t.add(Command::increaseFontSize, "increaseFontSize:")
        .title("menu.view.textSize.increase")
        .key(u'+', cmd)
        .handledBy(on<MainMenu>(&MainMenu::increaseFontSize).enabledIf(&MainMenu::canIncreaseFontSize));
    t.add(Command::decreaseFontSize, "decreaseFontSize:")
        .title("menu.view.textSize.decrease")
        .key(u'-', cmd)
        .handledBy(on<MainMenu>(&MainMenu::decreaseFontSize).enabledIf(&MainMenu::canDecreaseFontSize));
    t.add(Command::resetFontSize, "resetFontSize:")
        .title("menu.edit.reset")
        .key(u'0', cmd)
        .handledBy(on<MainMenu>(&MainMenu::resetFontSize).enabledIf(&MainMenu::canResetFontSize));
    t.add(Command::setParagraphSpacing, "setParagraphSpacing:")
        .handledBy(on<MainMenu>(&MainMenu::setParagraphSpacing).checkedIf(&MainMenu::isParagraphSpacing));
    t.add(Command::setEditorSize, "setEditorSize:")
        .handledBy(onWindow(&WindowCommands::setEditorSize)
                       .checkedIf([](const WindowCommands&, const QVariant& value) {
                           return value.toDouble() == Settings::shared().editorSize();
                       }));
    // With "enableBetaFeatures".
    t.add(Command::linkStylesheet, "linkStylesheet:")
        .title("menu.view.stylesheet.link")
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::linkStylesheet));
    t.add(Command::unlinkStylesheet, "unlinkStylesheet:")
        .title("menu.view.stylesheet.unlink")
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::unlinkStylesheet)
                       .hiddenIf([](const DocumentController& controller) { return !controller.isStylesheetLinked(); }));
    t.add(Command::exportStylesheet, "exportStylesheet:")
        .title("menu.view.stylesheet.export")
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::exportStylesheet));
    // Titled when validated, after the window's state.
    t.add(Command::toggleFullScreen, "toggleFullScreen:")
        .key(u'f', controlKey | commandKey)
        .handledBy(on<DocumentWindowBase>(&DocumentWindowBase::toggleFullScreen)
                       .validatedBy([](const DocumentWindowBase& window, MenuItem& item) {
                           item.setTitle(window.isFullScreen()
                                             ? platformText("menu.view.fullScreen.exit", "Exit Full Screen")
                                             : platformText("menu.view.fullScreen.enter", "Enter Full Screen"));
                           return true;
                       }));
}

void addWindowAndHelpMenus(CommandTable& t)
{
    t.add(Command::performMiniaturize, "performMiniaturize:")
        .title("menu.window.minimize")
        .key(u'm', cmd)
        .handledBy(on<DocumentWindowBase>(&DocumentWindowBase::showMinimized));
    t.add(Command::performZoom, "performZoom:")
        .title("menu.window.zoom")
        .handledBy(on<DocumentWindowBase>(&DocumentWindowBase::toggleMaximized));
    t.add(Command::arrangeInFront, "arrangeInFront:")
        .title("menu.window.bringAllToFront")
        .handledBy(on<ApplicationCommands>(&ApplicationCommands::arrangeInFront));
    // One item per window, titled after it.
    t.add(Command::makeKeyAndOrderFront, "makeKeyAndOrderFront:")
        .handledBy(on<ApplicationCommands>(&ApplicationCommands::orderFront)
                       .validatedBy(&ApplicationCommands::validateWindowItem));

    t.add(Command::openIntroduction, "openIntroduction:")
        .title("menu.help.introduction")
        .handledBy(on<DocumentController>(&DocumentController::openIntroduction));
    // A build without a web page leaves the item out.
    t.add(Command::openWebsite, "openWebsite:")
        .title("menu.help.website")
        .key(u'?', cmd)
        .shownWhenHandled()
        .handledBy(on<DocumentController>(&DocumentController::openWebsite).servesIf(&DocumentController::hasWebsite));
}

CommandTable makeTable()
{
    CommandTable table;
    addApplicationMenu(table);
    addFileMenu(table);
    addEditMenu(table);
    addEditSubmenus(table);
    addModeMenu(table);
    addLibraryMenu(table);
    addViewMenu(table);
    addWindowAndHelpMenus(table);
    return table;
}

} // namespace

const CommandTable& commandTable()
{
    static const CommandTable table = makeTable();
    return table;
}

} // namespace lumora
