// The commands of the whole application, each through its menu item: font
// family, text size, paragraph spacing, theme, the stylesheet commands, the
// about box, the introduction and the web page; and the restyle of every
// open document that follows a change of the text attributes.
#include "ShellTestSupport.h"

#include "markdown/FocusHighlighting.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/MarkdownStylesheet.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/files/Bookmark.h"
#include "platform/files/FileWriter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/Fonts.h"
#include "platform/text/TextMirror.h"
#include "platform/text/UndoManager.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "shell/ThemesTableViewController.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFontInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <cerrno>
#include <sys/stat.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// A prepared application (no introduction: this build ran before) with the
// stylesheet items.
struct LaterLaunch {
    LaterLaunch()
    {
        UserDefaults::standard().set("lastVersion", qint64(Bundle::buildNumber()));
        UserDefaults::standard().set("enableBetaFeatures", true);
    }
};

struct App {
    LaterLaunch launch; // before the application starts
    mutable Shell shell{true};
    ActionDispatcher& dispatcher = ActionDispatcher::instance();

    MainMenu& mainMenu() const { return *shell.controller->mainMenu(); }
    Menu& view() const { return mainMenu().topLevelMenu(MainMenu::view); }
    Menu& submenuOf(const char* titleKey) const
    {
        for (const auto& item : view().items())
            if (item->submenu() && item->title() == localized(titleKey)) return *item->submenu();
        ADD_FAILURE() << titleKey;
        return view();
    }
    // The item of menu with that command (and represented value, when given).
    MenuItem& item(Menu& menu, Command command, const QVariant& value = {}) const
    {
        dispatcher.validateMenu(menu);
        for (const auto& candidate : menu.items())
            if (candidate->command() == command && (!value.isValid() || candidate->representedObject() == value))
                return *candidate;
        ADD_FAILURE() << command;
        return *menu.itemAt(0);
    }
    // Chooses an item as the writer does: validated, then carried out.
    bool choose(MenuItem& menuItem) const
    {
        if (!dispatcher.validateItem(menuItem)) return false;
        dispatcher.performMenuItem(menuItem);
        return true;
    }
    Document* open(const char* name, const QByteArray& text) const
    {
        const QString path = freshDirectory(QLatin1String(name)) + "/" + name + ".md";
        writeFile(path, text);
        return shell.open(path);
    }
};

Color textColourOf(const Document* document)
{
    const AttributeValue value = document->data().textStorage().attributes(0).value(AttributeKey::ForegroundColor);
    return value.color() ? *value.color() : Color();
}

// Receives the addresses the desktop is asked to open.
class DesktopBrowser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

double baseSize() { return *Settings::shared().stylesheet().base.size; }
double defaultSize() { return *MarkdownStylesheet::defaultStylesheet().base.size; }

double sizeOfTextIn(const Document* document)
{
    const Attributes attributes = document->data().textStorage().attributes(0);
    return attributes.font() ? fonts::size(*attributes.font()) : 0.0;
}

QString stylesheetFile(const QString& folder, const QByteArray& base)
{
    const QString path = folder + "/sheet.json";
    writeFile(path, R"({"version": 1, "base": )" + base + R"(, "styles": {"heading": {"size": 30}}})");
    return path;
}

// How far below the top of the editor's visible area its selection starts.
int selectionTop(TextView& view)
{
    QTextCursor start(view.document());
    start.setPosition(int(view.selectedRange().location));
    return view.cursorRect(start).top();
}

// Puts the selection of view at location, that far below the top.
void placeSelection(TextView& view, qsizetype location, int fromTop)
{
    view.setSelectedRange(Range(location, 4));
    view.scrollSelectionToDistanceFromTop(fromTop);
}

} // namespace

// The window of a document on screen, its text measured whole: its editor.
// A long text of `count` parts: a heading, a paragraph that wraps once or
// twice with strong words, then `rest` (the paragraph's end and what follows).
QByteArray partsOf(int count, const char* rest)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "## Part " + QByteArray::number(i) + "\n\nSome *words* of a paragraph, long enough to wrap at the width "
                "of the writing column once or twice, with **strong** words" + QByteArray(rest);
    return text;
}

TextView* shownMeasured(Document* document)
{
    WindowController* window = document ? windowOf(document) : nullptr;
    if (!window) return nullptr;
    window->window()->resize(900, 700);
    if (!activate(window)) return nullptr;
    TextView* view = window->documentViewController()->textView();
    qobject_cast<EditorLayout*>(view->document()->documentLayout())->layoutEverything();
    return view;
}

// The runs of keys in storage are those of whole, one by one.
void expectSameRuns(const TextStorage& storage, const TextStorage& whole, std::initializer_list<AttributeKey> keys)
{
    for (const AttributeKey key : keys) {
        for (qsizetype i = 0; i < storage.length();) {
            Range a, b;
            const AttributeValue& va = storage.attribute(key, i, &a);
            const AttributeValue& vb = whole.attribute(key, i, &b);
            ASSERT_TRUE(va == vb && a == b) << "key " << int(key) << " at " << i;
            i = a.end();
        }
    }
}

TEST(ApplicationCommands, TextSizeStepsWithinItsLimits)
{
    App app;
    Document* document = app.open("size", "Words to size\n");
    ASSERT_TRUE(activate(windowOf(document)));
    TextView* editor = windowOf(document)->documentViewController()->textView();
    Menu& textSize = app.submenuOf("menu.view.textSize");
    MenuItem& bigger = app.item(textSize, Command::increaseFontSize);
    MenuItem& smaller = app.item(textSize, Command::decreaseFontSize);
    MenuItem& reset = app.item(textSize, Command::resetFontSize);

    EXPECT_FALSE(app.choose(reset)); // the built-in size already
    EXPECT_TRUE(app.choose(bigger));
    EXPECT_EQ(baseSize(), defaultSize() + 1);
    EXPECT_EQ(UserDefaults::standard().doubleValue("fontSize"), defaultSize() + 1);
    EXPECT_DOUBLE_EQ(sizeOfTextIn(document), defaultSize() + 1);
    EXPECT_TRUE(app.choose(smaller));
    EXPECT_TRUE(app.choose(smaller));
    EXPECT_EQ(baseSize(), defaultSize() - 1);
    EXPECT_TRUE(app.choose(reset));
    EXPECT_EQ(baseSize(), defaultSize());

    // At 30 the text grows no more, by the menu or the keys; at 10 it
    // shrinks no more.
    Settings::shared().setFontSize(29.0);
    EXPECT_TRUE(app.choose(bigger));
    EXPECT_EQ(baseSize(), 30.0);
    EXPECT_FALSE(app.dispatcher.validateItem(bigger));
    EXPECT_TRUE(app.dispatcher.validateItem(smaller));
    QTest::keyClick(editor, Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(baseSize(), 30.0);
    Settings::shared().setFontSize(11.0);
    QTest::keyClick(editor, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(baseSize(), 10.0);
    EXPECT_FALSE(app.dispatcher.validateItem(smaller));
    EXPECT_TRUE(app.dispatcher.validateItem(bigger));
    QTest::keyClick(editor, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(baseSize(), 10.0);
    QTest::keyClick(editor, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(baseSize(), defaultSize());
    EXPECT_DOUBLE_EQ(sizeOfTextIn(document), defaultSize());
}

TEST(ApplicationCommands, FontSpacingAndThemeFromTheirSubmenus)
{
    App app;
    Document* document = app.open("choices", "Words\n\nMore words\n");
    ASSERT_TRUE(activate(windowOf(document)));
    const auto checked = [&](Menu& menu) {
        app.dispatcher.validateMenu(menu);
        QStringList titles;
        for (const auto& item : menu.items())
            if (item->state() == MenuItem::State::on) titles << item->title();
        return titles;
    };

    // A family, shown in its own face, from the Font submenu.
    Menu& font = *app.mainMenu().fontSubmenu();
    MenuItem& serif = app.item(font, Command::setFontFamily, QStringLiteral("DejaVu Serif"));
    ASSERT_TRUE(serif.titleFont());
    EXPECT_EQ(QFontInfo(*serif.titleFont()).family(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(checked(font), QStringList{"Default"});
    EXPECT_TRUE(app.choose(serif));
    EXPECT_EQ(UserDefaults::standard().stringValue("customFont"), QStringLiteral("DejaVu Serif"));
    const Attributes attributes = document->data().textStorage().attributes(0);
    ASSERT_TRUE(attributes.font());
    EXPECT_EQ(QFontInfo(*attributes.font()).family(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(checked(font), QStringList{"DejaVu Serif"});
    // The default item: the built-in stylesheet's family, even while a
    // linked stylesheet names another.
    const QString folder = freshDirectory("font-link");
    Settings::shared().setStylesheetURL(QUrl::fromLocalFile(stylesheetFile(folder, R"({"font": "DejaVu Sans Mono", "size": 14})")));
    EXPECT_TRUE(app.choose(serif));
    EXPECT_TRUE(app.choose(*font.itemAt(0)));
    EXPECT_FALSE(UserDefaults::standard().contains("customFont"));
    EXPECT_EQ(Settings::shared().stylesheet().base.font, MarkdownStylesheet::defaultStylesheet().base.font);
    EXPECT_EQ(checked(font), QStringList{"Default"});
    Settings::shared().setStylesheetURL(QUrl());

    // Paragraph spacing.
    Menu& spacing = app.submenuOf("settings.paragraphSpacing");
    EXPECT_EQ(checked(spacing), QStringList{localized("settings.paragraphSpacing.default")});
    EXPECT_TRUE(app.choose(app.item(spacing, Command::setParagraphSpacing, 1.0)));
    EXPECT_EQ(UserDefaults::standard().doubleValue("paragraphSpacingFactor"), 1.0);
    EXPECT_EQ(Settings::shared().parsedStylesheet()->paragraphSpacing, 1.0);
    EXPECT_EQ(checked(spacing), QStringList{localized("settings.paragraphSpacing.oneLine")});

    // Theme: the document takes its colours.
    Menu& themes = *app.mainMenu().themesSubmenu();
    EXPECT_EQ(checked(themes), QStringList{"Light"});
    MenuItem* dark = nullptr;
    for (const auto& item : themes.items())
        if (item->title() == QLatin1String("Dark")) dark = item.get();
    ASSERT_TRUE(dark);
    EXPECT_TRUE(app.choose(*dark));
    EXPECT_EQ(Settings::shared().theme()->id, QStringLiteral("dark"));
    EXPECT_EQ(textColourOf(document).toQColor().rgb(), Settings::shared().theme()->foregroundColor.toQColor().rgb());
    EXPECT_EQ(checked(themes), QStringList{"Dark"});

    // Every Edit Themes… opens another editor.
    const auto editors = [] {
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->findChild<ThemesTableViewController*>()) ++count;
        return count;
    };
    MenuItem& edit = app.item(themes, Command::editThemes);
    EXPECT_TRUE(app.choose(edit));
    EXPECT_TRUE(app.choose(edit));
    EXPECT_EQ(editors(), 2);
    closeWindows<ThemesTableViewController>();
}

TEST(ApplicationCommands, LinkingReadsTheStylesheetFirst)
{
    App app;
    const QString folder = freshDirectory("link");
    MenuItem& link = app.item(app.view(), Command::linkStylesheet);
    MenuItem& unlink = app.item(app.view(), Command::unlinkStylesheet);
    EXPECT_TRUE(unlink.isHidden());
    const MarkdownStylesheet builtIn = Settings::shared().stylesheet();
    Settings::shared().setFontSize(21.0);

    // Cancelled: nothing happens.
    EXPECT_TRUE(app.choose(link));
    EXPECT_EQ(app.shell.dialogs.asked, QStringList{"linkStylesheet"});
    EXPECT_FALSE(UserDefaults::standard().contains("stylesheetUrl"));

    // A stylesheet: linked, in use, the font choices forgotten.
    app.shell.dialogs.stylesheetToLink = stylesheetFile(folder, R"({"font": "DejaVu Serif", "size": 15})");
    EXPECT_TRUE(app.choose(link));
    const auto linked = UserDefaults::standard().dataValue("stylesheetUrl");
    ASSERT_TRUE(linked);
    EXPECT_EQ(baseSize(), 15.0);
    EXPECT_FALSE(UserDefaults::standard().contains("fontSize"));
    app.dispatcher.validateMenu(app.view());
    EXPECT_FALSE(unlink.isHidden());

    // Files that are no stylesheet: each reported; the working link and
    // stylesheet stay.
    const QString broken = folder + "/broken.json";
    writeFile(broken, "{ not json");
    const QString pipe = folder + "/pipe.json";
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString& bad : {broken, pipe, folder + "/missing.json"}) {
        app.shell.dialogs.errors.clear();
        app.shell.dialogs.stylesheetToLink = bad;
        EXPECT_TRUE(app.choose(link));
        EXPECT_EQ(app.shell.dialogs.errors.size(), 1) << bad.toStdString();
        EXPECT_EQ(UserDefaults::standard().dataValue("stylesheetUrl"), linked) << bad.toStdString();
        EXPECT_EQ(baseSize(), 15.0);
    }
    EXPECT_TRUE(app.shell.dialogs.errors.value(0).contains("missing.json"));

    // Unlinked: the built-in stylesheet, and the item hides again.
    EXPECT_TRUE(app.choose(unlink));
    EXPECT_FALSE(UserDefaults::standard().contains("stylesheetUrl"));
    EXPECT_EQ(Settings::shared().stylesheet(), builtIn);
    app.dispatcher.validateMenu(app.view());
    EXPECT_TRUE(unlink.isHidden());
}

TEST(ApplicationCommands, ExportWritesTheStylesheetInUseAsSortedIndentedJson)
{
    App app;
    const QString folder = freshDirectory("export");
    const QString path = folder + "/Exported.json";
    MenuItem& exportItem = app.item(app.view(), Command::exportStylesheet);
    Settings::shared().setFontSize(20.0);
    Settings::shared().setCustomFont(QStringLiteral("DejaVu Serif"));

    EXPECT_TRUE(app.choose(exportItem)); // cancelled
    EXPECT_EQ(app.shell.dialogs.asked, QStringList{"stylesheetExportLocation:" + localized("stylesheet.name")});
    EXPECT_FALSE(QFile::exists(path));

    app.shell.dialogs.stylesheetExportLocation = path;
    EXPECT_TRUE(app.choose(exportItem));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    file.close();
    // The sizes and family in use, keys in order, indented.
    const MarkdownStylesheet exported = MarkdownStylesheet::decode(written);
    EXPECT_EQ(exported, Settings::shared().stylesheet());
    EXPECT_EQ(exported.base.size, 20.0);
    EXPECT_EQ(exported.base.font, QStringLiteral("DejaVu Serif"));
    EXPECT_LT(written.indexOf("\"base\""), written.indexOf("\"styles\""));
    EXPECT_LT(written.indexOf("\"styles\""), written.indexOf("\"version\""));
    EXPECT_TRUE(written.contains("\n    \"base\": {"));
    EXPECT_EQ(QJsonDocument::fromJson(written).object().keys(), (QStringList{"base", "styles", "version"}));

    // A full disk: reported, and the file keeps what it held.
    Settings::shared().setFontSize(24.0);
    setFileWriteFaultHook([](const char* step) { return qstrcmp(step, "write") == 0 ? ENOSPC : 0; });
    app.shell.dialogs.errors.clear();
    EXPECT_TRUE(app.choose(exportItem));
    setFileWriteFaultHook({});
    EXPECT_EQ(app.shell.dialogs.errors.size(), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), written);
}

TEST(ApplicationCommands, AboutIntroductionAndWebPage)
{
    App app;
    Menu& appMenu = app.mainMenu().topLevelMenu(MainMenu::app);
    Menu& help = app.mainMenu().topLevelMenu(MainMenu::help);

    // About names the version and the build.
    QString about;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            about = box->text() + "\n" + box->informativeText();
            box->close();
        }
    });
    EXPECT_TRUE(app.choose(app.item(appMenu, Command::showAboutPanel)));
    EXPECT_TRUE(about.contains(QCoreApplication::applicationVersion())) << about.toStdString();
    EXPECT_TRUE(about.contains(QString::number(Bundle::buildNumber()))) << about.toStdString();

    // The introduction, locked.
    EXPECT_TRUE(app.choose(app.item(help, Command::openIntroduction)));
    Document* introduction = app.shell.controller->introduction();
    ASSERT_TRUE(introduction);
    EXPECT_TRUE(introduction->isLocked());
    EXPECT_FALSE(textOf(introduction).isEmpty());

    // The web page, in the desktop's browser.
    DesktopBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    MenuItem& website = app.item(help, Command::openWebsite);
    EXPECT_FALSE(website.isHidden());
    EXPECT_EQ(website.keyEquivalent(), QStringLiteral("?"));
    EXPECT_TRUE(app.choose(website));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(browser.opened, QList<QUrl>{Bundle::website()});
}

TEST(ApplicationCommands, EveryWindowOfEveryDocumentRestylesOnceAndKeepsItsSelectionInPlace)
{
    App app;
    QByteArray paragraphs;
    for (int i = 0; i < 600; ++i) paragraphs += "## Part " + QByteArray::number(i) + "\n\nSome *words* of paragraph.\n\n";
    Document* first = app.open("first", paragraphs);
    Document* second = app.open("second", paragraphs.left(paragraphs.size() / 2));
    ASSERT_TRUE(first && second);
    // The first document in two windows, the second in one.
    app.shell.controller->makeWindow(*first);
    const auto firstWindows = WindowController::controllersOf(*first);
    ASSERT_EQ(firstWindows.size(), 2u);
    std::vector<WindowController*> windows{firstWindows[0], firstWindows[1], windowOf(second)};
    struct Placed {
        TextView* view;
        qsizetype location;
        int fromTop;
    };
    std::vector<Placed> placed;
    const qsizetype length = first->data().textStorage().length();
    const qsizetype locations[] = {length * 4 / 5, length / 3, second->data().textStorage().length() / 2};
    const int heights[] = {420, 150, 260};
    for (size_t i = 0; i < windows.size(); ++i) {
        windows[i]->window()->resize(900, 700);
        windows[i]->window()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(windows[i]->window()));
        TextView* view = windows[i]->documentViewController()->textView();
        placeSelection(*view, locations[i], heights[i]);
        ASSERT_EQ(selectionTop(*view), heights[i]);
        placed.push_back({view, locations[i], heights[i]});
    }
    // A document held without a window is styled when one shows it.
    Document* held = nullptr;
    const QString heldPath = freshDirectory("held") + "/held.md";
    writeFile(heldPath, "# Held\n");
    app.shell.controller->openDocument(heldPath, false, [&](DocumentBase* d, bool, const std::optional<PlatformError>&) {
        held = qobject_cast<Document*>(d);
    });
    ASSERT_TRUE(held && held->editors().empty());

    Menu& textSize = app.submenuOf("menu.view.textSize");
    Menu& spacing = app.submenuOf("settings.paragraphSpacing");
    MenuItem* dark = nullptr;
    app.dispatcher.validateMenu(*app.mainMenu().themesSubmenu());
    for (const auto& item : app.mainMenu().themesSubmenu()->items())
        if (item->title() == QLatin1String("Dark")) dark = item.get();
    ASSERT_TRUE(dark);
    MenuItem* changes[] = {&app.item(textSize, Command::increaseFontSize), &app.item(spacing, Command::setParagraphSpacing, 1.0),
                           dark, &app.item(textSize, Command::decreaseFontSize)};
    const double headingSize = sizeOfTextIn(first);
    for (MenuItem* change : changes) {
        std::vector<int> updates;
        for (const Placed& p : placed) updates.push_back(p.view->mirror().updateCount());
        ASSERT_TRUE(app.choose(*change)) << change->command();
        for (size_t i = 0; i < placed.size(); ++i) {
            const Placed& p = placed[i];
            // Each window refreshed once, its selection where it was.
            EXPECT_EQ(p.view->mirror().updateCount(), updates[i] + 1) << i << change->command();
            EXPECT_EQ(p.view->selectedRange(), Range(p.location, 4)) << i;
            EXPECT_NEAR(selectionTop(*p.view), p.fromTop, 1) << i << change->command();
        }
    }
    EXPECT_DOUBLE_EQ(sizeOfTextIn(first), headingSize);
    EXPECT_TRUE(held->data().textStorageInvalidated);
    held->showWindows();
    EXPECT_FALSE(held->data().textStorageInvalidated);
    EXPECT_EQ(textColourOf(held).toQColor().rgb(), Settings::shared().theme()->foregroundColor.toQColor().rgb());
}

TEST(ApplicationCommands, TheSelectionStaysInPlaceWhileTheRestOfALongTextIsMeasured)
{
    // A spacing or size change restyles and lays out at once only what is
    // shown, and restyles and measures the rest in the background,
    // correcting heights above the selection as it goes: the selection must
    // stay where it was put, also once all of that is done.
    App app;
    const QByteArray text = partsOf(2500, " in it.\n\n- an item\n- another\n\n");
    Document* document = app.open("long", text);
    TextView* view = shownMeasured(document);
    ASSERT_TRUE(view);
    auto* layout = qobject_cast<EditorLayout*>(view->document()->documentLayout());

    Menu& spacing = app.submenuOf("settings.paragraphSpacing");
    Menu& textSize = app.submenuOf("menu.view.textSize");
    const qsizetype location = document->data().textStorage().length() * 4 / 5;
    MenuItem* changes[] = {&app.item(spacing, Command::setParagraphSpacing, 1.0),
                           &app.item(spacing, Command::setParagraphSpacing, 0.5),
                           &app.item(textSize, Command::increaseFontSize), &app.item(textSize, Command::decreaseFontSize)};
    for (MenuItem* change : changes) {
        placeSelection(*view, location, 300);
        ASSERT_EQ(selectionTop(*view), 300);
        ASSERT_TRUE(app.choose(*change)) << change->command();
        EXPECT_NEAR(selectionTop(*view), 300, 1) << change->command();
        ASSERT_TRUE(document->data().isRestyling()) << "the background has nothing to restyle";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !document->data().isRestyling() && layout->isLaidOut(); },
                                    test::patience));
        QTest::qWait(50);
        EXPECT_NEAR(selectionTop(*view), 300, 1) << change->command();
        EXPECT_EQ(view->selectedRange(), Range(location, 4));
    }
}

TEST(ApplicationCommands, ANewTextSizeShowsWhatIsInViewFirstAndEndsAsARestyleOfTheWholeText)
{
    // A long text: what the window shows is restyled at once, the rest in
    // the background; once that and the measuring after it are done, the
    // text and what the window draws are those of one restyle of all of it.
    App app;
    const QByteArray text = partsOf(1500, " and `code` in it.\n\n- an item\n    - a nested one\n\n> a quote\n\n");
    Document* document = app.open("restyled", text);
    TextView* view = shownMeasured(document);
    ASSERT_TRUE(view);
    auto* layout = qobject_cast<EditorLayout*>(view->document()->documentLayout());
    TextStorage& storage = document->data().textStorage();
    const qsizetype location = storage.length() * 3 / 5;
    Menu& textSize = app.submenuOf("menu.view.textSize");
    const auto sizeAt = [](const TextStorage& s, qsizetype at) {
        const QFont* font = s.attribute(AttributeKey::Font, at).font();
        return font ? fonts::size(*font) : 0.0;
    };

    for (const Highlighting highlighting : {Highlighting::off, Highlighting::sentence}) {
        Settings::shared().setHighlighting(highlighting);
        placeSelection(*view, location, 300);
        ASSERT_TRUE(app.choose(app.item(textSize, Command::increaseFontSize)));
        // The same text restyled whole at once, as a short one is.
        TextStorage whole(storage.string());
        restyleParagraphs(whole, *Settings::shared().parsedStylesheet(), Range(0, whole.length()), true);
        if (highlighting != Highlighting::off)
            highlightFocus(whole, focusRange(whole, view->selectedRange(), highlighting), true);
        // In view: the new size, the selection where it was; far above, the
        // old size still.
        EXPECT_EQ(sizeAt(storage, location), sizeAt(whole, location));
        EXPECT_EQ(sizeAt(storage, 20), sizeAt(whole, 20) - 1);
        EXPECT_NEAR(selectionTop(*view), 300, 1);
        ASSERT_TRUE(document->data().isRestyling());

        ASSERT_TRUE(QTest::qWaitFor([&] { return !document->data().isRestyling() && layout->isLaidOut(); },
                                    test::patience));
        QTest::qWait(50);
        EXPECT_NEAR(selectionTop(*view), 300, 1);
        expectSameRuns(storage, whole,
                       {AttributeKey::Font, AttributeKey::ForegroundColor, AttributeKey::BackgroundColor,
                        AttributeKey::UnderlineStyle, AttributeKey::StrikethroughStyle, AttributeKey::Kern,
                        AttributeKey::ParagraphStyle, AttributeKey::HighlightColor});
        // What the window draws: every block where a fresh layout of that
        // text puts it, with the same looks.
        TextMirror fresh;
        fresh.setDefaultAttributes(Settings::shared().parsedStylesheet()->base);
        fresh.setStorage(&whole);
        fresh.setRootFrameMargins(view->mirror().rootFrameMargins());
        fresh.document()->setTextWidth(view->document()->textWidth());
        auto* freshLayout = qobject_cast<EditorLayout*>(fresh.document()->documentLayout());
        freshLayout->layoutEverything();
        for (QTextBlock a = view->document()->begin(), b = fresh.document()->begin(); a.isValid(); a = a.next(), b = b.next()) {
            ASSERT_TRUE(b.isValid());
            ASSERT_EQ(layout->blockBoundingRect(a), freshLayout->blockBoundingRect(b)) << "block " << a.blockNumber();
            ASSERT_EQ(view->mirror().blockFormat(a), fresh.blockFormat(b)) << "block " << a.blockNumber();
            ASSERT_EQ(view->mirror().charFormats(a), fresh.charFormats(b)) << "block " << a.blockNumber();
        }
        EXPECT_EQ(layout->documentSize(), freshLayout->documentSize());
    }
    Settings::shared().setHighlighting(Highlighting::off);
}

TEST(ApplicationCommands, KeysTypedWhileTheRestIsRestyledKeepTheirTextTheirLooksAndTheirUndo)
{
    // Keys typed in the window while the rest of a long text is restyled in
    // the background, in view and far from it (a paragraph waiting for its
    // turn): the text ends as typed, with the looks of one restyle of all of
    // it, and undo takes every key back.
    App app;
    const QByteArray text = partsOf(1500, " and `code` in it.\n\n- an item\n\n");
    Document* document = app.open("typed", text);
    TextView* view = shownMeasured(document);
    ASSERT_TRUE(view);
    TextStorage& storage = document->data().textStorage();
    const QString original = storage.string();
    placeSelection(*view, storage.length() / 2, 300);
    ASSERT_TRUE(app.choose(app.item(app.submenuOf("menu.view.textSize"), Command::increaseFontSize)));
    ASSERT_TRUE(document->data().isRestyling());

    // In view: a new heading on a line of its own, then words.
    const qsizetype here = original.indexOf(QStringLiteral("\n\n"), storage.length() / 2) + 2;
    view->setSelectedRange(Range(here, 0));
    QTest::keyClicks(view, QStringLiteral("# Typed here"));
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClick(view, Qt::Key_Return);
    // Far above, where nothing is restyled yet: a line break that splits a
    // paragraph, and a word.
    const qsizetype far = original.indexOf(QStringLiteral("long enough"), 200);
    view->setSelectedRange(Range(far, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClicks(view, QStringLiteral("*far* "));
    ASSERT_TRUE(document->data().isRestyling()) << "the restyle ended before the keys could meet it";
    const QString typed = storage.string();
    EXPECT_NE(typed.indexOf(QStringLiteral("# Typed here\n\n")), -1);
    EXPECT_NE(typed.indexOf(QStringLiteral("\n*far* long enough")), -1);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !document->data().isRestyling(); }, test::patience));
    EXPECT_EQ(storage.string(), typed);
    TextStorage whole(typed);
    restyleParagraphs(whole, *Settings::shared().parsedStylesheet(), Range(0, whole.length()), true);
    expectSameRuns(storage, whole,
                   {AttributeKey::Font, AttributeKey::ForegroundColor, AttributeKey::ParagraphStyle,
                    AttributeKey::BackgroundColor, AttributeKey::Kern});
    // Every key taken back, in the order typed.
    UndoManager* undo = view->undoManager();
    ASSERT_TRUE(undo);
    while (undo->canUndo()) view->undo();
    EXPECT_EQ(storage.string(), original);
}

#include "ApplicationCommandsTest.moc"
