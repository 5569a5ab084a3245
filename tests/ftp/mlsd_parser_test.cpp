#include "ftp/mlsd_parser.h"

#include <gtest/gtest.h>

TEST(MlsdParser, LinesRealServersSend)
{
    struct Case {
        const char* line;
        bool parsed;
        const char* name;
        bool isDirectory;
        int64_t size;
        int64_t time;
    };
    const Case cases[] = {
        { "type=file;size=1024;modify=20240229235959;UNIX.mode=0644; index.html", true, "index.html", false, 1024,
            1709251199 },
        { "Type=DIR;Modify=19700101000000;Perm=el; images", true, "images", true, 0, 0 },
        { "modify=20200101120000.123;perm=adfrw;size=5;type=file;unique=801U1; a b; c.txt", true, "a b; c.txt", false,
            5, 1577880000 },
        { "type=OS.unix=slink:/var/www;modify=20200101000000; www", true, "www -> /var/www", true, 0, 1577836800 },
        { "type=OS.unix=symlink;size=7; link", true, "link", true, 7, 0 },
        { "type=file;size=12;modify=20241301000000; bad-month", true, "bad-month", false, 12, 0 },
        { "type=file;size=x12; odd-size", true, "odd-size", false, 0, 0 },
        { "type=file;UNIX.owner=Jane Doe;size=3; owner.txt", true, "owner.txt", false, 3, 0 },
        { " no-facts.txt", true, "no-facts.txt", false, 0, 0 },
        { "type=cdir;modify=20200101000000; /web", false, "", false, 0, 0 },
        { "type=pdir; ..", false, "", false, 0, 0 },
        { "type=file;size=1;", false, "", false, 0, 0 },
        { "type=file;size=1; ", false, "", false, 0, 0 },
        { "", false, "", false, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<MlsdEntry> entry = parseMlsdLine(c.line);
        ASSERT_EQ(entry.has_value(), c.parsed);
        if (!entry)
            continue;
        EXPECT_EQ(entry->name, c.name);
        EXPECT_EQ(entry->isDirectory, c.isDirectory);
        EXPECT_EQ(entry->size, c.size);
        EXPECT_EQ(entry->time, c.time);
    }
}

TEST(MlsdParser, TimesAreCheckedFieldByField)
{
    EXPECT_EQ(parseMlsdTime("20000229000000"), 951782400);
    EXPECT_EQ(parseMlsdTime("19691231235959"), -1);
    for (const char* bad : { "2000022900000", "20000230000000", "20000101240000", "20000101006000", "2000010100000x",
             "20000101000000.", "20000101000000.5x", "" })
        EXPECT_FALSE(parseMlsdTime(bad).has_value()) << bad;
}
