#include "report/frontpage_meta.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(FrontPageMeta, ReadsAuthorAndEditor)
{
    struct Case {
        const char* name;
        std::string content;
        const char* author;
        const char* editor;
    };
    const Case cases[] = {
        { "domain user", "vti_encoding:SR|utf8-nl\nvti_author:SR|OFFICE\\alice\nvti_modifiedby:SR|OFFICE\\bob\n",
            "alice", "bob" },
        { "author on the last line, no line feed", "vti_modifiedby:SR|bob\nvti_author:SR|alice", "SR|alice", "SR|bob" },
        { "upper-case keys", "VTI_AUTHOR:SR|alice\nVti_ModifiedBy:SR|bob\n", "SR|alice", "SR|bob" },
        { "last occurrence wins", "vti_author:first\nvti_author:second\n", "second", "" },
        { "backslash anywhere on the line", "vti_author:SR|a\\b\\carol\r\n", "carol", "" },
        { "backslash before the colon", "x\\vti_author:SR|dave\n", "", "" },
        { "no colon", "vti_author SR|alice\n", "", "" },
        { "empty value", "vti_author:\n", "", "" },
        { "binary", std::string("\0\xff\x01vti_author:\0x\n\x80\x81:\\\n", 22), "", "" },
        { "overlong line", "vti_author:" + std::string(100000, 'a') + "\nvti_modifiedby:bob\n", nullptr, "bob" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.writeFile("_vti_cnf/index.htm", c.content);
        std::string author;
        std::string editor;
        ASSERT_TRUE(readFrontPageMeta(dir.path(), "index.htm", author, editor));
        if (c.author)
            EXPECT_EQ(author, c.author);
        else
            EXPECT_LT(author.size(), 100000u);
        EXPECT_EQ(editor, c.editor);
    }
}

TEST(FrontPageMeta, MissingFileLeavesNamesAlone)
{
    TempDir dir;
    std::string author = "kept";
    std::string editor;
    EXPECT_FALSE(readFrontPageMeta(dir.path(), "index.htm", author, editor));
    dir.makeDirectory("_vti_cnf");
    EXPECT_FALSE(readFrontPageMeta(dir.path(), "index.htm", author, editor));
    EXPECT_EQ(author, "kept");
}

} // namespace
