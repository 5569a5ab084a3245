#include "engine/content_digest.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

TEST(ContentDigest, HexRoundTripsAndRefusesWhatIsNoDigest)
{
    const ContentDigest digest { 0x99aa06d3014798d8, 0x6001c324468d497f };
    EXPECT_EQ(digest.hex(), "99aa06d3014798d86001c324468d497f");
    EXPECT_EQ(ContentDigest::fromHex(digest.hex()), digest);
    EXPECT_EQ(ContentDigest::fromHex("0000000000000001000000000000000A"), (ContentDigest { 1, 10 }));
    for (const char* bad : { "", "99aa06d3014798d86001c324468d497", "99aa06d3014798d86001c324468d497f0",
             "99aa06d3014798d86001c324468d497g", " 9aa06d3014798d86001c324468d497f" })
        EXPECT_FALSE(ContentDigest::fromHex(bad)) << bad;
}

// The digests are those xxhsum -H2 prints for the same bytes: a list written by one build
// must match files hashed by any other.
TEST(ContentDigest, DigestsFilesInBlocksAsXxhsumDoes)
{
    TempDir dir;
    struct Row {
        const char* name;
        std::string content;
        const char* expected; // empty: only compared with the other rows
    };
    std::string large = patternBytes(600 * 1024 + 3);
    std::string largeEdited = large;
    largeEdited.back() ^= 1;
    const Row rows[] = {
        { "empty", "", "99aa06d3014798d86001c324468d497f" },
        { "one letter", "a", "a96faf705af16834e6c632b61e964e1f" },
        { "over two blocks", large, "" },
        { "last byte of the last block edited", largeEdited, "" },
    };
    std::vector<ContentDigest> digests;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.writeFile(std::string(row.name) + ".bin", row.content);
        std::optional<FileStamp> stamp = stampOfFile(path);
        ASSERT_TRUE(stamp);
        std::optional<ContentDigest> digest = digestFile(path, *stamp);
        ASSERT_TRUE(digest);
        if (*row.expected != 0) {
            EXPECT_EQ(digest->hex(), row.expected);
        }
        for (const ContentDigest& other : digests)
            EXPECT_NE(*digest, other);
        digests.push_back(*digest);
    }
}

TEST(ContentDigest, NoDigestForAFileThatIsNotAsExpected)
{
    TempDir dir;
    const std::string path = dir.writeFile("a.html", "<p>one</p>");
    const std::optional<FileStamp> stamp = stampOfFile(path);
    ASSERT_TRUE(stamp);
    struct Row {
        const char* name;
        FileStamp expected;
    };
    FileStamp otherSize = *stamp;
    ++otherSize.size;
    FileStamp otherInode = *stamp;
    ++otherInode.inode;
    FileStamp otherTime = *stamp;
    ++otherTime.nanoseconds;
    FileStamp otherChange = *stamp;
    --otherChange.statusChange;
    for (const Row& row : { Row { "size", otherSize }, Row { "inode", otherInode }, Row { "time", otherTime },
             Row { "status change", otherChange } })
        EXPECT_FALSE(digestFile(path, row.expected)) << row.name;
    EXPECT_FALSE(digestFile(dir.file("missing.html"), *stamp));
    EXPECT_FALSE(digestFile(dir.path(), *stamp));
}

} // namespace
