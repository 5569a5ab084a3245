#include "platform/archive_mark_store.h"
#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Moves the modification time by a whole second, standing in for an edit made later.
void touchLater(const std::string& path)
{
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    struct timespec times[2] = { info.st_atim, info.st_mtim };
    times[1].tv_sec += 1;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void setMtime(const std::string& path, const struct timespec& mtime)
{
    struct timespec times[2] = { mtime, mtime };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct timespec mtimeOf(const std::string& path)
{
    struct stat info { };
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
}

TEST(ArchiveMarkStore, ClearedFileCountsUnchangedUntilItChanges)
{
    TempDir dir;
    std::string file = dir.writeFile("site/index.html", "<p>one</p>");
    ArchiveMarkStore store(dir.file("archive.marks"));
    store.load();
    EXPECT_TRUE(store.isArchiveSet(file)) << "never cleared";
    ASSERT_TRUE(store.clearArchive(file));
    EXPECT_FALSE(store.isArchiveSet(file));
    EXPECT_FALSE(store.clearArchive(dir.file("site/missing.html")));
    EXPECT_TRUE(store.isArchiveSet(dir.file("site/missing.html")));

    struct Change {
        const char* name;
        std::function<void()> apply;
    };
    const Change changes[] = {
        { "rewritten in place, same size",
            [&] {
                struct timespec before = mtimeOf(file);
                dir.writeFile("site/index.html", "<p>two</p>");
                before.tv_nsec = (before.tv_nsec + 1) % 1000000000;
                setMtime(file, before); // even a nanosecond apart
            } },
        { "rewritten in place, other size, same time",
            [&] {
                struct timespec before = mtimeOf(file);
                dir.writeFile("site/index.html", "<p>three</p>");
                setMtime(file, before);
            } },
        { "replaced by write and rename, same size and time",
            [&] {
                struct timespec before = mtimeOf(file);
                std::string other = dir.writeFile("site/.index.html.swp", *readWholeFile(file));
                setMtime(other, before);
                ASSERT_EQ(::rename(other.c_str(), file.c_str()), 0);
            } },
        { "touched", [&] { touchLater(file); } },
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        ASSERT_TRUE(store.clearArchive(file));
        ASSERT_FALSE(store.isArchiveSet(file));
        change.apply();
        EXPECT_TRUE(store.isArchiveSet(file));
    }
}

TEST(ArchiveMarkStore, MarksSurviveSaveAndLoad)
{
    TempDir dir;
    std::string storePath = dir.file("archive.marks");
    std::string kept = dir.writeFile("a b/kept file.txt", "x");
    std::string gone = dir.writeFile("gone.txt", "y");
    {
        ArchiveMarkStore store(storePath);
        store.load();
        EXPECT_TRUE(store.save()) << "nothing to write is no failure";
        EXPECT_FALSE(readWholeFile(storePath)) << "and writes nothing";
        ASSERT_TRUE(store.clearArchive(kept));
        ASSERT_TRUE(store.clearArchive(gone));
        ASSERT_TRUE(store.save());
    }
    struct stat info { };
    ASSERT_EQ(::stat(storePath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    ASSERT_EQ(::unlink(gone.c_str()), 0);
    {
        ArchiveMarkStore store(storePath);
        store.load();
        EXPECT_FALSE(store.isArchiveSet(kept));
        ASSERT_TRUE(store.clearArchive(kept));
        ASSERT_TRUE(store.save());
    }
    std::string content = *readWholeFile(storePath);
    EXPECT_NE(content.find(" " + kept + "\n"), std::string::npos);
    EXPECT_EQ(content.find(gone), std::string::npos) << "marks of deleted files are dropped";
}

TEST(ArchiveMarkStore, DamagedStoreOnlyCountsFilesAsChanged)
{
    TempDir dir;
    std::string file = dir.writeFile("f.txt", "content");
    std::string storePath = dir.file("archive.marks");
    {
        ArchiveMarkStore store(storePath);
        ASSERT_TRUE(store.clearArchive(file));
        ASSERT_TRUE(store.save());
    }
    std::string good = *readWholeFile(storePath);
    ASSERT_FALSE(good.empty());

    struct Damage {
        const char* name;
        std::string content;
        bool stillCleared;
    };
    const Damage damages[] = {
        { "intact", good, false },
        { "last line cut off", good.substr(0, good.size() - 1), true },
        { "cut inside the numbers", good.substr(0, 5), true },
        { "letters in a number", "x" + good, true },
        { "relative path", good.substr(0, good.find('/')) + "f.txt\n", true },
        { "empty", "", true },
        { "binary noise before a good line", std::string("\0\xff\n12 \n", 7) + good, false },
        { "number out of range", "99999999999999999999999 " + good.substr(good.find(' ') + 1), true },
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        dir.writeFile("archive.marks", damage.content);
        ArchiveMarkStore store(storePath);
        store.load();
        EXPECT_EQ(store.isArchiveSet(file), damage.stillCleared);
    }

    ArchiveMarkStore folderStore(dir.makeDirectory("folder.marks"));
    folderStore.load();
    EXPECT_TRUE(folderStore.isArchiveSet(file));
    ASSERT_TRUE(folderStore.clearArchive(file));
    EXPECT_FALSE(folderStore.save()) << "a folder cannot be replaced by the store";
}

// Stores written by hand or merged by other tools need not be sorted; every line counts the
// same wherever it stands, whichever order the files are asked about.
TEST(ArchiveMarkStore, LinesInAnyOrderAndQueriesInAnyOrder)
{
    TempDir dir;
    // Names whose byte order differs from the order a folder walk visits them in.
    const std::vector<std::string> files = { dir.writeFile("site/a.html", "a"), dir.writeFile("site/a/x.html", "x"),
        dir.writeFile("site/a-b.html", "ab"), dir.writeFile("site/b.html", "b") };
    std::string storePath = dir.file("archive.marks");
    {
        ArchiveMarkStore store(storePath);
        for (const std::string& file : files)
            ASSERT_TRUE(store.clearArchive(file));
        ASSERT_TRUE(store.save());
    }
    const std::string saved = *readWholeFile(storePath);
    const std::string unmarked = dir.writeFile("site/a/w.html", "w");
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = saved.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(saved.substr(start, end + 1 - start));
    ASSERT_EQ(lines.size(), files.size());
    auto lineOf = [&](const std::string& file) {
        for (const std::string& line : lines)
            if (line.ends_with(" " + file + "\n"))
                return line;
        ADD_FAILURE() << file;
        return std::string();
    };
    // The same file with a stamp it never had.
    const std::string stale = "1" + lineOf(files[2]).substr(lineOf(files[2]).find(' '));
    const std::string reversed = lines[3] + lines[2] + lines[1] + lines[0];

    struct Layout {
        const char* name;
        std::string content;
        std::vector<bool> set; // per file
    };
    const Layout layouts[] = {
        { "as saved", saved, { false, false, false, false } },
        { "reversed", reversed, { false, false, false, false } },
        { "stale line before the good one", stale + reversed, { false, false, false, false } },
        { "stale line after the good one", reversed + stale, { false, false, true, false } },
        { "stale line alone", lineOf(files[0]) + stale + lineOf(files[3]), { false, true, true, false } },
    };
    const std::vector<std::vector<size_t>> orders = { { 0, 1, 2, 3 }, { 3, 2, 1, 0 }, { 2, 0, 3, 1, 1, 2 } };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        for (const auto& order : orders) {
            dir.writeFile("archive.marks", layout.content);
            ArchiveMarkStore store(storePath);
            store.load();
            for (size_t i : order)
                EXPECT_EQ(store.isArchiveSet(files[i]), layout.set[i]) << files[i];
            EXPECT_TRUE(store.isArchiveSet(unmarked));
        }
        // Saving what was read, with the stale file cleared anew, writes the store as saved.
        if (layout.set[1])
            continue;
        ArchiveMarkStore store(storePath);
        store.load();
        ASSERT_TRUE(store.clearArchive(files[2]));
        ASSERT_TRUE(store.save());
        EXPECT_EQ(*readWholeFile(storePath), saved);
    }
}

TEST(ArchiveMarkStore, ConcurrentClearsAndQueries)
{
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 64; ++i)
        files.push_back(dir.writeFile("f" + std::to_string(i), std::to_string(i)));
    ArchiveMarkStore store(dir.file("archive.marks"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); i < files.size(); i += 4) {
                EXPECT_TRUE(store.clearArchive(files[i]));
                EXPECT_FALSE(store.isArchiveSet(files[i]));
                if (i % 16 == 0) {
                    EXPECT_TRUE(store.save());
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(store.save());
    ArchiveMarkStore reloaded(dir.file("archive.marks"));
    reloaded.load();
    for (const std::string& file : files)
        EXPECT_FALSE(reloaded.isArchiveSet(file)) << file;
}

TEST(ArchiveMarkStore, StoresSharedByTwoRunsKeepBothRunsMarks)
{
    TempDir dir;
    std::string storePath = dir.file("archive.marks");
    std::vector<std::string> first;
    std::vector<std::string> second;
    for (int i = 0; i < 100; ++i) {
        first.push_back(dir.writeFile("one/f" + std::to_string(i), "1"));
        second.push_back(dir.writeFile("two/f" + std::to_string(i), "2"));
    }
    {
        // Two projects loaded the store before either saved: the later save keeps the
        // earlier one's marks.
        ArchiveMarkStore a(storePath);
        ArchiveMarkStore b(storePath);
        a.load();
        b.load();
        ASSERT_TRUE(a.clearArchive(first[0]));
        ASSERT_TRUE(b.clearArchive(second[0]));
        ASSERT_TRUE(a.save());
        ASSERT_TRUE(b.save());
        ArchiveMarkStore reloaded(storePath);
        reloaded.load();
        EXPECT_FALSE(reloaded.isArchiveSet(first[0]));
        EXPECT_FALSE(reloaded.isArchiveSet(second[0]));
    }
    // Two runs saving at the same time, each after every few files.
    ArchiveMarkStore a(storePath);
    ArchiveMarkStore b(storePath);
    a.load();
    b.load();
    auto run = [](ArchiveMarkStore& store, const std::vector<std::string>& files) {
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_TRUE(store.clearArchive(files[i]));
            if (i % 5 == 4) {
                EXPECT_TRUE(store.save());
            }
        }
        EXPECT_TRUE(store.save());
    };
    std::thread one([&] { run(a, first); });
    std::thread two([&] { run(b, second); });
    one.join();
    two.join();
    ArchiveMarkStore reloaded(storePath);
    reloaded.load();
    for (const auto* files : { &first, &second }) {
        for (const std::string& file : *files)
            EXPECT_FALSE(reloaded.isArchiveSet(file)) << file;
    }
    // A newer mark saved by the other store is not undone by this one's older copy of it.
    touchLater(first[1]);
    ASSERT_TRUE(b.clearArchive(first[1]));
    ASSERT_TRUE(b.save());
    ASSERT_TRUE(a.clearArchive(first[2]));
    ASSERT_TRUE(a.save());
    reloaded.load();
    EXPECT_FALSE(reloaded.isArchiveSet(first[1]));
}

TEST(ArchiveMarkStore, LineFeedInAPathIsKeptOutOfTheStore)
{
    TempDir dir;
    std::string odd = dir.writeFile("two\nlines", "x");
    std::string plain = dir.writeFile("plain", "y");
    ArchiveMarkStore store(dir.file("archive.marks"));
    ASSERT_TRUE(store.clearArchive(odd));
    ASSERT_TRUE(store.clearArchive(plain));
    EXPECT_FALSE(store.isArchiveSet(odd));
    ASSERT_TRUE(store.save());
    ArchiveMarkStore reloaded(dir.file("archive.marks"));
    reloaded.load();
    EXPECT_TRUE(reloaded.isArchiveSet(odd));
    EXPECT_FALSE(reloaded.isArchiveSet(plain));
}

} // namespace
