#include "app/Startup.h"
#include "app/Tmain.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    // The installed desktop entry and icon, so that a desktop shows the windows as this
    // program's.
    QGuiApplication::setDesktopFileName(QStringLiteral("auralon"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/about.png")));
    // Files handed over by a file manager or typed after the program's name, as the file
    // system's bytes (Qt's decoded arguments would change names that are not UTF-8).
    const std::vector<std::string> files(argv + 1, argv + argc);
    Startup windows;
    windows.closeOnStopSignals();
    if (!files.empty()) {
        // Once the main window is up and the event loop runs, so that a refusal's message
        // has its window.
        Tmain& main = windows.mainWindow();
        QTimer::singleShot(0, &main, [&main, files] { main.addCommandLineFiles(files); });
    }
    return application.exec();  // ends when the main window is closed
}
