#include "app/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Startup windows;
    return application.exec();  // ends when the main window is closed
}
