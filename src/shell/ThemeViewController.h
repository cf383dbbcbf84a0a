#pragma once

#include "settings/Theme.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QColor;
class QComboBox;

namespace lumora {

class ColorWell;

// The right-hand pane of the themes editor: a form that edits the current
// theme in place (the object in the settings' theme list). Three colour
// wells (text, background, cursor) apply each colour to every window at
// once; a checkbox marks the theme dark; a pop-up pairs it with an opposite
// theme of the other darkness, the one the appearance switch goes to. The
// built-in themes keep their dark flag and pairing; their colours may be
// edited (the list's Reset brings them back).
//
// Each colour or dark-flag edit sets the theme again (written under
// "theme" with the appearance switch). The edits reach the stored theme
// list a second after they are made, and when the pane goes away.
class ThemeViewController : public QWidget {
    Q_OBJECT

public:
    explicit ThemeViewController(QWidget* parent = nullptr);
    ~ThemeViewController() override;

    // The edited theme: the current one, followed on every change.
    const std::shared_ptr<Theme>& theme() const { return m_theme; }

    ColorWell* foregroundColorWell() const { return m_foregroundColorWell; }
    ColorWell* backgroundColorWell() const { return m_backgroundColorWell; }
    ColorWell* cursorColorWell() const { return m_cursorColorWell; }
    QComboBox* oppositeThemeButton() const { return m_oppositeThemeButton; }
    QCheckBox* isDarkButton() const { return m_isDarkButton; }

    // The controls from the theme.
    void updateControls();
    // The pop-up's items: none, a separator, then every theme that may be
    // the opposite, in list order; the present opposite selected.
    void updateOppositeThemeMenu();

    // The actions of the controls.
    void setForegroundColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setCursorColor(const QColor& color);
    // The pop-up's item at index: its theme becomes the opposite (both
    // ways; earlier partners of either are let go), the none item unpairs.
    void setOppositeTheme(int index);
    void setIsDark(bool isDark);

    // Writes pending edits to the stored theme list now.
    void saveEdits();

private:
    void themeDidChange();
    void applyEdit();
    void restyle();

    std::shared_ptr<Theme> m_theme;
    // Each well's colour when its chooser opened (foreground, background,
    // cursor).
    std::array<std::optional<Color>, 3> m_colorsBeforeChoosing;
    ColorWell* m_foregroundColorWell = nullptr;
    ColorWell* m_backgroundColorWell = nullptr;
    ColorWell* m_cursorColorWell = nullptr;
    QComboBox* m_oppositeThemeButton = nullptr;
    QCheckBox* m_isDarkButton = nullptr;
    QTimer m_restyleTimer;
    bool m_restylePending = false;
    QTimer m_saveTimer;
};

} // namespace lumora
