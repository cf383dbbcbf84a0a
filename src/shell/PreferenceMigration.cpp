#include "shell/PreferenceMigration.h"

#include "platform/files/UserDefaults.h"

#include <QStringList>
#include <QVariantList>

namespace lumora {

namespace {

const char* const kTextOptions[] = {
    "automaticDashSubstitution",  "automaticDataDetection",      "automaticLinkDetection",
    "automaticQuoteSubstitution", "automaticSpellingCorrection", "automaticTextReplacement",
    "continuousSpellChecking",    "grammarChecking",             "smartInsertDelete",
};

void moveTextOptions(UserDefaults& defaults)
{
    for (const char* name : kTextOptions) {
        const QString key = QString::fromLatin1(name);
        defaults.set(key + QStringLiteral("Enabled"), defaults.boolValue(key));
        defaults.remove(key);
    }
}

void keepLibraryData(UserDefaults& defaults)
{
    QVariantList kept;
    if (const auto libraries = defaults.arrayValue(QStringLiteral("libraries"))) {
        bool allData = true;
        for (const QVariant& entry : *libraries) allData = allData && entry.typeId() == QMetaType::QByteArray;
        if (allData) kept = *libraries;
    }
    defaults.set(QStringLiteral("libraries"), kept);
    defaults.remove(QStringLiteral("showLibrariesIntroduction"));
}

void themeFromDarkFlag(UserDefaults& defaults)
{
    const QString key = QStringLiteral("theme");
    // A theme id is already the current form; reading it as a flag would
    // turn "dark" into "light".
    if (defaults.stringValue(key)) return;
    defaults.set(key, defaults.boolValue(key) ? QStringLiteral("dark") : QStringLiteral("light"));
}

} // namespace

void migrateUserDefaults(UserDefaults& defaults, qint64 last)
{
    defaults.beginBatch();
    if (last <= 43) moveTextOptions(defaults);
    if (last <= 50) defaults.remove(QStringLiteral("useCustomFont"));
    if (last <= 51) keepLibraryData(defaults);
    if (last <= 60) themeFromDarkFlag(defaults);
    if (last <= 79) defaults.remove(QStringLiteral("sidebarMultiple"));
    if (last <= 86) {
        defaults.remove(QStringLiteral("sidebarWidth"));
        defaults.remove(QStringLiteral("outlineWidth"));
    }
    if (last <= 87 && defaults.boolValue(QStringLiteral("sentenceHighlighting")))
        defaults.set(QStringLiteral("highlighting"), QStringLiteral("sentence"));
    defaults.endBatch();
}

} // namespace lumora
