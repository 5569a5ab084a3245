// Scale check of change detection: a generated tree of 100,000 files in 1,000 folders with
// a complete file list (nothing changed), measured against find(1) on the same warm tree.
// The content strategy is measured twice: with nothing changed, and with every file touched
// (new times, same bytes), where each file is read and hashed, beside xxhsum over the same
// files.
//
//   detection_bench [FOLDERS FILES_PER_FOLDER]   generate, measure, remove the tree
//   detection_bench --memory TREE                (internal) one detection in a fresh process
#include "engine/web_project.h"
#include "platform/archive_mark_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kRepetitions = 5;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long maxRssKilobytes()
{
    struct rusage usage { };
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool generateTree(const std::string& root, int folders, int filesPerFolder)
{
    std::string content(200, 'x');
    if (::mkdir(root.c_str(), 0755) != 0)
        return false;
    for (int d = 0; d < folders; ++d) {
        char folder[64];
        std::snprintf(folder, sizeof folder, "/section%04d", d);
        std::string folderPath = root + folder;
        if (::mkdir(folderPath.c_str(), 0755) != 0)
            return false;
        for (int f = 0; f < filesPerFolder; ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "/page%05d.html", f);
            std::string path = folderPath + name;
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                return false;
            bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
            ::close(fd);
            if (!ok)
                return false;
        }
    }
    return true;
}

// Runs a program with its standard output on /dev/null and returns its wall time.
double timeProgram(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    Clock::time_point start = Clock::now();
    pid_t child = 0;
    int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return secondsSince(start);
}

void configure(WebProject& project, const std::string& base)
{
    project.local = base + "/web";
    project.projectPath = base + "/site.ftp";
    project.filelist = project.projectPath + ".txt";
    project.strategy = 2;
    project.machineOptions = nullptr; // defaults: author metadata on, read for changed files only
    project.forbiddenDirectories = { "*_vti_cnf", "*/.git" };
    project.forbiddenFiles = { "*.bak", "*~" };
}

int measureMemory(const std::string& base)
{
    WebProject project;
    configure(project, base);
    long before = maxRssKilobytes();
    project.ReadFileList();
    project.DetectChanges();
    long after = maxRssKilobytes();
    std::printf("%ld %ld %zu\n", before, after, project.pendingCommands.size());
    return 0;
}

// Gives every file below `root` the time `seconds`: written again by a build, same bytes.
size_t touchTree(const std::string& root, int64_t seconds)
{
    size_t touched = 0;
    const struct timespec times[2] { { static_cast<time_t>(seconds), 0 }, { static_cast<time_t>(seconds), 0 } };
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file() && ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0) == 0)
            ++touched;
    return touched;
}

// The content strategy: nothing changed, then every file touched. Answers false when a
// detection queued anything (nothing's bytes changed).
bool measureContentStrategy(const std::string& base, double findMedian)
{
    // Answers what the detection queued.
    const auto detect = [&base](std::vector<double>& times, bool record) {
        WebProject project;
        configure(project, base);
        project.strategy = ProjectSettings::kContentStrategy;
        const Clock::time_point start = Clock::now();
        project.ReadFileList();
        project.DetectChanges();
        times.push_back(secondsSince(start));
        if (record)
            (void)project.WriteFileList();
        return project.pendingCommands.size();
    };
    // The first detection under the strategy learns the digests of the list.
    std::vector<double> learning, unchanged, touched;
    size_t queued = detect(learning, true);
    for (int i = 0; i < kRepetitions; ++i)
        queued += detect(unchanged, false);
    const size_t files = touchTree(base + "/web", 1'300'000'000);
    // The list is not rewritten, so every repetition reads and hashes every file again.
    for (int i = 0; i < kRepetitions; ++i)
        queued += detect(touched, false);
    int64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base + "/web"))
        bytes += entry.is_regular_file() ? static_cast<int64_t>(entry.file_size()) : 0;
    const std::string hashAll = "find '" + base + "/web' -type f -print0 | xargs -0 xxhsum -H2";
    std::vector<double> xxhsumTimes;
    const bool haveXxhsum = std::system("command -v xxhsum >/dev/null") == 0;
    for (int i = 0; haveXxhsum && i < kRepetitions; ++i)
        xxhsumTimes.push_back(timeProgram({ "sh", "-c", hashAll }));
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("content strategy, digests learnt:    %.3f s\n", learning.front());
    std::printf("content strategy, nothing changed:   %.3f s  (%.2fx find, target <= 1.2x)\n", median(unchanged),
        median(unchanged) / findMedian);
    std::printf("content strategy, %zu touched:    %.3f s  (%.1f MB, %.1f MB/s, %.0f files/s)\n", files,
        median(touched), megabytes, megabytes / median(touched), static_cast<double>(files) / median(touched));
    if (haveXxhsum)
        std::printf("find | xargs xxhsum -H2, same files: %.3f s  (%.1f MB/s)\n", median(xxhsumTimes),
            megabytes / median(xxhsumTimes));
    else
        std::printf("xxhsum is not installed (Debian package xxhash): no comparison\n");
    if (queued != 0)
        std::printf("content strategy: %zu lines queued (expected 0)\n", queued);
    return queued == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--memory")
        return measureMemory(argv[2]);
    int folders = argc >= 3 ? std::atoi(argv[1]) : 1000;
    int filesPerFolder = argc >= 3 ? std::atoi(argv[2]) : 100;

    std::string pattern = std::filesystem::temp_directory_path().string() + "/tarnwick-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string base = pattern;
    const std::string tree = base + "/web";
    std::printf("tree: %s, %d folders x %d files\n", tree.c_str(), folders, filesPerFolder);
    Clock::time_point generation = Clock::now();
    if (!generateTree(tree, folders, filesPerFolder)) {
        std::perror("generating the tree");
        std::filesystem::remove_all(base);
        return 1;
    }
    std::printf("generated in %.2f s\n", secondsSince(generation));

    // A complete file list: one detection, everything recorded as uploaded.
    {
        WebProject project;
        configure(project, base);
        project.DetectChanges();
        for (FileItem& item : project.items)
            item.changed = false;
        project.WriteFileList();
    }

    std::vector<std::string> find = { "find", tree, "-type", "f", "-printf", "%T@ %s %p\\n" };
    timeProgram(find); // warm the cache for both
    std::vector<double> findTimes, detectTimes, detectOnlyTimes, writeReadTimes;
    size_t queued = 0, items = 0;
    for (int i = 0; i < kRepetitions; ++i) {
        findTimes.push_back(timeProgram(find));

        WebProject project;
        configure(project, base);
        Clock::time_point start = Clock::now();
        project.ReadFileList();
        Clock::time_point scanStart = Clock::now();
        project.DetectChanges();
        detectOnlyTimes.push_back(secondsSince(scanStart));
        detectTimes.push_back(secondsSince(start));
        queued = project.pendingCommands.size();
        items = project.items.size();

        start = Clock::now();
        project.WriteFileList();
        project.ReadFileList();
        writeReadTimes.push_back(secondsSince(start));
    }

    // The archive-mark strategy: every mark cleared once, as after a complete upload; each run
    // loads the store the way a windowless run does.
    std::vector<double> markTimes;
    {
        const std::string marks = base + "/archive.marks";
        {
            ArchiveMarkStore store(marks);
            store.load();
            WebProject project;
            configure(project, base);
            project.ReadFileList();
            project.DetectChanges();
            for (const FileItem& item : project.items)
                (void)store.clearArchive(item.path);
            (void)store.save();
        }
        for (int i = 0; i < kRepetitions; ++i) {
            Clock::time_point start = Clock::now();
            ArchiveMarkStore store(marks);
            store.load();
            WebProject project;
            configure(project, base);
            project.strategy = 1;
            project.fileAttributes = &store;
            project.ReadFileList();
            project.DetectChanges();
            markTimes.push_back(secondsSince(start));
            if (!project.pendingCommands.empty())
                std::printf("archive marks: %zu lines queued (expected 0)\n", project.pendingCommands.size());
        }
    }

    std::string self = argv[0];
    std::string memoryOutput = base + "/memory.txt";
    std::string command = "'" + self + "' --memory '" + base + "' > '" + memoryOutput + "'";
    long before = 0, after = 0;
    if (std::system(command.c_str()) == 0) {
        if (FILE* file = std::fopen(memoryOutput.c_str(), "r")) {
            if (std::fscanf(file, "%ld %ld", &before, &after) != 2)
                before = after = 0;
            std::fclose(file);
        }
    }

    double findMedian = median(findTimes);
    double detectMedian = median(detectTimes);
    std::printf("items %zu, queued lines %zu (expected 0)\n", items, queued);
    std::printf("find -printf (median of %d):        %.3f s\n", kRepetitions, findMedian);
    std::printf("ReadFileList + DetectChanges:        %.3f s  (%.2fx find, target <= 1.2x)\n", detectMedian,
        detectMedian / findMedian);
    std::printf("DetectChanges alone:                 %.3f s  (%.2fx find)\n", median(detectOnlyTimes),
        median(detectOnlyTimes) / findMedian);
    std::printf("archive marks: load + detection:     %.3f s  (%.2fx find, target <= 1.5x)\n", median(markTimes),
        median(markTimes) / findMedian);
    std::printf("WriteFileList + ReadFileList:        %.3f s  (target < 0.3 s)\n", median(writeReadTimes));
    std::printf("peak memory of a detection:          %.1f MB max RSS, %.1f MB above start (target < 100 MB)\n",
        after / 1024.0, (after - before) / 1024.0);

    const bool contentQueuedNothing = measureContentStrategy(base, findMedian);

    std::error_code error;
    std::filesystem::remove_all(base, error);
    return queued == 0 && contentQueuedNothing ? 0 : 2;
}
