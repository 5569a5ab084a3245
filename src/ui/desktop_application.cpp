#include "ui/desktop_application.h"

#include "platform/file_utils.h"
#include "shell/application.h"
#include "shell/desktop_program.h"
#include "shell/service_registration.h"
#include "ui/c_dlg_main.h"
#include "uikit/ui_strings.h"

#include <QApplication>
#include <QStringList>

namespace {

// Everything after the program name, as the console start sees it.
std::string commandLineOf(const QStringList& arguments)
{
    QString text = arguments.mid(1).join(u' ');
    while (text.startsWith(u' ') || text.startsWith(u'\t'))
        text.remove(0, 1);
    return text.toStdString();
}

} // namespace

int runDesktopApplication(int argc, char** argv)
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    application.setApplicationName(QStringLiteral("Tarnwick"));

    const UiStrings strings(UiStrings::languageFromEnvironment());
    Application state;
    state.startUp();

    DesktopEnvironment environment;
    environment.optionsFile = optionsFilePath();
    environment.unitDirectory = ServiceRegistration::defaultUnitDirectory();
    // The unit starts the command program: a service needs no window-system library.
    const std::string self = ServiceRegistration::currentProgramPath();
    const std::string command = commandProgramFor(self, isExecutableFile);
    environment.programPath = command.empty() ? self : command;
    environment.systemctl = ServiceRegistration::findSystemctl();

    CDlgMain window(state, strings, environment);
    window.startUp(commandLineOf(QCoreApplication::arguments()));
    return application.exec();
}
