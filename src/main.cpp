#include "shell/Application.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char* argv[])
{
    // The preview's web engine refuses to start its sandbox for root and
    // ends the whole process instead. Run as root, the preview goes without
    // the sandbox (it runs no scripts and loads nothing from the network);
    // set before anything of the web engine starts.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The preview's web view shares its drawing context with the windows.
    // Qt WebEngine needs the shared context before the application object
    // exists (set later, it warns and crashes on its first page), and a
    // program linked with it creates the context at start-up in any case;
    // so it is made here, whether or not a preview is ever opened.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    return lumora::runApplication(app, argc, argv);
}
