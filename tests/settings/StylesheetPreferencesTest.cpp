#include "settings/LumoraError.h"
#include "settings/Settings.h"

#include "SettingsTestSupport.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/files/Bookmark.h"
#include "platform/text/Fonts.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QSet>
#include <QFontInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>

#include <sys/stat.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// Writes a stylesheet file and returns its path.
QString writeSheet(const QString& folder, const QByteArray& json, const char* name = "sheet.json")
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    writeFile(path, json);
    return path;
}

QByteArray sheetJson(const char* base, const char* styles = "{}")
{
    return QByteArray(R"({"version": 1, "base": )") + base + R"(, "styles": )" + styles + "}";
}

void link(UserDefaults& store, const QString& path)
{
    const auto bookmark = Bookmark::create(path);
    ASSERT_TRUE(bookmark);
    store.set("stylesheetUrl", bookmark->data());
}

double baseFontSize(const Settings& s) { return fonts::size(*s.parsedStylesheet()->base.font()); }
QString baseFamily(const Settings& s) { return QFontInfo(*s.parsedStylesheet()->base.font()).family(); }

double defaultSize() { return *MarkdownStylesheet::defaultStylesheet().base.size; }

} // namespace

TEST(StylesheetPreferences, SizesScaleEverySizedStyle)
{
    // The stored size scales a linked stylesheet as it loads, and each step
    // scales it again; a style without a size stays without one.
    const QString folder = freshDirectory("scale");
    const auto store = makeStore("scale");
    link(*store, writeSheet(folder, sheetJson(R"({"font": "DejaVu Sans", "size": 12})",
                                              R"({"heading": {"size": 24}, "bold": {"bold": true}})")));
    store->set("fontSize", 18.0);
    Settings s(store.get());
    EXPECT_EQ(s.stylesheet().base.size, 18.0);
    EXPECT_EQ(s.stylesheet().styles.at("heading").size, 36.0);
    EXPECT_EQ(s.stylesheet().styles.at("bold").size, std::nullopt);
    EXPECT_DOUBLE_EQ(baseFontSize(s), 18.0);
    EXPECT_EQ(baseFamily(s), QStringLiteral("DejaVu Sans"));

    Announced announced(s, {"textAttributesChanged"});
    s.setFontSize(19.5);
    EXPECT_EQ(s.stylesheet().styles.at("heading").size, 39.0);
    EXPECT_EQ(store->doubleValue("fontSize"), 19.5);
    EXPECT_EQ(announced.names.size(), 1);
    // Unusable sizes are refused.
    for (double bad : {0.0, -3.0, std::nan(""), HUGE_VAL}) s.setFontSize(bad);
    EXPECT_EQ(s.stylesheet().base.size, 19.5);
    EXPECT_EQ(announced.names.size(), 1);
}

TEST(StylesheetPreferences, UnusableBaseSizesCountAsAbsent)
{
    // A hand-written stylesheet with a base size of 0 must not divide by
    // zero when the stored size is applied, nor give infinite sizes.
    const QString folder = freshDirectory("zero");
    for (const char* size : {"0", "-12"}) {
        const auto store = makeStore("zero");
        link(*store, writeSheet(folder, sheetJson((QByteArray(R"({"size": )") + size + "}").constData(),
                                                  R"({"heading": {"size": 34}})")));
        const MarkdownStylesheet loaded = Settings(store.get()).stylesheet();
        EXPECT_EQ(loaded.base.size, defaultSize()) << size;
        // A base without a font takes the default stylesheet's.
        EXPECT_EQ(loaded.base.font, MarkdownStylesheet::defaultStylesheet().base.font);
        store->set("fontSize", 24.0);
        const Settings s(store.get());
        EXPECT_EQ(s.stylesheet().base.size, 24.0) << size;
        // Scaled as if written against the default base size.
        EXPECT_DOUBLE_EQ(*s.stylesheet().styles.at("heading").size, 34.0 * 24.0 / defaultSize()) << size;
    }
    // An infinite size (only a program can make one) and a stored size of 0 are no better.
    Settings s(nullptr);
    MarkdownStylesheet sheet;
    sheet.base.size = HUGE_VAL;
    s.applyStylesheet(sheet);
    EXPECT_EQ(s.stylesheet().base.size, defaultSize());
    const auto store = makeStore("zero-stored", R"({"fontSize": 0})");
    EXPECT_EQ(Settings(store.get()).stylesheet().base.size, defaultSize());
}

TEST(StylesheetPreferences, StoredSizesStayWithinTheTextSizeLimits)
{
    // A hand-edited size outside the limits of the text-size commands is
    // brought to the nearest limit; the heading keeps its proportion.
    const double heading = *MarkdownStylesheet::defaultStylesheet().styles.at("heading.1").size;
    for (const auto& [stored, expected] : std::vector<std::pair<QByteArray, double>>{
             {"1e9", Settings::maximumFontSize}, {"31", Settings::maximumFontSize},
             {"2", Settings::minimumFontSize}, {"0.001", Settings::minimumFontSize}, {"17", 17.0}}) {
        const auto store = makeStore("clamped", R"({"fontSize": )" + stored + "}");
        const Settings s(store.get());
        EXPECT_EQ(s.stylesheet().base.size, expected) << stored.constData();
        EXPECT_DOUBLE_EQ(baseFontSize(s), expected) << stored.constData();
        EXPECT_DOUBLE_EQ(*s.stylesheet().styles.at("heading.1").size, heading * expected / defaultSize()) << stored.constData();
    }
    // Not a number at all: the default size.
    const auto store = makeStore("not-a-number", R"({"fontSize": "NaN"})");
    EXPECT_EQ(Settings(store.get()).stylesheet().base.size, defaultSize());
    // A step past a limit stops at it.
    Settings s(nullptr);
    s.setFontSize(29.5);
    s.setFontSize(*s.stylesheet().base.size + 1.0);
    EXPECT_EQ(s.stylesheet().base.size, Settings::maximumFontSize);
}

TEST(StylesheetPreferences, TheCustomFontReplacesAndRestoresTheFamily)
{
    const QString folder = freshDirectory("family");
    const auto store = makeStore("family");
    link(*store, writeSheet(folder, sheetJson(R"({"font": "DejaVu Sans", "size": 15})")));
    Settings s(store.get());
    s.setCustomFont(QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(store->stringValue("customFont"), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(baseFamily(s), QStringLiteral("DejaVu Sans Mono"));
    // A family that cannot be made is stored all the same and falls back.
    s.setCustomFont(QStringLiteral("No Such Family 42"));
    EXPECT_TRUE(s.parsedStylesheet()->base.font());
    // None restores the default stylesheet's family, not the linked one's.
    s.setCustomFont(std::nullopt);
    EXPECT_FALSE(store->contains("customFont"));
    EXPECT_EQ(s.stylesheet().base.font, MarkdownStylesheet::defaultStylesheet().base.font);
}

TEST(StylesheetPreferences, LinkingAStylesheetUsesItAndForgetsTheFontChoices)
{
    const QString folder = freshDirectory("link");
    const auto store = makeStore("link", R"({"customFont": "DejaVu Sans", "fontSize": 20})");
    Settings s(store.get());
    EXPECT_EQ(s.stylesheet().base.size, 20.0);
    Announced announced(s, {"textAttributesChanged"});
    const QString path = writeSheet(folder, sheetJson(R"({"font": "DejaVu Serif", "size": 10})",
                                                      R"({"heading": {"size": 20}})"));
    s.setStylesheetURL(QUrl::fromLocalFile(path));
    EXPECT_TRUE(store->dataValue("stylesheetUrl"));
    EXPECT_FALSE(store->contains("customFont"));
    EXPECT_FALSE(store->contains("fontSize"));
    // The linked stylesheet as it is, now and at the next start.
    EXPECT_EQ(s.stylesheet().base.size, 10.0);
    EXPECT_EQ(s.stylesheet().base.font, QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(s.stylesheet().styles.at("heading").size, 20.0);
    EXPECT_EQ(announced.names.size(), 1);
    const Settings again(store.get());
    EXPECT_EQ(again.stylesheet(), s.stylesheet());
}

TEST(StylesheetPreferences, AFileThatIsNotAStylesheetChangesNothing)
{
    const QString folder = freshDirectory("bad-link");
    const auto store = makeStore("bad-link");
    const QString good = writeSheet(folder, sheetJson(R"({"size": 14})"), "good.json");
    Settings s(store.get());
    s.setStylesheetURL(QUrl::fromLocalFile(good));
    s.setCustomFont(QStringLiteral("DejaVu Sans"));
    s.setFontSize(15);
    const QByteArray goodLink = *store->dataValue("stylesheetUrl");
    const MarkdownStylesheet inUse = s.stylesheet();

    const QString bad = writeSheet(folder, R"({"version": 1, "base": {"size": "big"}, "styles": {}})", "bad.json");
    Announced announced(s, {"textAttributesChanged"});
    try {
        s.setStylesheetURL(QUrl::fromLocalFile(bad));
        FAIL() << "linking a broken stylesheet succeeded";
    } catch (const LumoraError& e) {
        EXPECT_TRUE(e.errorDescription->contains("bad.json")) << e.what();
        EXPECT_TRUE(e.recoverySuggestion->contains("base.size")) << qPrintable(*e.recoverySuggestion);
    }
    EXPECT_EQ(s.stylesheet(), inUse);
    EXPECT_EQ(store->dataValue("stylesheetUrl"), goodLink);
    EXPECT_EQ(store->stringValue("customFont"), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(store->doubleValue("fontSize"), 15.0);
    EXPECT_TRUE(announced.names.isEmpty());

    // A missing file and a URL that is not a file are refused the same way.
    EXPECT_THROW(s.setStylesheetURL(QUrl::fromLocalFile(folder + "/missing.json")), LumoraError);
    EXPECT_THROW(s.setStylesheetURL(QUrl("https://example.com/sheet.json")), LumoraError);
    EXPECT_EQ(store->dataValue("stylesheetUrl"), goodLink);
}

TEST(StylesheetPreferences, UnlinkingRestoresTheDefaultAsItIs)
{
    const QString folder = freshDirectory("unlink");
    const auto store = makeStore("unlink");
    link(*store, writeSheet(folder, sheetJson(R"({"size": 12})")));
    store->set("customFont", "DejaVu Sans");
    store->set("fontSize", 19.0);
    Settings s(store.get());
    s.setStylesheetURL(QUrl());
    EXPECT_FALSE(store->contains("stylesheetUrl"));
    EXPECT_FALSE(store->contains("customFont"));
    EXPECT_FALSE(store->contains("fontSize"));
    // What shows is what the next start shows.
    EXPECT_EQ(s.stylesheet(), MarkdownStylesheet::defaultStylesheet());
    EXPECT_DOUBLE_EQ(baseFontSize(s), defaultSize());
    EXPECT_EQ(Settings(store.get()).stylesheet(), MarkdownStylesheet::defaultStylesheet());
}

TEST(StylesheetPreferences, AMissingOrBrokenLinkAtStartFallsBackToTheDefault)
{
    const QString folder = freshDirectory("start");
    const QString path = writeSheet(folder, sheetJson(R"({"size": 12})"));
    struct Case {
        const char* name;
        std::function<void()> breakIt;
    } cases[] = {
        {"missing", [&] { QFile::remove(path); }},
        {"broken", [&] { writeFile(path, "{ not json"); }},
        // A pipe would wait for a writer that never comes: refused at once.
        {"a named pipe", [&] {
             QFile::remove(path);
             ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
         }},
        {"a folder", [&] {
             QFile::remove(path);
             ASSERT_TRUE(QDir().mkpath(path));
         }},
    };
    for (const Case& c : cases) {
        QFile::remove(path);
        writeFile(path, sheetJson(R"({"size": 12})"));
        const auto store = makeStore("start");
        link(*store, path);
        store->set("fontSize", 22.0);
        const QByteArray linkData = *store->dataValue("stylesheetUrl");
        c.breakIt();

        testing::internal::CaptureStdout();
        const Settings s(store.get());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << c.name << ": " << out;
        EXPECT_NE(out.find("sheet.json"), std::string::npos) << c.name << ": " << out;
        // The default stylesheet, without the stored size; the link stays.
        EXPECT_EQ(s.stylesheet(), MarkdownStylesheet::defaultStylesheet()) << c.name;
        EXPECT_DOUBLE_EQ(baseFontSize(s), defaultSize()) << c.name;
        EXPECT_EQ(store->dataValue("stylesheetUrl"), linkData) << c.name;
    }
}

TEST(StylesheetPreferences, FontFamiliesAreSplitByPitchAndSorted)
{
    Settings s(nullptr);
    const auto& [monospaced, others] = s.allFontFamilies();
    EXPECT_TRUE(monospaced.contains("DejaVu Sans Mono"));
    EXPECT_TRUE(others.contains("DejaVu Serif"));
    EXPECT_FALSE(others.contains("DejaVu Sans Mono"));
    EXPECT_TRUE(std::is_sorted(monospaced.begin(), monospaced.end()));
    EXPECT_TRUE(std::is_sorted(others.begin(), others.end()));
    for (const QString& f : monospaced) EXPECT_FALSE(others.contains(f)) << f.toStdString();
    EXPECT_EQ(&s.allFontFamilies(), &s.allFontFamilies());

    // Each family once, by its own name: no foundries ("C059 [urw]"), no
    // symbol fonts, no aliases that stand for other families.
    const QStringList all = monospaced + others;
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), all.size());
    for (const QString& f : all) EXPECT_FALSE(f.contains(QLatin1Char('['))) << f.toStdString();
    for (const char* left : {"Standard Symbols PS", "D050000L", "Sans Serif", "Monospace"})
        EXPECT_FALSE(all.contains(QLatin1String(left))) << left;
    if (QFontDatabase::hasFamily("C059")) {
        EXPECT_TRUE(others.contains("C059"));
    }
    // A monospaced family that fontconfig does not mark is measured.
    if (QFontDatabase::hasFamily("Noto Sans Mono")) {
        EXPECT_TRUE(monospaced.contains("Noto Sans Mono"));
    }
}
