// Measures the FTP client against a running server; bench/transfer_bench.sh starts the
// server and runs the reference clients beside it.
//
//   transfer_bench upload   URL USER PASSWORD LOCAL-FILE REMOTE-NAME
//   transfer_bench download URL USER PASSWORD REMOTE-NAME LOCAL-FILE
//   transfer_bench files    URL USER PASSWORD LOCAL-FOLDER REMOTE-FOLDER CHECK-SIZE(0|1)
#include "ftp/ftp_client.h"
#include "platform/file_utils.h"
#include "script/interpreter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage()
{
    std::fprintf(stderr,
        "usage: transfer_bench upload|download URL USER PASSWORD FROM TO\n"
        "       transfer_bench files URL USER PASSWORD LOCAL-FOLDER REMOTE-FOLDER CHECK-SIZE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7)
        return usage();
    std::string mode = argv[1];
    MachineOptions options;
    options.checkFileSize = mode == "files" && argc > 7 && std::atoi(argv[7]) != 0;
    FtpClient client(options);
    if (!client.connect(argv[2], argv[3], argv[4])) {
        std::fprintf(stderr, "cannot log in to %s\n", argv[2]);
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    if (mode == "upload" || mode == "download") {
        int result = mode == "upload" ? client.upload(argv[6], argv[5]).code : client.download(argv[5], argv[6]).code;
        double seconds = secondsSince(start);
        int64_t bytes = fileSize(client.localPath(mode == "upload" ? argv[5] : argv[6]));
        std::printf("tarnwick %s: %lld bytes in %.3f s = %.0f MB/s (reply %d)\n", mode.c_str(),
            static_cast<long long>(bytes), seconds, static_cast<double>(bytes) / seconds / 1e6, result);
        return result == 226 ? 0 : 1;
    }
    if (mode != "files")
        return usage();

    std::string folder = argv[5];
    std::string remote = argv[6];
    std::vector<std::string> names;
    if (DIR* directory = opendir(folder.c_str())) {
        while (dirent* entry = readdir(directory)) {
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    // The lines the upload run queues: one folder line, then one put per changed file.
    int failed = 0;
    (void)runScriptLine(client, "mkdir " + remote);
    for (const std::string& name : names) {
        if (runScriptLine(client, "put \"" + folder + "/" + name + "\" \"" + remote + "/" + name + "\"") != 226)
            ++failed;
    }
    double seconds = secondsSince(start);
    std::printf("tarnwick files (CheckFileSize %s): %zu files in %.3f s = %.0f files/s, %d failed\n",
        options.checkFileSize ? "on" : "off", names.size(), seconds, static_cast<double>(names.size()) / seconds,
        failed);
    client.quit();
    return failed == 0 ? 0 : 1;
}
