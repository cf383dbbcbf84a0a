#include "shell/Application.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The preview's web view shares its drawing context with the windows.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    return lumora::runApplication(app);
}
