#include "shell/desktop_program.h"
#include "shell/program_main.h"

#include <cstdio>

namespace {

#ifdef TARNWICK_HAVE_DESKTOP
int handToDesktopProgram(int, char** argv)
{
    return execDesktopProgram(argv, stderr);
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef TARNWICK_HAVE_DESKTOP
    return runProgram(argc, argv, &handToDesktopProgram);
#else
    return runProgram(argc, argv, nullptr);
#endif
}
