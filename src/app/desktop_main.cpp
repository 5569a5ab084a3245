#include "shell/program_main.h"
#include "ui/desktop_application.h"

int main(int argc, char** argv)
{
    return runProgram(argc, argv, &runDesktopApplication);
}
