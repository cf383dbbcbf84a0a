#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/files/UserDefaults.h"
#include "settings/Theme.h"
#include "support/TestEnvironment.h"

#include <QLatin1String>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <vector>

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

// Records the names posted on the default centre, in order.
class PostedNames {
public:
    PostedNames(std::initializer_list<QLatin1String> names)
    {
        for (QLatin1String name : names)
            m_observations.push_back(NotificationCenter::defaultCenter().observe(
                name, [this](const Notification& n) { posted.append(n.name); }));
    }
    QStringList posted;

private:
    std::vector<Observation> m_observations;
};

} // namespace lumora::test
