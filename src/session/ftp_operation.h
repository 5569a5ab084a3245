#pragma once

#include <cstdint>
#include <string>

// One step of a batch for RemoteSession::runOperations (the FTP browser and the progress dialog
// prepare these).
struct FtpOperation {
    enum class Kind : int32_t {
        ChangeDirectory = 1, // name1
        MakeAndChangeDirectory = 2, // name1
        Download = 3, // remote name2 to local name1
        Upload = 4, // local name1 to remote name2, expected size
        DeleteFile = 5, // name1
        MakeLocalDirectory = 6, // name1
        ChangeLocalDirectory = 7, // name1
        RemoveDirectory = 8, // name1
    };

    Kind kind = Kind::ChangeDirectory;
    std::string name1;
    std::string name2;
    int64_t size = -1;
};
