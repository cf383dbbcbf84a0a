#include "shell/Application.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The preview's web view shares its drawing context with the windows.
    // Qt WebEngine needs the shared context before the application object
    // exists (set later, it warns and crashes on its first page), and a
    // program linked with it creates the context at start-up in any case;
    // so it is made here, whether or not a preview is ever opened.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    return lumora::runApplication(app, argc, argv);
}
