#pragma once

#include "platform/text/Color.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class Theme;
using ThemeList = std::vector<std::shared_ptr<Theme>>;

// A named set of editor colours with a dark flag and an optional opposite
// theme, the one to switch to when the system appearance flips. A theme has
// identity: two themes are the same only when they are the same object.
//
// The opposite link is mutual and never owning: the theme list owns its
// themes, and a theme that goes away leaves no link behind (its partner's
// oppositeTheme() is then empty).
class Theme : public std::enable_shared_from_this<Theme> {
    struct Private {};

public:
    // Makes a theme; when an opposite is given the two are linked both ways
    // (dropping any earlier partner of that theme).
    static std::shared_ptr<Theme> make(QString id, Color foregroundColor, Color backgroundColor,
                                       Color cursorColor, bool isDark,
                                       const std::shared_ptr<Theme>& oppositeTheme = nullptr);

    // Reads a stored record. "oppositeTheme" links the new theme with the
    // first theme of themesSoFar of that id, both ways. A record that lacks a
    // key, holds a value of the wrong type or colour data that is not a
    // colour gives none.
    static std::shared_ptr<Theme> make(const QVariantMap& propertyList, const ThemeList& themesSoFar);

    Theme(Private, QString id, Color foreground, Color background, Color cursor, bool isDark);
    Theme(const Theme&) = delete;
    Theme& operator=(const Theme&) = delete;

    // The name and identity: "light", "dark", "sepia", "amber" for the
    // built-in themes, the user's name for the others.
    QString id;
    Color foregroundColor;
    Color backgroundColor;
    Color cursorColor;
    bool isDark = false;

    std::shared_ptr<Theme> oppositeTheme() const { return m_opposite.lock(); }
    // Links both ways: the earlier partners of this theme and of the new
    // opposite lose their links. None (or this theme itself) unlinks.
    void setOppositeTheme(const std::shared_ptr<Theme>& opposite);

    // The stored record: "id", "foregroundColor", "backgroundColor",
    // "cursorColor" (archived colours), "isDark", and "oppositeTheme" (an id)
    // only when there is one.
    QVariantMap propertyList() const;

    // The localised name of a built-in id, else the id itself.
    QString displayName() const;
    bool isBuiltIn() const;
    static bool isBuiltInId(const QString& id);

    // The built-in themes, made once: light and dark paired, sepia and amber
    // alone. They never enter the settings' list; the list holds copies read
    // back from their records.
    static const std::vector<std::shared_ptr<const Theme>>& defaultThemes();

    // The name of a copy of the theme named name: the format ("%@ Copy",
    // "%@" standing for the name) applied to the name, and again to its own
    // result while that is taken. A format that stops changing the name
    // (no placeholder, or a missing table entry) switches to numbered names
    // ("Notes Copy 2", "Notes Copy 3", ...), so the search always ends.
    static QString nameForCopy(const QString& name, const QString& format,
                               const std::function<bool(const QString&)>& isTaken);

    // The title of the "no opposite" choice of the themes editor.
    static const QString& noOppositeTitle();

private:
    std::weak_ptr<Theme> m_opposite;
};

} // namespace lumora
