// The file list reader on arbitrary bytes: no crash, and whatever it reads, the writer
// writes back so that a second read gives the same map.
#include "engine/web_project.h"
#include "fuzz_temp_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WebProject project;
    project.filelist = writeFuzzFile("site.ftp.txt", data, size);
    project.ReadFileList();
    std::map<std::string, RecordedFile> first = project.timeMap;
    for (const auto& [path, record] : first) {
        FileItem item;
        item.path = path;
        item.mtime = record.seconds;
        item.mtimeNanoseconds = record.nanoseconds < 0 ? 0 : record.nanoseconds;
        item.size = record.size < 0 ? 0 : record.size;
        project.items.push_back(item);
        // What the writer adds for a line that lacked them.
        project.timeMap[path] = RecordedFile(item.mtime, item.mtimeNanoseconds, item.size);
    }
    first = project.timeMap;
    project.timeMap.clear();
    project.WriteFileList();
    project.ReadFileList();
    if (project.timeMap != first)
        std::abort();
    return 0;
}
