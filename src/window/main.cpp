#include <cstring>
#include <iostream>

#include <QApplication>
#include <QTranslator>

#include "common/version.h"
#include "window/dialogs.h"
#include "window/frmMain1.h"
#include "window/qt_translation.h"
#include "window/start_arguments.h"

namespace {

constexpr const char* kUsage = R"(Usage: melodex [FOLDER] | --version | --help

Opens the Melodex window in FOLDER (default: the current folder; for a
file, the folder that holds it): pick a folder of MP3 files and make its
HTML catalogue page. Qt's own options (-platform, -style ...) are accepted
too. See melodex(1); melodex-cli does the same from scripts.
)";

} // namespace

int main(int argc, char* argv[])
{
    // Answered before QApplication, which needs a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "melodex " << melodex::kVersion << '\n';
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kUsage;
            return 0;
        }
    }

    QApplication app(argc, argv);
    // Qt has taken its own options out of the arguments by now.
    const melodex::StartArguments start = melodex::parseStartArguments(QApplication::arguments().mid(1));
    if (!start.error.isEmpty()) {
        std::cerr << "melodex: " << start.error.toStdString() << "\n\n" << kUsage;
        return 2;
    }
    // The icon is compiled into the window's static library, which does not
    // register its resources by itself.
    Q_INIT_RESOURCE(melodex);
    QApplication::setApplicationName(QStringLiteral("Melodex"));
    QApplication::setApplicationVersion(QString::fromLatin1(melodex::kVersion));
    // The desktop entry's name: docks and task bars match the window to it.
    QApplication::setDesktopFileName(QStringLiteral("io.github.melodex.Melodex"));
    // Message boxes take the program's icon, too.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/melodex/melodex.png")));

    QTranslator qtJapanese;
    if (melodex::loadQtJapanese(qtJapanese))
        QApplication::installTranslator(&qtJapanese);

    melodex::QtDialogs dialogs;
    frmMain1 window(dialogs);
    dialogs.setParent(&window);
    window.show();
    // After show(): a folder that cannot be opened is said in a box over the
    // window, which stays on the current folder.
    if (!start.folder.empty())
        window.openFolder(melodex::startFolderOf(start.folder));
    return app.exec();
}
