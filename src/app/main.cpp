#include "shell/app_info.h"

#include <cstdio>

int main(int /*argc*/, char** /*argv*/)
{
    std::printf("%s %s\n", kProductName, kProductVersion);
    return 0;
}
