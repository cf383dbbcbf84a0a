// lumora-menu-pictures: draws a document window and every menu and submenu
// of its main menu, open, in the light and the dark theme, into PNG files,
// for a look at how they read. Runs on preferences of its own, never the
// writer's. Not installed.
//
//   lumora-menu-pictures FOLDER
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/Menu.h"
#include "platform/files/UserDefaults.h"
#include "settings/Settings.h"
#include "shell/DocumentController.h"
#include "shell/MainMenu.h"
#include "shell/WindowController.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <functional>

using namespace lumora;

namespace {

QString fileName(QString title)
{
    title.remove(QLatin1Char('&'));
    title.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
    return title.toLower();
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, (home.path() + QLatin1Char('/') + QLatin1String(variable)).toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setOrganizationName(QStringLiteral("Lumora"));
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 1) {
        QTextStream(stderr) << "usage: lumora-menu-pictures FOLDER\n";
        return 2;
    }
    QDir folder(arguments.first());
    folder.mkpath(QStringLiteral("."));

    UserDefaults::standard().set(QStringLiteral("enableBetaFeatures"), true);
    DocumentController controller(&UserDefaults::standard());
    controller.prepareApplication(); // a first launch: the introduction opens
    const auto windows = WindowController::all();
    if (windows.empty()) return 1;
    WindowController* window = windows.front();

    window->window()->resize(1100, 720);
    window->window()->show();
    QApplication::setActiveWindow(window->window());
    (void)QTest::qWaitForWindowExposed(window->window());
    window->setOutlineVisible(true);

    QMenuBar* bar = window->menuBar();
    int written = 0;

    for (const char* themeId : {"light", "dark"}) {
        Settings& settings = Settings::shared();
        for (const auto& theme : settings.themes())
            if (theme->id == QLatin1String(themeId)) settings.setTheme(theme);
        window->titleBarHidden = false;
        window->updateTitleBar();
        QTest::qWait(300);
        window->window()->grab().save(folder.filePath(QStringLiteral("%1-window.png").arg(themeId)));
        // The strip put away while the writer writes.
        window->titleBarHidden = true;
        window->updateTitleBar();
        QTest::qWait(300);
        window->window()->grab().save(folder.filePath(QStringLiteral("%1-window-writing.png").arg(themeId)));
        window->titleBarHidden = false;
        window->updateTitleBar();
        QTest::qWait(300);
        written += 2;

        std::function<void(Menu&, QPoint, const QString&)> draw = [&](Menu& menu, QPoint at, const QString& name) {
            QMenu* shown = menu.qMenu();
            shown->popup(at);
            (void)QTest::qWaitForWindowExposed(shown);
            QTest::qWait(30);
            shown->grab().save(folder.filePath(QStringLiteral("%1-%2.png").arg(themeId, name)));
            ++written;
            for (const auto& item : menu.items()) {
                if (!item->submenu() || item->isHidden()) continue;
                const QRect row = shown->actionGeometry(item->qAction());
                draw(*item->submenu(), shown->mapToGlobal(row.topRight()), name + QLatin1Char('-') + fileName(item->title()));
            }
            shown->hide();
        };
        Menu& main = controller.mainMenu()->menu();
        for (int i = 0; i < main.count(); ++i) {
            MenuItem* top = main.itemAt(i);
            const QRect place = bar->actionGeometry(top->qAction());
            draw(*top->submenu(), bar->mapToGlobal(place.bottomLeft()),
                 QStringLiteral("%1-%2").arg(i).arg(fileName(top->title())));
        }
    }
    QTextStream(stdout) << written << " pictures in " << folder.absolutePath() << "\n";
    for (WindowController* w : WindowController::all()) delete w->window();
    return 0;
}
