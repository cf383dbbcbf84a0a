#include "settings/Settings.h"

#include "markdown/ParsedMarkdownStylesheet.h"
#include "SettingsTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <vector>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace lumora {
// How the tests reach the making of the shared instance.
struct SettingsTestAccess {
    static Settings& makeShared(const std::function<void(Settings&)>& beforeStart)
    {
        return Settings::makeShared(beforeStart);
    }
};
} // namespace lumora

namespace {

void expectDefaults(const Settings& s)
{
    EXPECT_FALSE(s.isTypewriterSoundsEnabled());
    EXPECT_TRUE(s.isTypewriterScrollingEnabled());
    EXPECT_FALSE(s.isNoEditingEnabled());
    EXPECT_EQ(s.highlighting(), Settings::Highlighting::off);
    EXPECT_EQ(ids(s.themes()), (QStringList{"light", "dark", "sepia", "amber"}));
    ASSERT_TRUE(s.theme());
    EXPECT_EQ(s.theme(), s.themes().front());
    EXPECT_EQ(s.editorSize(), 712.0);
    EXPECT_FALSE(s.isInfoViewVisible());
    EXPECT_EQ(s.librarySummaryLines(), 3);
    EXPECT_EQ(s.stylesheet(), MarkdownStylesheet::defaultStylesheet());
    ASSERT_TRUE(s.parsedStylesheet());
    EXPECT_EQ(*s.parsedStylesheet()->foregroundColor, s.theme()->foregroundColor);
}

} // namespace

TEST(Settings, WithoutAStoreEveryDefaultAppliesAndNothingIsWritten)
{
    Settings s(nullptr);
    expectDefaults(s);
    Announced announced(s, {"infoViewVisibilityChanged", "highlightingChanged"});
    s.toggleInfoViewVisible();
    s.setHighlighting(Settings::Highlighting::paragraph);
    s.setFontSize(20);
    s.saveThemes();
    EXPECT_TRUE(s.isInfoViewVisible());
    EXPECT_EQ(s.stylesheet().base.size, 20.0);
    // The changes are still announced.
    EXPECT_EQ(announced.names, (QStringList{"infoViewVisibilityChanged", "highlightingChanged"}));
}

TEST(Settings, AFirstStartWithoutAPreferencesFileUsesTheDefaults)
{
    const auto store = makeStore("first-start");
    Settings s(store.get());
    expectDefaults(s);
    // Starting writes nothing.
    EXPECT_FALSE(QFileInfo::exists(store->filePath()));
}

TEST(Settings, StoredValuesAreRead)
{
    const auto store = makeStore("stored", R"({"typewriterSounds": true, "typewriterScrolling": false,
        "noEditing": "YES", "highlighting": "sentence", "theme": "sepia", "editorSize": 968,
        "infoViewVisible": 1, "librarySummaryLines": 0})");
    const Settings s(store.get());
    EXPECT_TRUE(s.isTypewriterSoundsEnabled());
    EXPECT_FALSE(s.isTypewriterScrollingEnabled());
    EXPECT_TRUE(s.isNoEditingEnabled()); // Bool reads convert
    EXPECT_EQ(s.highlighting(), Settings::Highlighting::sentence);
    EXPECT_EQ(s.theme()->id, QStringLiteral("sepia"));
    EXPECT_EQ(s.editorSize(), 968.0);
    EXPECT_TRUE(s.isInfoViewVisible());
    EXPECT_EQ(s.librarySummaryLines(), 0);
    // Under focus highlighting the text is dimmed by default.
    EXPECT_EQ(s.parsedStylesheet()->foregroundColor->a, unhighlightedTextAlpha);
}

TEST(Settings, ValuesOfTheWrongTypeGiveTheDefaultsAndTheOthersStay)
{
    // An unknown theme selects the first one, without rewriting "theme".
    const QByteArray json = R"({"editorSize": "968", "highlighting": "Sentence", "typewriterScrolling": "x",
        "librarySummaryLines": 2.5, "theme": "gone", "infoViewVisible": true, "noEditing": true})";
    const auto store = makeStore("wrong-types", json);
    const Settings s(store.get());
    EXPECT_EQ(s.editorSize(), 712.0);
    EXPECT_EQ(s.highlighting(), Settings::Highlighting::off);
    EXPECT_TRUE(s.isTypewriterScrollingEnabled());
    EXPECT_EQ(s.librarySummaryLines(), 3);
    EXPECT_EQ(s.theme()->id, QStringLiteral("light"));
    EXPECT_TRUE(s.isInfoViewVisible());
    EXPECT_TRUE(s.isNoEditingEnabled());
    // The file is left as it was.
    EXPECT_EQ(readFile(store->filePath()), json);
}

TEST(Settings, LibrarySummaryLinesStayWithinTheMenusChoices)
{
    for (const auto& [stored, expected] : std::vector<std::pair<QByteArray, int>>{
             {"-1", 0}, {"0", 0}, {"3", 3}, {"4", 3}, {"1000000000000", 3}, {"-99999999999", 0}}) {
        const auto store = makeStore("summary-lines", R"({"librarySummaryLines": )" + stored + "}");
        EXPECT_EQ(Settings(store.get()).librarySummaryLines(), expected) << stored.constData();
    }
    Settings s(nullptr);
    s.setLibrarySummaryLines(7);
    EXPECT_EQ(s.librarySummaryLines(), 3);
}

TEST(Settings, APreferencesFileThatIsNotJsonStartsWithDefaults)
{
    const QString folder = freshDirectory("not-json");
    const QString path = folder + "/defaults.json";
    writeFile(path, "theme = dark\n");
    testing::internal::CaptureStderr();
    UserDefaults store(path);
    Settings s(&store);
    const std::string err = testing::internal::GetCapturedStderr();
    expectDefaults(s);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(path.toStdString()), std::string::npos) << err;
    const QStringList aside = QDir(folder).entryList({"defaults.json.corrupt-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(folder + "/" + aside.front()), QByteArray("theme = dark\n"));
}

TEST(Settings, EnumsConvertFromExactRawValuesOnly)
{
    for (auto h : allHighlightings) EXPECT_EQ(Settings::highlightingFromRawValue(Settings::rawValue(h)), h);
    EXPECT_EQ(Settings::highlightingFromRawValue("Sentence"), std::nullopt);
    EXPECT_EQ(Settings::editorSizeFromRawValue(968.0), Settings::EditorSize::m);
    EXPECT_EQ(Settings::editorSizeFromRawValue(0.0), Settings::EditorSize::l);
    EXPECT_EQ(Settings::editorSizeFromRawValue(968.5), std::nullopt);
    EXPECT_EQ(Settings::paragraphSpacingFromRawValue(0.5), Settings::ParagraphSpacing::halfLine);
    EXPECT_EQ(Settings::paragraphSpacingFromRawValue(0.25), std::nullopt);
}

TEST(Settings, SettersWriteTheirKeyThenAnnounce)
{
    const auto store = makeStore("setters");
    Settings s(store.get());
    Announced announced(s);

    s.toggleInfoViewVisible();
    EXPECT_EQ(store->object("infoViewVisible"), QVariant(true));
    s.toggleInfoViewVisible();
    EXPECT_FALSE(s.isInfoViewVisible());
    EXPECT_EQ(store->object("infoViewVisible"), QVariant(false));

    s.setHighlighting(Settings::Highlighting::sentence);
    EXPECT_EQ(store->stringValue("highlighting"), QStringLiteral("sentence"));
    EXPECT_EQ(s.parsedStylesheet()->foregroundColor->a, 0.3);
    s.setHighlighting(Settings::Highlighting::off);
    EXPECT_EQ(s.parsedStylesheet()->foregroundColor->a, 1.0);

    s.setEditorSize(968.0);
    EXPECT_EQ(store->doubleValue("editorSize"), 968.0);
    s.setLibrarySummaryLines(1);
    EXPECT_EQ(store->integerValue("librarySummaryLines"), 1);
    s.toggleTypewriterScrolling();
    EXPECT_EQ(store->object("typewriterScrolling"), QVariant(false));
    s.toggleNoEditing();
    EXPECT_EQ(store->object("noEditing"), QVariant(true));

    EXPECT_EQ(announced.names, (QStringList{"infoViewVisibilityChanged", "infoViewVisibilityChanged",
                                            "textAttributesChanged", "highlightingChanged",
                                            "textAttributesChanged", "highlightingChanged", "editorSizeChanged",
                                            "librarySummaryLinesChanged", "typewriterScrollingChanged",
                                            "noEditingChanged"}));

    s.setParagraphSpacing(Settings::ParagraphSpacing::oneLine);
    EXPECT_EQ(store->doubleValue("paragraphSpacingFactor"), 1.0);
    EXPECT_EQ(s.parsedStylesheet()->paragraphSpacing, 1.0);
    EXPECT_EQ(Settings(store.get()).parsedStylesheet()->paragraphSpacing, 1.0) << "read again at the next start";
}

TEST(Settings, EachSignalCarriesTheValueTheReadersNowSee)
{
    const auto store = makeStore("signal-values");
    Settings s(store.get());
    QObject context;
    std::vector<QString> seen;
    const auto note = [&](const QString& what) { seen.push_back(what); };
    QObject::connect(&s, &Settings::themeChanged, &context, [&](const std::shared_ptr<Theme>& theme) {
        EXPECT_EQ(theme, s.theme());
        EXPECT_EQ(*s.parsedStylesheet()->foregroundColor, theme->foregroundColor) << "rebuilt before";
        note(theme->id);
    });
    QObject::connect(&s, &Settings::highlightingChanged, &context, [&](Settings::Highlighting h) {
        EXPECT_EQ(h, s.highlighting());
        note(Settings::rawValue(h));
    });
    QObject::connect(&s, &Settings::editorSizeChanged, &context, [&](double size) {
        EXPECT_EQ(size, s.editorSize());
        EXPECT_EQ(store->doubleValue("editorSize"), size) << "written before";
        note(QString::number(size));
    });
    QObject::connect(&s, &Settings::infoViewVisibilityChanged, &context, [&](bool visible) {
        EXPECT_EQ(visible, s.isInfoViewVisible());
        note(visible ? "shown" : "hidden");
    });
    QObject::connect(&s, &Settings::librarySummaryLinesChanged, &context, [&](int lines) {
        EXPECT_EQ(lines, s.librarySummaryLines());
        EXPECT_EQ(store->integerValue("librarySummaryLines"), lines);
        note(QString::number(lines) + " lines");
    });
    QObject::connect(&s, &Settings::noEditingChanged, &context, [&](bool on) {
        EXPECT_EQ(on, s.isNoEditingEnabled());
        note(on ? "locked" : "editable");
    });
    QObject::connect(&s, &Settings::typewriterScrollingChanged, &context, [&](bool on) {
        EXPECT_EQ(on, s.isTypewriterScrollingEnabled());
        note(on ? "typewriter" : "free");
    });

    s.setTheme(s.themes()[2]);
    s.showTheme(s.themes()[1]);
    s.setHighlighting(Settings::Highlighting::paragraph);
    s.setEditorSize(0.0);
    s.toggleInfoViewVisible();
    s.setLibrarySummaryLines(7); // kept within the choices
    s.setNoEditingEnabled(true);
    s.setTypewriterScrollingEnabled(false);
    EXPECT_EQ(seen, (std::vector<QString>{"sepia", "dark", "paragraph", "0", "shown", "3 lines", "locked", "free"}));
    // Shown without being chosen: the chosen theme stays stored.
    EXPECT_EQ(store->stringValue("theme"), QStringLiteral("sepia"));
}

TEST(Settings, TheSharedInstanceCanBeAskedForWhileItIsMade)
{
    // Making it announces the text attributes; a listener that asks for the
    // instance then must get it, not re-enter its construction.
    Settings* seen = nullptr;
    int calls = 0;
    QObject context;
    Settings& shared = SettingsTestAccess::makeShared([&](Settings& made) {
        QObject::connect(&made, &Settings::textAttributesChanged, &context, [&] {
            ++calls;
            seen = &Settings::shared();
            EXPECT_TRUE(seen->parsedStylesheet());
        });
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, &shared);
    EXPECT_EQ(&Settings::shared(), &shared);
    EXPECT_EQ(shared.userDefaults(), &UserDefaults::standard());
}
