#pragma once

#include "platform/application/Menu.h"

#include <QObject>

#include <memory>
#include <optional>

namespace lumora {

class Settings;

// The application's main menu, built once from the command table: App
// (titled with the application's name: this platform has no application
// menu of its own, so About and Quit live in the first menu), File, Edit,
// Modus, Library, View, Window and Help. Every item sends its command down
// the responder chain.
// Beside the table's keys it keeps the Linux ones: File ▸ Quit (Ctrl+Q),
// Ctrl+= for a bigger text (a hidden item that keeps its key) and F11 for
// full screen (the key the item shows; Ctrl+Meta+F stays as a hidden item).
//
// It also carries the document controller's share of the menu: it is the
// delegate of the Font and Theme submenus (each filled when it opens empty;
// the Theme submenu is emptied whenever the theme list changes) and carries
// the text commands of the whole application (font family, text size,
// paragraph spacing, theme): one of the application's targets of the
// responder chain while it exists.
class MainMenu : public QObject, public MenuDelegate {
    Q_OBJECT

public:
    // Indexes of the top-level menus.
    enum TopLevel { app, file, edit, modus, library, view, window, help };

    explicit MainMenu(Settings& settings);
    ~MainMenu() override;

    Menu& menu() const { return *m_menu; }
    Menu& topLevelMenu(TopLevel which) const;
    Menu* fontSubmenu() const { return m_fontSubmenu; }
    Menu* themesSubmenu() const { return m_themesSubmenu; }
    Menu* librarySubmenu() const { return m_librarySubmenu; }
    Menu* servicesMenu() const { return m_servicesMenu; }
    Menu* windowsMenu() const { return m_windowsMenu; }

    // Makes this the menu whose keys the dispatcher routes, and its Window
    // menu the one that lists the open windows.
    void install();

    // The stylesheet link, unlink and export items with a separator, inserted
    // before the full-screen item of the View menu ("enableBetaFeatures").
    // Like the donation, themes editor and website items, each shows only
    // once a responder carries it out.
    void addStylesheetItems();
    // "Open Recent" right after "Open…" in the File menu.
    void addRecentDocumentsMenu(std::unique_ptr<Menu> recentMenu);

    void menuNeedsUpdate(Menu& menu) override;
    void updateFontMenu();
    void updateThemesMenu();
    // Empties the Theme submenu; it is filled again when it next opens.
    void themesDidChange();

    // The text commands, on the settings given. A family item's value is
    // the family's name (none: the default font); the check marks go to the
    // family stored, the paragraph spacing of the stylesheet in use and the
    // current theme. The text size steps by a point between the settings'
    // limits; without a base size there is nothing to step from.
    void setFontFamily(const QVariant& family);
    bool isFontFamilyChosen(const QVariant& family) const;
    void increaseFontSize();
    void decreaseFontSize();
    void resetFontSize();
    bool canIncreaseFontSize() const;
    bool canDecreaseFontSize() const;
    // Enabled while the size differs from the built-in stylesheet's.
    bool canResetFontSize() const;
    void setParagraphSpacing(const QVariant& spacing);
    bool isParagraphSpacing(const QVariant& spacing) const;
    void setTheme(const QVariant& theme);
    bool isTheme(const QVariant& theme) const;

private:
    void build();

    Settings& m_settings;
    std::unique_ptr<Menu> m_menu;
    Menu* m_fontSubmenu = nullptr;
    Menu* m_themesSubmenu = nullptr;
    Menu* m_librarySubmenu = nullptr;
    Menu* m_servicesMenu = nullptr;
    Menu* m_windowsMenu = nullptr;
    QMetaObject::Connection m_themesConnection;
};

} // namespace lumora
