#pragma once

#include <QtGlobal>

namespace lumora {

// Every command a menu item can send, one value each, in the order of the
// menus that show them. A menu item names its command; the application's
// command table gives each command its title, key and the objects that carry
// it out (see CommandTable). The values are the menus' vocabulary only: no
// code outside the table names a command by a string.
enum class Command : quint8 {
    none, // a submenu, a heading or a separator

    // The application menu.
    showAboutPanel,
    donate,
    hide,
    hideOtherApplications,
    unhideAllApplications,
    terminate,

    // File.
    newDocument,
    newTab,
    openDocument,
    openRecentDocument,
    clearRecentDocuments,
    performClose,
    saveDocument,
    revertDocumentToSaved,
    exportAsHTML,
    runPageLayout,
    printDocument,

    // The document menu of a window's title.
    renameDocument,
    moveDocument,
    duplicateDocument,
    toggleDocumentLocked,

    // Edit.
    undo,
    redo,
    cut,
    copy,
    copyAsHTML,
    paste,
    pasteAsMarkdown,
    deleteSelection,
    selectAll,
    setStrong,
    setEmphasis,
    setLink,
    setFootnote,
    insertTab,
    insertBacktab,
    moveLineUp,
    moveLineDown,
    jumpToPreviousSentence,
    selectUntilPreviousSentence,
    jumpToNextSentence,
    selectUntilNextSentence,
    jumpToPreviousParagraph,
    selectUntilPreviousParagraph,
    jumpToNextParagraph,
    selectUntilNextParagraph,

    // Edit ▸ Find: the find panel's and the text finder's actions, one
    // command for each of their codes.
    showFindInterface,
    showReplaceInterface,
    findNext,
    findPrevious,
    useSelectionForFind,
    centerSelectionInVisibleArea,

    // Edit ▸ Spelling and Grammar.
    showGuessPanel,
    checkSpelling,
    toggleContinuousSpellChecking,
    toggleGrammarChecking,
    toggleAutomaticSpellingCorrection,

    // Edit ▸ Substitutions.
    orderFrontSubstitutionsPanel,
    toggleSmartInsertDelete,
    toggleAutomaticQuoteSubstitution,
    toggleAutomaticDashSubstitution,
    toggleAutomaticLinkDetection,
    toggleAutomaticDataDetection,
    toggleAutomaticTextReplacement,

    // Edit ▸ Transformations and Speech.
    uppercaseWord,
    lowercaseWord,
    capitalizeWord,
    startSpeaking,
    stopSpeaking,

    // Mode.
    toggleMarkdown,
    toggleTypewriterScrolling,
    toggleSounds,
    setHighlighting,
    toggleNoEditing,

    // Library.
    makeLibraryDocument,
    makeLibraryFolder,
    removeLibraryDocument,
    renameLibraryDocument,
    printSelectedFiles,
    openInFinder,
    openSelectedFile,
    findInLibrary,
    moveToLibrary,
    toggleLibraryLinked,

    // View.
    toggleInfoView,
    toggleLibraryView,
    showAndFocusLibraryView,
    toggleOutlineView,
    togglePreview,
    setLibrarySummaryLines,
    setTheme,
    editThemes,
    setFontFamily,
    increaseFontSize,
    decreaseFontSize,
    resetFontSize,
    setParagraphSpacing,
    setEditorSize,
    linkStylesheet,
    unlinkStylesheet,
    exportStylesheet,
    toggleFullScreen,

    // Window.
    performMiniaturize,
    performZoom,
    arrangeInFront,
    makeKeyAndOrderFront,

    // Help (stays last: commandCount counts up to it).
    openIntroduction,
    openWebsite,
};

inline constexpr int commandCount = int(Command::openWebsite) + 1;

} // namespace lumora
