#include "platform/Bundle.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(lumora::Bundle::name());
    QApplication::setOrganizationName(lumora::Bundle::name());

    QMainWindow window;
    window.setWindowTitle(lumora::Bundle::name());
    window.resize(960, 720);
    window.show();
    return app.exec();
}
