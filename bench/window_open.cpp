// How long the window takes to show a folder: opens it offscreen the way a
// pick in the folder list does, lets the window paint, then scrolls the file
// list to its end and back (does it stay responsive with that many rows?).
//
//     window_open FOLDER [REPEATS]

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>

#include <cstdio>
#include <string>

#include "window/dialogs.h"
#include "window/frmMain1.h"

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [REPEATS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int repeats = argc > 2 ? std::stoi(argv[2]) : 3;

    QElapsedTimer timer;
    timer.start();
    melodex::QtDialogs dialogs;
    frmMain1 window(dialogs);
    dialogs.setParent(&window);
    window.show();
    QApplication::processEvents();
    std::printf("start-up and first paint: %.3f s\n", timer.nsecsElapsed() / 1e9);

    for (int i = 0; i < repeats; ++i) {
        window.openFolder("/");
        QApplication::processEvents();
        timer.restart();
        const bool ok = window.openFolder(folder);
        const double listed = timer.nsecsElapsed() / 1e9;
        QApplication::processEvents();
        const double painted = timer.nsecsElapsed() / 1e9;
        timer.restart();
        window.File1->scrollToBottom();
        QApplication::processEvents();
        window.File1->scrollToTop();
        QApplication::processEvents();
        const double scrolled = timer.nsecsElapsed() / 1e9;
        std::printf(
            "open %s: %s, %d rows, count \"%s\": listed %.3f s, painted %.3f s, scroll end and back %.3f s\n",
            folder.c_str(), ok ? "ok" : "failed", window.File1->count(),
            window.strFileCount->text().toUtf8().constData(), listed, painted, scrolled);
    }
    return 0;
}
