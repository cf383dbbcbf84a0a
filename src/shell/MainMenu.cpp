#include "shell/MainMenu.h"

#include "shell/Commands.h"

#include "markdown/MarkdownStylesheet.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/Fonts.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QLocale>

namespace lumora {

namespace {

std::unique_ptr<MenuItem> item(Command command) { return commandTable().makeItem(command); }

std::unique_ptr<MenuItem> item(Command command, const char* titleKey)
{
    return commandTable().makeItem(command, titleKey);
}

// One of the values a command chooses from, titled after it.
std::unique_ptr<MenuItem> choice(const QString& title, Command command, const QVariant& value)
{
    auto made = commandTable().makeItem(command, title);
    made->setRepresentedObject(value);
    return made;
}

std::unique_ptr<MenuItem> hidden(std::unique_ptr<MenuItem> item, bool keepsKey)
{
    item->setHidden(true);
    item->setAllowsKeyEquivalentWhenHidden(keepsKey);
    return item;
}

std::unique_ptr<Menu> newMenu(const char* titleKey)
{
    return std::make_unique<Menu>(localized(titleKey));
}

std::unique_ptr<MenuItem> submenu(std::unique_ptr<Menu> menu)
{
    return MenuItem::withSubmenu(std::move(menu));
}

std::optional<double> baseSize(const MarkdownStylesheet& stylesheet) { return stylesheet.base.size; }

} // namespace

MainMenu::MainMenu(Settings& settings) : m_settings(settings)
{
    ActionDispatcher::instance().setCommandTable(&commandTable());
    ActionDispatcher::instance().addApplicationTarget(this);
    build();
    m_themesConnection = QObject::connect(&m_settings, &Settings::themesChanged, [this] { themesDidChange(); });
}

MainMenu::~MainMenu()
{
    QObject::disconnect(m_themesConnection);
    ActionDispatcher::instance().removeApplicationTarget(this);
    if (ActionDispatcher::instance().mainMenu() == m_menu.get()) ActionDispatcher::instance().setMainMenu(nullptr);
}

Menu& MainMenu::topLevelMenu(TopLevel which) const { return *m_menu->itemAt(which)->submenu(); }

void MainMenu::install()
{
    ActionDispatcher::instance().setMainMenu(m_menu.get());
    ActionDispatcher::instance().setWindowsMenu(m_windowsMenu);
}

void MainMenu::build()
{
    // Services: the desktop here offers none, so the item stays hidden.
    auto services = newMenu("menu.app.services");
    m_servicesMenu = services.get();
    auto servicesItem = submenu(std::move(services));
    servicesItem->setHidden(true);

    auto appMenu = std::make_unique<Menu>(Bundle::name());
    appMenu->addItem(item(Command::showAboutPanel));
    appMenu->addItem(item(Command::donate));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(std::move(servicesItem));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(item(Command::hide));
    appMenu->addItem(item(Command::hideOtherApplications));
    appMenu->addItem(item(Command::unhideAllApplications));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(item(Command::terminate));

    auto fileMenu = newMenu("menu.file");
    fileMenu->addItem(item(Command::newDocument));
    fileMenu->addItem(item(Command::newTab));
    fileMenu->addItem(item(Command::openDocument));
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item(Command::performClose));
    fileMenu->addItem(item(Command::saveDocument));
    fileMenu->addItem(item(Command::revertDocumentToSaved));
    fileMenu->addItem(item(Command::exportAsHTML));
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item(Command::runPageLayout));
    fileMenu->addItem(item(Command::printDocument));
    // Where Linux applications keep it, besides the application menu.
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item(Command::terminate, "menu.file.quit"));

    const auto menuOf = [](const char* titleKey, std::initializer_list<Command> commands) {
        auto menu = newMenu(titleKey);
        for (Command command : commands)
            menu->addItem(command == Command::none ? MenuItem::separator() : item(command));
        return menu;
    };
    constexpr Command separator = Command::none;
    auto find = menuOf("menu.edit.find", {Command::showFindInterface, Command::showReplaceInterface, Command::findNext,
                                          Command::findPrevious, Command::useSelectionForFind,
                                          Command::centerSelectionInVisibleArea});
    auto spelling = menuOf("menu.edit.spellingAndGrammar",
                           {Command::showGuessPanel, Command::checkSpelling, separator,
                            Command::toggleContinuousSpellChecking, Command::toggleGrammarChecking,
                            Command::toggleAutomaticSpellingCorrection});
    auto substitutions = menuOf("menu.edit.substitutions",
                                {Command::orderFrontSubstitutionsPanel, separator, Command::toggleSmartInsertDelete,
                                 Command::toggleAutomaticQuoteSubstitution, Command::toggleAutomaticDashSubstitution,
                                 Command::toggleAutomaticLinkDetection, Command::toggleAutomaticDataDetection,
                                 Command::toggleAutomaticTextReplacement});
    auto transformations = menuOf("menu.edit.transformations",
                                  {Command::uppercaseWord, Command::lowercaseWord, Command::capitalizeWord});
    auto speech = menuOf("menu.edit.speech", {Command::startSpeaking, Command::stopSpeaking});

    auto editMenu = menuOf(
        "menu.edit",
        {Command::undo, Command::redo, separator, Command::cut, Command::copy, Command::copyAsHTML, Command::paste,
         Command::pasteAsMarkdown, Command::deleteSelection, Command::selectAll, separator, Command::setStrong,
         Command::setEmphasis, Command::setLink, Command::setFootnote, Command::insertTab, Command::insertBacktab,
         separator, Command::moveLineUp, Command::moveLineDown, separator, Command::jumpToPreviousSentence,
         Command::selectUntilPreviousSentence, Command::jumpToNextSentence, Command::selectUntilNextSentence,
         Command::jumpToPreviousParagraph, Command::selectUntilPreviousParagraph, Command::jumpToNextParagraph,
         Command::selectUntilNextParagraph, separator});
    for (auto* group : {&find, &spelling, &substitutions, &transformations, &speech})
        editMenu->addItem(submenu(std::move(*group)));

    auto highlighting = newMenu("settings.highlighting");
    const char* highlightingKeys[] = {"settings.highlighting.off", "settings.highlighting.currentSentence",
                                      "settings.highlighting.currentParagraph"};
    for (size_t i = 0; i < allHighlightings.size(); ++i)
        highlighting->addItem(choice(localized(highlightingKeys[i]), Command::setHighlighting,
                                     QVariant::fromValue(allHighlightings[i])));

    auto modusMenu = menuOf("menu.modus", {Command::toggleMarkdown, separator, Command::toggleTypewriterScrolling,
                                           Command::toggleSounds});
    modusMenu->addItem(submenu(std::move(highlighting)));
    modusMenu->addItem(item(Command::toggleNoEditing));

    auto libraryMenu = menuOf(
        "menu.library",
        {Command::makeLibraryDocument, Command::makeLibraryFolder, separator, Command::removeLibraryDocument,
         separator, Command::renameLibraryDocument, Command::printSelectedFiles, Command::openInFinder,
         Command::openSelectedFile, separator, Command::findInLibrary, Command::moveToLibrary, separator,
         Command::toggleLibraryLinked});
    m_librarySubmenu = libraryMenu.get();

    auto theme = newMenu("menu.view.theme");
    m_themesSubmenu = theme.get();
    theme->setDelegate(this);
    auto font = newMenu("menu.view.font");
    m_fontSubmenu = font.get();
    font->setDelegate(this);
    // A letter steps through the families that start with it.
    font->setMnemonicStyle(Menu::MnemonicStyle::firstLetters);

    auto summaryLines = newMenu("settings.librarySummaryLines");
    for (int lines : Settings::librarySummaryLinesOptions)
        summaryLines->addItem(choice(lines == 0 ? localized("settings.librarySummaryLines.none")
                                                : QLocale().toString(lines),
                                     Command::setLibrarySummaryLines, lines));

    auto textSize = newMenu("menu.view.textSize");
    textSize->addItem(item(Command::increaseFontSize));
    // Ctrl+= as well: "+" needs Shift on most keyboards.
    auto equals = item(Command::increaseFontSize);
    equals->setKeyEquivalent(QStringLiteral("="), commandKey);
    textSize->addItem(hidden(std::move(equals), true));
    textSize->addItem(item(Command::decreaseFontSize));
    textSize->addItem(MenuItem::separator());
    textSize->addItem(item(Command::resetFontSize));

    auto spacing = newMenu("settings.paragraphSpacing");
    const char* spacingKeys[] = {"settings.paragraphSpacing.default", "settings.paragraphSpacing.halfLine",
                                 "settings.paragraphSpacing.oneLine"};
    for (size_t i = 0; i < Settings::allParagraphSpacings.size(); ++i)
        spacing->addItem(choice(localized(spacingKeys[i]), Command::setParagraphSpacing,
                                Settings::rawValue(Settings::allParagraphSpacings[i])));

    auto editorSize = newMenu("settings.editorSize");
    const char* sizeKeys[] = {"settings.editorSize.small", "settings.editorSize.medium", "settings.editorSize.large"};
    for (size_t i = 0; i < Settings::allEditorSizes.size(); ++i)
        editorSize->addItem(choice(localized(sizeKeys[i]), Command::setEditorSize,
                                   Settings::rawValue(Settings::allEditorSizes[i])));

    auto viewMenu = menuOf("menu.view", {Command::toggleInfoView, Command::toggleLibraryView,
                                         Command::showAndFocusLibraryView, Command::toggleOutlineView,
                                         Command::togglePreview, separator});
    viewMenu->addItem(submenu(std::move(summaryLines)));
    viewMenu->addItem(MenuItem::separator());
    viewMenu->addItem(submenu(std::move(theme)));
    viewMenu->addItem(submenu(std::move(font)));
    viewMenu->addItem(submenu(std::move(textSize)));
    viewMenu->addItem(submenu(std::move(spacing)));
    viewMenu->addItem(submenu(std::move(editorSize)));
    viewMenu->addItem(MenuItem::separator());
    // F11, as on other Linux applications, is the key the item shows; the
    // menu's own key works too.
    auto fullScreen = item(Command::toggleFullScreen);
    fullScreen->setKeyEquivalent(QString(QChar(KeyEquivalent::f11)), 0);
    viewMenu->addItem(std::move(fullScreen));
    viewMenu->addItem(hidden(item(Command::toggleFullScreen), true));

    auto windowMenu = menuOf("menu.window", {Command::performMiniaturize, Command::performZoom, separator,
                                             Command::arrangeInFront});
    m_windowsMenu = windowMenu.get();

    auto helpMenu = menuOf("menu.help", {Command::openIntroduction, Command::openWebsite});

    m_menu = std::make_unique<Menu>(QString());
    for (auto* top : {&appMenu, &fileMenu, &editMenu, &modusMenu, &libraryMenu, &viewMenu, &windowMenu, &helpMenu})
        m_menu->addItem(submenu(std::move(*top)));
}

void MainMenu::addStylesheetItems()
{
    Menu& view = topLevelMenu(TopLevel::view);
    // Before the full-screen item, after the separator that follows the
    // editor-size submenu.
    int at = view.indexOfItem(view.itemWithCommand(Command::toggleFullScreen));
    if (at < 0) at = view.count();
    view.insertItem(item(Command::linkStylesheet), at);
    view.insertItem(item(Command::unlinkStylesheet), at + 1);
    view.insertItem(item(Command::exportStylesheet), at + 2);
    view.insertItem(MenuItem::separator(), at + 3);
}

void MainMenu::addRecentDocumentsMenu(std::unique_ptr<Menu> recentMenu)
{
    Menu& fileMenu = topLevelMenu(TopLevel::file);
    const int open = fileMenu.indexOfItem(fileMenu.itemWithCommand(Command::openDocument));
    fileMenu.insertItem(MenuItem::withSubmenu(std::move(recentMenu)), open < 0 ? fileMenu.count() : open + 1);
}

void MainMenu::menuNeedsUpdate(Menu& menu)
{
    if (&menu == m_fontSubmenu) {
        if (menu.count() == 0) updateFontMenu();
    } else if (&menu == m_themesSubmenu) {
        if (menu.count() == 0) updateThemesMenu();
    }
}

void MainMenu::updateFontMenu()
{
    const auto& [monospaced, others] = m_settings.allFontFamilies();
    const double size = fonts::size(QApplication::font());
    std::vector<std::unique_ptr<MenuItem>> items;
    items.push_back(item(Command::setFontFamily, "menu.view.font.default"));
    const auto addGroup = [&](const char* headingKey, const QStringList& families) {
        items.push_back(MenuItem::separator());
        items.push_back(MenuItem::make(localized(headingKey)));
        for (const QString& family : families) {
            auto familyItem = choice(family, Command::setFontFamily, family);
            // Each family in its own face, where it has one.
            familyItem->setTitleFont(fonts::named(family, size));
            items.push_back(std::move(familyItem));
        }
    };
    addGroup("menu.view.font.monospace", monospaced);
    addGroup("menu.view.font.other", others);
    m_fontSubmenu->removeAllItems();
    for (auto& made : items) m_fontSubmenu->addItem(std::move(made));
}

void MainMenu::updateThemesMenu()
{
    std::vector<std::unique_ptr<MenuItem>> items;
    for (const auto& theme : m_settings.themes())
        items.push_back(choice(theme->displayName(), Command::setTheme, QVariant::fromValue(theme)));
    items.push_back(MenuItem::separator());
    items.push_back(item(Command::editThemes));
    m_themesSubmenu->removeAllItems();
    for (auto& made : items) m_themesSubmenu->addItem(std::move(made));
}

void MainMenu::themesDidChange() { m_themesSubmenu->removeAllItems(); }

void MainMenu::setFontFamily(const QVariant& family)
{
    m_settings.setCustomFont(family.typeId() == QMetaType::QString ? std::optional(family.toString()) : std::nullopt);
}

bool MainMenu::isFontFamilyChosen(const QVariant& value) const
{
    const std::optional<QString> family =
        value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString()) : std::nullopt;
    const std::optional<QString> stored =
        m_settings.userDefaults() ? m_settings.userDefaults()->stringValue(QStringLiteral("customFont")) : std::nullopt;
    return family == stored;
}

void MainMenu::increaseFontSize()
{
    if (const auto size = baseSize(m_settings.stylesheet())) m_settings.setFontSize(*size + 1.0);
}

void MainMenu::decreaseFontSize()
{
    if (const auto size = baseSize(m_settings.stylesheet())) m_settings.setFontSize(*size - 1.0);
}

void MainMenu::resetFontSize()
{
    if (const auto size = baseSize(MarkdownStylesheet::defaultStylesheet())) m_settings.setFontSize(*size);
}

bool MainMenu::canIncreaseFontSize() const
{
    const auto size = baseSize(m_settings.stylesheet());
    return size && *size < Settings::maximumFontSize;
}

bool MainMenu::canDecreaseFontSize() const
{
    const auto size = baseSize(m_settings.stylesheet());
    return size && *size > Settings::minimumFontSize;
}

bool MainMenu::canResetFontSize() const
{
    return baseSize(m_settings.stylesheet()) != baseSize(MarkdownStylesheet::defaultStylesheet());
}

void MainMenu::setParagraphSpacing(const QVariant& spacing)
{
    if (!spacing.isValid()) return;
    if (const auto value = Settings::paragraphSpacingFromRawValue(spacing.toDouble()))
        m_settings.setParagraphSpacing(*value);
}

bool MainMenu::isParagraphSpacing(const QVariant& spacing) const
{
    return spacing.toDouble() == m_settings.parsedStylesheet()->paragraphSpacing;
}

void MainMenu::setTheme(const QVariant& theme)
{
    if (auto chosen = theme.value<std::shared_ptr<Theme>>()) m_settings.setTheme(chosen);
}

bool MainMenu::isTheme(const QVariant& theme) const
{
    return theme.value<std::shared_ptr<Theme>>() == m_settings.theme();
}

} // namespace lumora
