#include "ui/desktop_application.h"

#include <QApplication>

int runDesktopApplication(int argc, char** argv)
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    return 0;
}
