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
    std::map<std::string, int64_t> first = project.timeMap;
    for (const auto& [path, time] : first) {
        FileItem item;
        item.path = path;
        item.mtime = time;
        project.items.push_back(item);
    }
    project.WriteFileList();
    project.ReadFileList();
    if (project.timeMap != first)
        std::abort();
    return 0;
}
