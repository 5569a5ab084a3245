#include "ftp/ftp_client.h"

#include <sys/stat.h>

int FtpClient::runOperations(const std::vector<FtpOperation>& operations)
{
    using Kind = FtpOperation::Kind;
    for (const FtpOperation& operation : operations) {
        // Between steps only: a transfer under way is never cut short.
        if (sink_->shouldStop())
            break;
        switch (operation.kind) {
        case Kind::ChangeDirectory: (void)changeDirectory(operation.name1); break;
        case Kind::MakeAndChangeDirectory:
            (void)makeDirectory(operation.name1);
            (void)changeDirectory(operation.name1);
            break;
        case Kind::Download: (void)download(operation.name2, operation.name1, TransferMode::Image); break;
        case Kind::Upload:
            (void)uploadWithRetry(operation.name2, operation.name1, TransferMode::Image, operation.size);
            break;
        case Kind::DeleteFile: (void)deleteFile(operation.name1); break;
        case Kind::MakeLocalDirectory:
            if (!operation.name1.empty() && operation.name1.find('\0') == std::string::npos)
                (void)mkdir(localPath(operation.name1).c_str(), 0755);
            break;
        case Kind::ChangeLocalDirectory: (void)setLocalDirectory(operation.name1); break;
        case Kind::RemoveDirectory: (void)removeDirectory(operation.name1); break;
        }
    }
    return 0;
}
