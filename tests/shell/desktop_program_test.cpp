// Where the command program looks for the desktop program, and the way back for the service
// unit, in a build tree and in installations under any prefix.

#include "shell/desktop_program.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(DesktopProgram, CandidatesBesideAndUnderLibexec)
{
    struct Row {
        const char* commandPath;
        std::vector<std::string> candidates;
    };
    const Row rows[] = {
        { "/usr/bin/tarnwick", { "/usr/bin/tarnwick-desktop", "/usr/libexec/tarnwick/tarnwick-desktop" } },
        { "/opt/t/bin/tarnwick", { "/opt/t/bin/tarnwick-desktop", "/opt/t/libexec/tarnwick/tarnwick-desktop" } },
        { "/home/u/build/src/app/tarnwick",
            { "/home/u/build/src/app/tarnwick-desktop", "/home/u/build/src/libexec/tarnwick/tarnwick-desktop" } },
        { "/tarnwick", { "/tarnwick-desktop", "/libexec/tarnwick/tarnwick-desktop" } },
    };
    for (const Row& row : rows)
        EXPECT_EQ(desktopProgramCandidates(row.commandPath), row.candidates) << row.commandPath;
}

TEST(DesktopProgram, CommandProgramForTheServiceUnit)
{
    struct Row {
        const char* name;
        const char* desktopPath;
        std::set<std::string> executables;
        const char* expected;
    };
    const Row rows[] = {
        { "installed", "/usr/libexec/tarnwick/tarnwick-desktop", { "/usr/bin/tarnwick" }, "/usr/bin/tarnwick" },
        { "build tree", "/b/src/app/tarnwick-desktop", { "/b/src/app/tarnwick", "/b/bin/tarnwick" },
            "/b/src/app/tarnwick" },
        { "beside wins over bin", "/p/libexec/tarnwick/tarnwick-desktop",
            { "/p/libexec/tarnwick/tarnwick", "/p/bin/tarnwick" }, "/p/libexec/tarnwick/tarnwick" },
        { "neither", "/usr/libexec/tarnwick/tarnwick-desktop", { "/usr/local/bin/tarnwick" }, "" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(
            commandProgramFor(row.desktopPath, [&](const std::string& path) { return row.executables.contains(path); }),
            row.expected);
    }
}

} // namespace
