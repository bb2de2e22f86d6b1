#include <QApplication>

#include "window/dialogs.h"
#include "window/frmMain1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The icon is compiled into the window's static library, which does not
    // register its resources by itself.
    Q_INIT_RESOURCE(melodex);
    QApplication::setApplicationName(QStringLiteral("Melodex"));
    QApplication::setDesktopFileName(QStringLiteral("melodex"));

    melodex::QtDialogs dialogs;
    frmMain1 window(dialogs);
    dialogs.setParent(&window);
    window.show();
    return app.exec();
}
