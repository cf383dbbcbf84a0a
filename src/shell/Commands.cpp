#include "shell/Commands.h"

namespace lumora {

namespace {

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
    t.add(Command::showAboutPanel, "showAboutPanel:").title("menu.app.about");
    t.add(Command::donate, "donate:").title("menu.app.donate").shownWhenHandled();
    t.add(Command::hide, "hide:").title("menu.app.hide.self").key(u'h', cmd).shownWhenHandled();
    t.add(Command::hideOtherApplications, "hideOtherApplications:")
        .title("menu.app.hide.others")
        .key(u'h', optCmd)
        .shownWhenHandled();
    t.add(Command::unhideAllApplications, "unhideAllApplications:").title("menu.app.show.all").shownWhenHandled();
    t.add(Command::terminate, "terminate:").title("menu.app.quit").key(u'q', cmd);
}

void addFileMenu(CommandTable& t)
{
    t.add(Command::newDocument, "newDocument:").title("menu.file.new").key(u'n', cmd);
    t.add(Command::newTab, "newTab:").title("menu.file.newTab").key(u't', cmd).hidden(true);
    t.add(Command::openDocument, "openDocument:").title("menu.file.open").key(u'o', cmd);
    // Listed by the Open Recent menu, which titles them.
    t.add(Command::openRecentDocument, "openRecentDocument:");
    t.add(Command::clearRecentDocuments, "clearRecentDocuments:");
    t.add(Command::performClose, "performClose:").title("menu.file.close").key(u'w', cmd);
    // Titled when validated, as the platform titles its standard items.
    t.add(Command::saveDocument, "saveDocument:").key(u's', cmd);
    t.add(Command::revertDocumentToSaved, "revertDocumentToSaved:").key(u'r', cmd);
    t.add(Command::exportAsHTML, "exportAsHTML:").title("menu.file.exportAsHtml").key(u'e', shiftCmd);
    t.add(Command::runPageLayout, "runPageLayout:").title("menu.file.pageSetup").key(u'p', shiftCmd);
    t.add(Command::printDocument, "printDocument:").title("menu.file.print").key(u'p', cmd);

    // The document menu of a window's title, which titles them.
    t.add(Command::renameDocument, "renameDocument:");
    t.add(Command::moveDocument, "moveDocument:");
    t.add(Command::duplicateDocument, "duplicateDocument:");
    t.add(Command::toggleDocumentLocked, "toggleDocumentLocked:");
}

void addEditMenu(CommandTable& t)
{
    t.add(Command::undo, "undo:").key(u'z', cmd);
    t.add(Command::redo, "redo:").key(u'z', shiftCmd);
    t.add(Command::cut, "cut:").title("menu.edit.cut").key(u'x', cmd);
    t.add(Command::copy, "copy:").title("menu.edit.copy").key(u'c', cmd);
    t.add(Command::copyAsHTML, "copyAsHTML:").title("menu.edit.copy.html").key(u'c', optCmd);
    t.add(Command::paste, "paste:").title("menu.edit.paste").key(u'v', cmd);
    t.add(Command::pasteAsMarkdown, "pasteAsMarkdown:").title("menu.edit.paste.markdown").key(u'v', optCmd);
    t.add(Command::deleteSelection, "delete:").title("menu.edit.delete").key(KeyEquivalent::backspace);
    t.add(Command::selectAll, "selectAll:").title("menu.edit.selectAll").key(u'a', cmd);

    t.add(Command::setStrong, "setStrong:").title("menu.edit.text.bold").key(u'b', cmd);
    t.add(Command::setEmphasis, "setEmphasis:").title("menu.edit.text.italic").key(u'i', cmd);
    t.add(Command::setLink, "setLink:").title("menu.edit.text.link").key(u'k', cmd);
    t.add(Command::setFootnote, "setFootnote:").title("menu.edit.text.footnote").key(u'k', optCmd);
    t.add(Command::insertTab, "insertTab:").title("menu.edit.text.indent").key(KeyEquivalent::tab);
    t.add(Command::insertBacktab, "insertBacktab:").title("menu.edit.text.unindent").key(KeyEquivalent::tab, shiftKey);

    t.add(Command::moveLineUp, "moveLineUp:").title("menu.edit.line.moveUp").key(KeyEquivalent::upArrow, optCmd);
    t.add(Command::moveLineDown, "moveLineDown:")
        .title("menu.edit.line.moveDown")
        .key(KeyEquivalent::downArrow, optCmd);

    t.add(Command::jumpToPreviousSentence, "jumpToPreviousSentence:")
        .title("menu.edit.sentence.previous.jump")
        .key(KeyEquivalent::leftArrow, optCmd);
    t.add(Command::selectUntilPreviousSentence, "selectUntilPreviousSentence:")
        .title("menu.edit.sentence.previous.select")
        .key(KeyEquivalent::leftArrow, optShiftCmd)
        .alternate();
    t.add(Command::jumpToNextSentence, "jumpToNextSentence:")
        .title("menu.edit.sentence.next.jump")
        .key(KeyEquivalent::rightArrow, optCmd);
    t.add(Command::selectUntilNextSentence, "selectUntilNextSentence:")
        .title("menu.edit.sentence.next.select")
        .key(KeyEquivalent::rightArrow, optShiftCmd)
        .alternate();
    t.add(Command::jumpToPreviousParagraph, "jumpToPreviousParagraph:")
        .title("menu.edit.paragraph.previous.jump")
        .key(KeyEquivalent::upArrow, opt);
    t.add(Command::selectUntilPreviousParagraph, "selectUntilPreviousParagraph:")
        .title("menu.edit.paragraph.previous.select")
        .key(KeyEquivalent::upArrow, optShift)
        .alternate();
    t.add(Command::jumpToNextParagraph, "jumpToNextParagraph:")
        .title("menu.edit.paragraph.next.jump")
        .key(KeyEquivalent::downArrow, opt);
    t.add(Command::selectUntilNextParagraph, "selectUntilNextParagraph:")
        .title("menu.edit.paragraph.next.select")
        .key(KeyEquivalent::downArrow, optShift)
        .alternate();
}

void addEditSubmenus(CommandTable& t)
{
    // Find: the find panel's and the text finder's actions with their codes.
    t.add(Command::showFindInterface, "performFindPanelAction:")
        .title("menu.edit.find.find")
        .key(u'f', cmd)
        .withTag(showFindPanelTag);
    t.add(Command::showReplaceInterface, "performTextFinderAction:")
        .title("menu.edit.find.replace")
        .key(u'f', optCmd)
        .withTag(showReplaceInterfaceTag);
    t.add(Command::findNext, "performFindPanelAction:").title("menu.edit.find.next").key(u'g', cmd).withTag(nextMatchTag);
    t.add(Command::findPrevious, "performFindPanelAction:")
        .title("menu.edit.find.previous")
        .key(u'g', shiftCmd)
        .withTag(previousMatchTag);
    t.add(Command::useSelectionForFind, "performFindPanelAction:")
        .title("menu.edit.find.useSelection")
        .key(u'e', cmd)
        .withTag(setFindStringTag);
    t.add(Command::centerSelectionInVisibleArea, "centerSelectionInVisibleArea:")
        .title("menu.edit.find.jumpToSelection")
        .key(u'j', cmd);

    t.add(Command::showGuessPanel, "showGuessPanel:").title("menu.edit.spellingAndGrammar.show").key(u':', cmd);
    t.add(Command::checkSpelling, "checkSpelling:").title("menu.edit.spellingAndGrammar.checkNow").key(u';', cmd);
    t.add(Command::toggleContinuousSpellChecking, "toggleContinuousSpellChecking:")
        .title("menu.edit.spellingAndGrammar.checkSpelling");
    t.add(Command::toggleGrammarChecking, "toggleGrammarChecking:").title("menu.edit.spellingAndGrammar.checkGrammar");
    t.add(Command::toggleAutomaticSpellingCorrection, "toggleAutomaticSpellingCorrection:")
        .title("menu.edit.spellingAndGrammar.correctSpelling");

    t.add(Command::orderFrontSubstitutionsPanel, "orderFrontSubstitutionsPanel:").title("menu.edit.substitutions.show");
    t.add(Command::toggleSmartInsertDelete, "toggleSmartInsertDelete:")
        .title("menu.edit.substitutions.smart.copyPaste");
    t.add(Command::toggleAutomaticQuoteSubstitution, "toggleAutomaticQuoteSubstitution:")
        .title("menu.edit.substitutions.smart.quotes");
    t.add(Command::toggleAutomaticDashSubstitution, "toggleAutomaticDashSubstitution:")
        .title("menu.edit.substitutions.smart.dashes");
    t.add(Command::toggleAutomaticLinkDetection, "toggleAutomaticLinkDetection:")
        .title("menu.edit.substitutions.smart.links");
    t.add(Command::toggleAutomaticDataDetection, "toggleAutomaticDataDetection:")
        .title("menu.edit.substitutions.dataDetectors");
    t.add(Command::toggleAutomaticTextReplacement, "toggleAutomaticTextReplacement:")
        .title("menu.edit.substitutions.textReplacement");

    t.add(Command::uppercaseWord, "uppercaseWord:").title("menu.edit.transformations.uppercase");
    t.add(Command::lowercaseWord, "lowercaseWord:").title("menu.edit.transformations.lowercase");
    t.add(Command::capitalizeWord, "capitalizeWord:").title("menu.edit.transformations.capitalize");
    t.add(Command::startSpeaking, "startSpeaking:").title("menu.edit.speech.start");
    t.add(Command::stopSpeaking, "stopSpeaking:").title("menu.edit.speech.stop");
}

void addModeMenu(CommandTable& t)
{
    t.add(Command::toggleMarkdown, "toggleMarkdown:").title("menu.modus.markdown");
    t.add(Command::toggleTypewriterScrolling, "toggleTypewriterScrolling:").title("menu.modus.typewriterScrolling");
    t.add(Command::toggleSounds, "toggleSounds:").title("menu.modus.typewriterSounds");
    // One item per highlighting, titled after it.
    t.add(Command::setHighlighting, "setHighlighting:");
    t.add(Command::toggleNoEditing, "toggleNoEditing:").title("menu.modus.noEditing");
}

void addLibraryMenu(CommandTable& t)
{
    t.add(Command::makeLibraryDocument, "makeLibraryDocument:").title("menu.library.newDocument").key(u'n', shiftCmd);
    t.add(Command::makeLibraryFolder, "makeLibraryFolder:").title("menu.library.newFolder");
    t.add(Command::removeLibraryDocument, "removeLibraryDocument:").title("menu.library.moveToTrash");
    t.add(Command::renameLibraryDocument, "renameLibraryDocument:").title("menu.edit.rename");
    t.add(Command::printSelectedFiles, "printSelectedFiles:").title("menu.file.print");
    t.add(Command::openInFinder, "openInFinder:").title("menu.library.openInFinder");
    t.add(Command::openSelectedFile, "openSelectedFile:")
        .title("menu.library.open")
        .key(KeyEquivalent::lineFeed, cmd)
        .hidden(true);
    t.add(Command::findInLibrary, "findInLibrary:").title("menu.library.find").key(u'f', shiftCmd);
    // Titled when validated, after the document and the library shown.
    t.add(Command::moveToLibrary, "moveToLibrary:").hidden(false);
    t.add(Command::toggleLibraryLinked, "toggleLibraryLinked:").hidden(false);
}

void addViewMenu(CommandTable& t)
{
    t.add(Command::toggleInfoView, "toggleInfoView:").title("menu.view.statistics.on").key(u'w', shiftCmd);
    t.add(Command::toggleLibraryView, "toggleLibraryView:").title("menu.view.library.on").key(u'l', cmd);
    t.add(Command::showAndFocusLibraryView, "showAndFocusLibraryView:")
        .title("menu.view.focusLibrary")
        .key(u'l', optCmd)
        .alternate();
    t.add(Command::toggleOutlineView, "toggleOutlineView:").title("menu.view.outline.on").key(u'l', shiftCmd);
    t.add(Command::togglePreview, "togglePreview:").title("menu.view.preview").key(u'p', optCmd);
    // The value choices: one item per value, titled after it.
    t.add(Command::setLibrarySummaryLines, "setLibrarySummaryLines:");
    t.add(Command::setTheme, "setTheme:");
    t.add(Command::editThemes, "editThemes:").title("menu.view.theme.edit").shownWhenHandled();
    t.add(Command::setFontFamily, "setFontFamily:");
    t.add(Command::increaseFontSize, "increaseFontSize:").title("menu.view.textSize.increase").key(u'+', cmd);
    t.add(Command::decreaseFontSize, "decreaseFontSize:").title("menu.view.textSize.decrease").key(u'-', cmd);
    t.add(Command::resetFontSize, "resetFontSize:").title("menu.edit.reset").key(u'0', cmd);
    t.add(Command::setParagraphSpacing, "setParagraphSpacing:");
    t.add(Command::setEditorSize, "setEditorSize:");
    t.add(Command::linkStylesheet, "linkStylesheet:").title("menu.view.stylesheet.link").shownWhenHandled();
    t.add(Command::unlinkStylesheet, "unlinkStylesheet:").title("menu.view.stylesheet.unlink").shownWhenHandled();
    t.add(Command::exportStylesheet, "exportStylesheet:").title("menu.view.stylesheet.export").shownWhenHandled();
    // Titled when validated, after the window's state.
    t.add(Command::toggleFullScreen, "toggleFullScreen:").key(u'f', controlKey | commandKey);
}

void addWindowAndHelpMenus(CommandTable& t)
{
    t.add(Command::performMiniaturize, "performMiniaturize:").title("menu.window.minimize").key(u'm', cmd);
    t.add(Command::performZoom, "performZoom:").title("menu.window.zoom");
    t.add(Command::arrangeInFront, "arrangeInFront:").title("menu.window.bringAllToFront");
    // One item per window, titled after it.
    t.add(Command::makeKeyAndOrderFront, "makeKeyAndOrderFront:");

    t.add(Command::openIntroduction, "openIntroduction:").title("menu.help.introduction");
    t.add(Command::openWebsite, "openWebsite:").title("menu.help.website").key(u'?', cmd).shownWhenHandled();
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
