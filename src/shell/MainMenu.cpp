#include "shell/MainMenu.h"

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

constexpr KeyModifierMask cmd = commandKey;
constexpr KeyModifierMask shiftCmd = shiftKey | commandKey;
constexpr KeyModifierMask optCmd = optionKey | commandKey;
constexpr KeyModifierMask optShiftCmd = optionKey | shiftKey | commandKey;
constexpr KeyModifierMask opt = optionKey;
constexpr KeyModifierMask optShift = optionKey | shiftKey;

QString key(char16_t c) { return QString(QChar(c)); }

std::unique_ptr<MenuItem> item(const char* titleKey, const char* action, const QString& keyEquivalent = {},
                               KeyModifierMask mask = 0, bool alternate = false, qint64 tag = 0)
{
    return MenuItem::make(localized(titleKey), QString::fromLatin1(action), keyEquivalent, mask, alternate, tag);
}

// An item whose title the platform's or a responder's validation gives.
std::unique_ptr<MenuItem> untitled(const char* action, const QString& keyEquivalent = {}, KeyModifierMask mask = 0)
{
    return MenuItem::make(QString(), QString::fromLatin1(action), keyEquivalent, mask);
}

std::unique_ptr<MenuItem> hidden(std::unique_ptr<MenuItem> item, bool keepsKey)
{
    item->setHidden(true);
    item->setAllowsKeyEquivalentWhenHidden(keepsKey);
    return item;
}

// Commands some desktops offer and this one may not (hiding applications,
// the website): shown only once a responder takes them.
std::unique_ptr<MenuItem> whenHandled(std::unique_ptr<MenuItem> item)
{
    item->setHidesWhenUnhandled(true);
    return item;
}

std::unique_ptr<MenuItem> choice(const QString& title, const char* action, const QVariant& value)
{
    auto made = MenuItem::make(title, QString::fromLatin1(action));
    made->setRepresentedObject(value);
    return made;
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
    build();
    m_themesConnection = QObject::connect(&m_settings, &Settings::themesChanged, [this] { themesDidChange(); });
}

MainMenu::~MainMenu()
{
    QObject::disconnect(m_themesConnection);
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
    appMenu->addItem(item("menu.app.about", "showAboutPanel:"));
    appMenu->addItem(whenHandled(item("menu.app.donate", "donate:")));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(std::move(servicesItem));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(whenHandled(item("menu.app.hide.self", "hide:", "h", cmd)));
    appMenu->addItem(whenHandled(item("menu.app.hide.others", "hideOtherApplications:", "h", optCmd)));
    appMenu->addItem(whenHandled(item("menu.app.show.all", "unhideAllApplications:")));
    appMenu->addItem(MenuItem::separator());
    appMenu->addItem(item("menu.app.quit", "terminate:", "q", cmd));

    auto fileMenu = newMenu("menu.file");
    fileMenu->addItem(item("menu.file.new", "newDocument:", "n", cmd));
    fileMenu->addItem(hidden(item("menu.file.newTab", "newTab:", "t", cmd), true));
    fileMenu->addItem(item("menu.file.open", "openDocument:", "o", cmd));
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item("menu.file.close", "performClose:", "w", cmd));
    fileMenu->addItem(untitled("saveDocument:", "s", cmd));
    fileMenu->addItem(untitled("revertDocumentToSaved:", "r", cmd));
    fileMenu->addItem(item("menu.file.exportAsHtml", "exportAsHTML:", "e", shiftCmd));
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item("menu.file.pageSetup", "runPageLayout:", "p", shiftCmd));
    fileMenu->addItem(item("menu.file.print", "printDocument:", "p", cmd));
    // Where Linux applications keep it, besides the application menu.
    fileMenu->addItem(MenuItem::separator());
    fileMenu->addItem(item("menu.file.quit", "terminate:", "q", cmd));

    auto find = newMenu("menu.edit.find");
    find->addItem(item("menu.edit.find.find", "performFindPanelAction:", "f", cmd, false, 1));
    find->addItem(item("menu.edit.find.replace", "performTextFinderAction:", "f", optCmd, false, 12));
    find->addItem(item("menu.edit.find.next", "performFindPanelAction:", "g", cmd, false, 2));
    find->addItem(item("menu.edit.find.previous", "performFindPanelAction:", "g", shiftCmd, false, 3));
    find->addItem(item("menu.edit.find.useSelection", "performFindPanelAction:", "e", cmd, false, 7));
    find->addItem(item("menu.edit.find.jumpToSelection", "centerSelectionInVisibleArea:", "j", cmd));

    auto spelling = newMenu("menu.edit.spellingAndGrammar");
    spelling->addItem(item("menu.edit.spellingAndGrammar.show", "showGuessPanel:", ":", cmd));
    spelling->addItem(item("menu.edit.spellingAndGrammar.checkNow", "checkSpelling:", ";", cmd));
    spelling->addItem(MenuItem::separator());
    spelling->addItem(item("menu.edit.spellingAndGrammar.checkSpelling", "toggleContinuousSpellChecking:"));
    spelling->addItem(item("menu.edit.spellingAndGrammar.checkGrammar", "toggleGrammarChecking:"));
    spelling->addItem(item("menu.edit.spellingAndGrammar.correctSpelling", "toggleAutomaticSpellingCorrection:"));

    auto substitutions = newMenu("menu.edit.substitutions");
    substitutions->addItem(item("menu.edit.substitutions.show", "orderFrontSubstitutionsPanel:"));
    substitutions->addItem(MenuItem::separator());
    substitutions->addItem(item("menu.edit.substitutions.smart.copyPaste", "toggleSmartInsertDelete:"));
    substitutions->addItem(item("menu.edit.substitutions.smart.quotes", "toggleAutomaticQuoteSubstitution:"));
    substitutions->addItem(item("menu.edit.substitutions.smart.dashes", "toggleAutomaticDashSubstitution:"));
    substitutions->addItem(item("menu.edit.substitutions.smart.links", "toggleAutomaticLinkDetection:"));
    substitutions->addItem(item("menu.edit.substitutions.dataDetectors", "toggleAutomaticDataDetection:"));
    substitutions->addItem(item("menu.edit.substitutions.textReplacement", "toggleAutomaticTextReplacement:"));

    auto transformations = newMenu("menu.edit.transformations");
    transformations->addItem(item("menu.edit.transformations.uppercase", "uppercaseWord:"));
    transformations->addItem(item("menu.edit.transformations.lowercase", "lowercaseWord:"));
    transformations->addItem(item("menu.edit.transformations.capitalize", "capitalizeWord:"));

    auto speech = newMenu("menu.edit.speech");
    speech->addItem(item("menu.edit.speech.start", "startSpeaking:"));
    speech->addItem(item("menu.edit.speech.stop", "stopSpeaking:"));

    auto editMenu = newMenu("menu.edit");
    editMenu->addItem(untitled("undo:", "z", cmd));
    editMenu->addItem(untitled("redo:", "z", shiftCmd));
    editMenu->addItem(MenuItem::separator());
    editMenu->addItem(item("menu.edit.cut", "cut:", "x", cmd));
    editMenu->addItem(item("menu.edit.copy", "copy:", "c", cmd));
    editMenu->addItem(item("menu.edit.copy.html", "copyAsHTML:", "c", optCmd));
    editMenu->addItem(item("menu.edit.paste", "paste:", "v", cmd));
    editMenu->addItem(item("menu.edit.paste.markdown", "pasteAsMarkdown:", "v", optCmd));
    editMenu->addItem(item("menu.edit.delete", "delete:", key(KeyEquivalent::backspace)));
    editMenu->addItem(item("menu.edit.selectAll", "selectAll:", "a", cmd));
    editMenu->addItem(MenuItem::separator());
    editMenu->addItem(item("menu.edit.text.bold", "setStrong:", "b", cmd));
    editMenu->addItem(item("menu.edit.text.italic", "setEmphasis:", "i", cmd));
    editMenu->addItem(item("menu.edit.text.link", "setLink:", "k", cmd));
    editMenu->addItem(item("menu.edit.text.footnote", "setFootnote:", "k", optCmd));
    editMenu->addItem(item("menu.edit.text.indent", "insertTab:", key(KeyEquivalent::tab)));
    editMenu->addItem(item("menu.edit.text.unindent", "insertBacktab:", key(KeyEquivalent::tab), shiftKey));
    editMenu->addItem(MenuItem::separator());
    editMenu->addItem(item("menu.edit.line.moveUp", "moveLineUp:", key(KeyEquivalent::upArrow), optCmd));
    editMenu->addItem(item("menu.edit.line.moveDown", "moveLineDown:", key(KeyEquivalent::downArrow), optCmd));
    editMenu->addItem(MenuItem::separator());
    const QString left = key(KeyEquivalent::leftArrow), right = key(KeyEquivalent::rightArrow);
    const QString up = key(KeyEquivalent::upArrow), down = key(KeyEquivalent::downArrow);
    editMenu->addItem(item("menu.edit.sentence.previous.jump", "jumpToPreviousSentence:", left, optCmd));
    editMenu->addItem(
        item("menu.edit.sentence.previous.select", "selectUntilPreviousSentence:", left, optShiftCmd, true));
    editMenu->addItem(item("menu.edit.sentence.next.jump", "jumpToNextSentence:", right, optCmd));
    editMenu->addItem(item("menu.edit.sentence.next.select", "selectUntilNextSentence:", right, optShiftCmd, true));
    editMenu->addItem(item("menu.edit.paragraph.previous.jump", "jumpToPreviousParagraph:", up, opt));
    editMenu->addItem(
        item("menu.edit.paragraph.previous.select", "selectUntilPreviousParagraph:", up, optShift, true));
    editMenu->addItem(item("menu.edit.paragraph.next.jump", "jumpToNextParagraph:", down, opt));
    editMenu->addItem(item("menu.edit.paragraph.next.select", "selectUntilNextParagraph:", down, optShift, true));
    editMenu->addItem(MenuItem::separator());
    for (auto* group : {&find, &spelling, &substitutions, &transformations, &speech})
        editMenu->addItem(submenu(std::move(*group)));

    auto highlighting = newMenu("settings.highlighting");
    const char* highlightingKeys[] = {"settings.highlighting.off", "settings.highlighting.currentSentence",
                                      "settings.highlighting.currentParagraph"};
    for (size_t i = 0; i < allHighlightings.size(); ++i)
        highlighting->addItem(choice(localized(highlightingKeys[i]), "setHighlighting:",
                                     QVariant::fromValue(allHighlightings[i])));

    auto modusMenu = newMenu("menu.modus");
    modusMenu->addItem(item("menu.modus.markdown", "toggleMarkdown:"));
    modusMenu->addItem(MenuItem::separator());
    modusMenu->addItem(item("menu.modus.typewriterScrolling", "toggleTypewriterScrolling:"));
    modusMenu->addItem(item("menu.modus.typewriterSounds", "toggleSounds:"));
    modusMenu->addItem(submenu(std::move(highlighting)));
    modusMenu->addItem(item("menu.modus.noEditing", "toggleNoEditing:"));

    auto libraryMenu = newMenu("menu.library");
    m_librarySubmenu = libraryMenu.get();
    libraryMenu->addItem(item("menu.library.newDocument", "makeLibraryDocument:", "n", shiftCmd));
    libraryMenu->addItem(item("menu.library.newFolder", "makeLibraryFolder:"));
    libraryMenu->addItem(MenuItem::separator());
    libraryMenu->addItem(item("menu.library.moveToTrash", "removeLibraryDocument:"));
    libraryMenu->addItem(MenuItem::separator());
    libraryMenu->addItem(item("menu.edit.rename", "renameLibraryDocument:"));
    libraryMenu->addItem(item("menu.file.print", "printSelectedFiles:"));
    libraryMenu->addItem(item("menu.library.openInFinder", "openInFinder:"));
    libraryMenu->addItem(hidden(item("menu.library.open", "openSelectedFile:", key(KeyEquivalent::lineFeed), cmd), true));
    libraryMenu->addItem(MenuItem::separator());
    libraryMenu->addItem(item("menu.library.find", "findInLibrary:", "f", shiftCmd));
    libraryMenu->addItem(hidden(untitled("moveToLibrary:"), false));
    libraryMenu->addItem(MenuItem::separator());
    libraryMenu->addItem(hidden(untitled("toggleLibraryLinked:"), false));

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
                                     "setLibrarySummaryLines:", lines));

    auto textSize = newMenu("menu.view.textSize");
    textSize->addItem(item("menu.view.textSize.increase", "increaseFontSize:", "+", cmd));
    // Ctrl+= as well: "+" needs Shift on most keyboards.
    textSize->addItem(hidden(item("menu.view.textSize.increase", "increaseFontSize:", "=", cmd), true));
    textSize->addItem(item("menu.view.textSize.decrease", "decreaseFontSize:", "-", cmd));
    textSize->addItem(MenuItem::separator());
    textSize->addItem(item("menu.edit.reset", "resetFontSize:", "0", cmd));

    auto spacing = newMenu("settings.paragraphSpacing");
    const char* spacingKeys[] = {"settings.paragraphSpacing.default", "settings.paragraphSpacing.halfLine",
                                 "settings.paragraphSpacing.oneLine"};
    for (size_t i = 0; i < Settings::allParagraphSpacings.size(); ++i)
        spacing->addItem(choice(localized(spacingKeys[i]), "setParagraphSpacing:",
                                Settings::rawValue(Settings::allParagraphSpacings[i])));

    auto editorSize = newMenu("settings.editorSize");
    const char* sizeKeys[] = {"settings.editorSize.small", "settings.editorSize.medium", "settings.editorSize.large"};
    for (size_t i = 0; i < Settings::allEditorSizes.size(); ++i)
        editorSize->addItem(
            choice(localized(sizeKeys[i]), "setEditorSize:", Settings::rawValue(Settings::allEditorSizes[i])));

    auto viewMenu = newMenu("menu.view");
    viewMenu->addItem(item("menu.view.statistics.on", "toggleInfoView:", "w", shiftCmd));
    viewMenu->addItem(item("menu.view.library.on", "toggleLibraryView:", "l", cmd));
    viewMenu->addItem(item("menu.view.focusLibrary", "showAndFocusLibraryView:", "l", optCmd, true));
    viewMenu->addItem(item("menu.view.outline.on", "toggleOutlineView:", "l", shiftCmd));
    viewMenu->addItem(item("menu.view.preview", "togglePreview:", "p", optCmd));
    viewMenu->addItem(MenuItem::separator());
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
    viewMenu->addItem(untitled("toggleFullScreen:", key(KeyEquivalent::f11)));
    viewMenu->addItem(hidden(untitled("toggleFullScreen:", "f", controlKey | commandKey), true));

    auto windowMenu = newMenu("menu.window");
    m_windowsMenu = windowMenu.get();
    windowMenu->addItem(item("menu.window.minimize", "performMiniaturize:", "m", cmd));
    windowMenu->addItem(item("menu.window.zoom", "performZoom:"));
    windowMenu->addItem(MenuItem::separator());
    windowMenu->addItem(item("menu.window.bringAllToFront", "arrangeInFront:"));

    auto helpMenu = newMenu("menu.help");
    helpMenu->addItem(item("menu.help.introduction", "openIntroduction:"));
    helpMenu->addItem(whenHandled(item("menu.help.website", "openWebsite:", "?", cmd)));

    m_menu = std::make_unique<Menu>(QString());
    for (auto* top : {&appMenu, &fileMenu, &editMenu, &modusMenu, &libraryMenu, &viewMenu, &windowMenu, &helpMenu})
        m_menu->addItem(submenu(std::move(*top)));
}

void MainMenu::addStylesheetItems()
{
    Menu& view = topLevelMenu(TopLevel::view);
    // Before the full-screen item, after the separator that follows the
    // editor-size submenu.
    int at = view.indexOfItem(view.itemWithAction(QStringLiteral("toggleFullScreen:")));
    if (at < 0) at = view.count();
    view.insertItem(whenHandled(item("menu.view.stylesheet.link", "linkStylesheet:")), at);
    view.insertItem(whenHandled(item("menu.view.stylesheet.unlink", "unlinkStylesheet:")), at + 1);
    view.insertItem(whenHandled(item("menu.view.stylesheet.export", "exportStylesheet:")), at + 2);
    view.insertItem(MenuItem::separator(), at + 3);
}

void MainMenu::addRecentDocumentsMenu(std::unique_ptr<Menu> recentMenu)
{
    Menu& fileMenu = topLevelMenu(TopLevel::file);
    const int open = fileMenu.indexOfItem(fileMenu.itemWithAction(QStringLiteral("openDocument:")));
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
    items.push_back(item("menu.view.font.default", "setFontFamily:"));
    const auto addGroup = [&](const char* headingKey, const QStringList& families) {
        items.push_back(MenuItem::separator());
        items.push_back(MenuItem::make(localized(headingKey)));
        for (const QString& family : families) {
            auto familyItem = choice(family, "setFontFamily:", family);
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
        items.push_back(choice(theme->displayName(), "setTheme:", QVariant::fromValue(theme)));
    items.push_back(MenuItem::separator());
    items.push_back(whenHandled(item("menu.view.theme.edit", "editThemes:")));
    m_themesSubmenu->removeAllItems();
    for (auto& made : items) m_themesSubmenu->addItem(std::move(made));
}

void MainMenu::themesDidChange() { m_themesSubmenu->removeAllItems(); }

std::optional<bool> MainMenu::validate(MenuItem& item) const
{
    const QString& action = item.action();
    const auto size = baseSize(m_settings.stylesheet());
    const auto stateFor = [](bool on) { return on ? MenuItem::State::on : MenuItem::State::off; };
    if (action == QLatin1String("resetFontSize:"))
        return size != baseSize(MarkdownStylesheet::defaultStylesheet());
    // Without a base size there is nothing to step from.
    if (action == QLatin1String("increaseFontSize:")) return size && *size < Settings::maximumFontSize;
    if (action == QLatin1String("decreaseFontSize:")) return size && *size > Settings::minimumFontSize;
    if (action == QLatin1String("setFontFamily:")) {
        const QVariant& value = item.representedObject();
        const std::optional<QString> family =
            value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString()) : std::nullopt;
        const std::optional<QString> stored =
            m_settings.userDefaults() ? m_settings.userDefaults()->stringValue(QStringLiteral("customFont")) : std::nullopt;
        item.setState(stateFor(family == stored));
        return std::nullopt;
    }
    if (action == QLatin1String("setParagraphSpacing:")) {
        item.setState(stateFor(item.representedObject().toDouble() == m_settings.parsedStylesheet()->paragraphSpacing));
        return std::nullopt;
    }
    if (action == QLatin1String("setTheme:")) {
        item.setState(stateFor(item.representedObject().value<std::shared_ptr<Theme>>() == m_settings.theme()));
        return std::nullopt;
    }
    if (action == QLatin1String("unlinkStylesheet:")) {
        const bool linked =
            m_settings.userDefaults() && m_settings.userDefaults()->dataValue(QStringLiteral("stylesheetUrl"));
        item.setHidden(!linked);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace lumora
