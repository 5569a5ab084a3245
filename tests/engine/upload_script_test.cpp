#include "engine/upload_script.h"

#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(UploadScript, RecordsLinesThenQuitAndTruncatesTheLastRun)
{
    TempDir dir;
    dir.writeFile("up_2.txt", "lines of another project's run\n");
    {
        UploadScript script(dir.path(), 2);
        ASSERT_TRUE(script.isOpen());
        EXPECT_EQ(script.path(), dir.file("up_2.txt"));
        script.writeLine("mkdir /sub");
        script.writeLine("put \"/w/sub/a.html\" \"/sub/a.html\"");
        // A line break in a file name must not start a line of its own, which a replay would
        // carry out as a command.
        script.writeLine("put \"/w/b\ndele \"\"x\"\"\" \"/b\ndele \"\"x\"\"\"");
        script.finish();
        script.writeLine("after finish");
        script.finish();
    }
    EXPECT_EQ(readWholeFile(dir.file("up_2.txt")),
        "mkdir /sub\nput \"/w/sub/a.html\" \"/sub/a.html\"\n"
        "put \"/w/b\\x0Adele \"\"x\"\"\" \"/b\\x0Adele \"\"x\"\"\"\nquit\n");
}

TEST(UploadScript, EndsWithQuitWhenDestroyed)
{
    TempDir dir;
    {
        UploadScript script(dir.path() + "/", 1);
        script.writeLine("cd /");
    }
    EXPECT_EQ(readWholeFile(dir.file("up_1.txt")), "cd /\nquit\n");
}

TEST(UploadScript, UncreatableTranscriptIsSkipped)
{
    TempDir dir;
    for (const std::string& folder : { dir.file("missing"), std::string() }) {
        UploadScript script(folder, 1);
        EXPECT_FALSE(script.isOpen());
        script.writeLine("put \"a\" \"b\"");
        script.finish();
    }
}

} // namespace
