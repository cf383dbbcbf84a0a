#pragma once

#include "platform/files/UserDefaults.h"
#include "settings/Settings.h"
#include "settings/Theme.h"
#include "support/TestEnvironment.h"

#include <QLatin1String>
#include <QObject>
#include <QStringList>

#include <initializer_list>
#include <memory>

namespace lumora::test {

// A preferences store over a fresh file, optionally filled from JSON.
inline std::unique_ptr<UserDefaults> makeStore(const char* name, const QByteArray& json = {})
{
    const QString path = freshDirectory(QLatin1String(name)) + QStringLiteral("/defaults.json");
    if (!json.isEmpty()) writeFile(path, json);
    return std::make_unique<UserDefaults>(path);
}

inline QStringList ids(const ThemeList& themes)
{
    QStringList list;
    for (const auto& t : themes) list << t->id;
    return list;
}

// Records, in order, the changes a settings object announces, by the names
// of its signals ("themeChanged", "textAttributesChanged", ...); only the
// names given, when some are.
class Announced {
public:
    Announced(Settings& settings, std::initializer_list<const char*> only = {})
    {
        for (const char* name : only) m_only << QLatin1String(name);
        const auto record = [this](const char* name) {
            return [this, name] {
                if (m_only.isEmpty() || m_only.contains(QLatin1String(name))) names.append(QLatin1String(name));
            };
        };
        QObject* c = &m_context;
        QObject::connect(&settings, &Settings::themeChanged, c, record("themeChanged"));
        QObject::connect(&settings, &Settings::themesChanged, c, record("themesChanged"));
        QObject::connect(&settings, &Settings::highlightingChanged, c, record("highlightingChanged"));
        QObject::connect(&settings, &Settings::editorSizeChanged, c, record("editorSizeChanged"));
        QObject::connect(&settings, &Settings::infoViewVisibilityChanged, c, record("infoViewVisibilityChanged"));
        QObject::connect(&settings, &Settings::textAttributesChanged, c, record("textAttributesChanged"));
        QObject::connect(&settings, &Settings::librarySummaryLinesChanged, c, record("librarySummaryLinesChanged"));
        QObject::connect(&settings, &Settings::typewriterScrollingChanged, c, record("typewriterScrollingChanged"));
        QObject::connect(&settings, &Settings::noEditingChanged, c, record("noEditingChanged"));
        QObject::connect(&settings, &Settings::typewriterSoundsChanged, c, record("typewriterSoundsChanged"));
    }
    QStringList names;

private:
    QStringList m_only;
    QObject m_context; // the connections end with the recorder
};

} // namespace lumora::test
