// Commands of the whole application, through the document controller and its
// main menu, offscreen.
//
// - Text size: Bigger and Smaller taken in turn with three windows open on
//   one document of generated Markdown (1 MB and 5 MB), each scrolled to
//   another place with its selection far down; timed from the command until
//   the text is restyled, every editor has its selection back in place and
//   every window is repainted. Counters: how far the selections moved (0 is
//   the goal) and how many times each window's text was updated per change
//   (1 is the goal).
// - The Font submenu filled and shown the first time: the installed
//   families listed and split by pitch, an item for each in its own face,
//   and the menu laid out and painted.
#include "document/Document.h"
#include "document/DocumentViewController.h"
#include "document/TextView.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Bundle.h"
#include "platform/text/TextMirror.h"
#include "settings/Settings.h"
#include "shell/DocumentController.h"
#include "shell/MainMenu.h"
#include "shell/WindowController.h"
#include "support/MarkdownCorpus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>

using namespace lumora;

namespace {

const QString& fileOf(qsizetype bytes) { return bench::markdownCorpusFile(bytes); }

// A started application: the main menu, the observers, no introduction.
DocumentController& application()
{
    static DocumentController* controller = [] {
        UserDefaults::standard().set(QStringLiteral("lastVersion"), qint64(Bundle::buildNumber()));
        auto* made = new DocumentController(&UserDefaults::standard());
        made->prepareApplication();
        return made;
    }();
    return *controller;
}

void BM_TextSizeThreeWindows(benchmark::State& state)
{
    DocumentController& controller = application();
    auto opened = controller.openDocument(fileOf(qsizetype(state.range(0)) * 1024), true);
    auto* document = opened ? qobject_cast<Document*>(*opened) : nullptr;
    if (!document) {
        state.SkipWithError("the document did not open");
        return;
    }
    controller.makeWindow(*document);
    controller.makeWindow(*document);
    std::vector<WindowController*> windows = WindowController::controllersOf(*document);
    const qsizetype length = document->data().textStorage().length();
    const double places[] = {0.9, 0.55, 0.2};
    const int distances[] = {400, 200, 300};
    std::vector<TextView*> views;
    for (size_t i = 0; i < windows.size() && i < 3; ++i) {
        DocumentWindowBase* window = windows[i]->window();
        window->resize(1000, 760);
        window->show();
        TextView* view = windows[i]->documentViewController()->textView();
        view->setSelectedRange(Range(qsizetype(length * places[i]), 6));
        view->scrollSelectionToDistanceFromTop(distances[i]);
        views.push_back(view);
    }
    QApplication::processEvents();

    Menu& textSize = *controller.mainMenu()->topLevelMenu(MainMenu::view).itemAt(10)->submenu();
    MenuItem& bigger = *textSize.itemWithCommand(Command::increaseFontSize);
    MenuItem& smaller = *textSize.itemWithCommand(Command::decreaseFontSize);
    auto& dispatcher = ActionDispatcher::instance();
    double moved = 0;
    double updatesPerChange = 0;
    int changes = 0;
    bool grow = true;
    for (auto _ : state) {
        std::vector<int> before, updates;
        for (TextView* view : views) {
            before.push_back(view->selectionDistanceFromTop());
            updates.push_back(view->mirror().updateCount());
        }
        QElapsedTimer timer;
        timer.start();
        dispatcher.performMenuItem(grow ? bigger : smaller);
        for (WindowController* window : windows) window->window()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        for (size_t i = 0; i < views.size(); ++i) {
            moved = std::max(moved, double(std::abs(views[i]->selectionDistanceFromTop() - before[i])));
            updatesPerChange = std::max(updatesPerChange, double(views[i]->mirror().updateCount() - updates[i]));
        }
        ++changes;
        grow = !grow;
    }
    state.counters["selection_moved_px"] = moved;
    state.counters["updates_per_window"] = updatesPerChange;
    state.counters["windows"] = double(views.size());
    if (!grow) dispatcher.performMenuItem(smaller);
    for (WindowController* window : windows) delete window->window();
    document->close();
}

void BM_FontMenuFirstFill(benchmark::State& state)
{
    for (auto _ : state) {
        // Nothing cached: new settings list the families again.
        Settings settings(nullptr);
        MainMenu mainMenu(settings);
        QElapsedTimer timer;
        timer.start();
        Menu& font = *mainMenu.fontSubmenu();
        ActionDispatcher::instance().validateMenu(font);
        QMenu* shown = font.qMenu();
        shown->ensurePolished();
        const QSize size = shown->sizeHint();
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        shown->resize(size);
        shown->render(&image);
        const double elapsed = double(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(elapsed);
        state.counters["families"] = double(font.count() - 5);
        // The very first time also loads every face; later fills find them
        // in Qt's cache.
        static const double first = elapsed * 1e3;
        state.counters["first_ms"] = first;
    }
}

} // namespace

BENCHMARK(BM_TextSizeThreeWindows)->Arg(1024)->Arg(5120)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(6);
BENCHMARK(BM_FontMenuFirstFill)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
