#include "ftp/ftp_client.h"
#include "ftp/reply_reader.h"
#include "platform/file_utils.h"

#include <algorithm>
#include <cctype>

ClientResult FtpClient::changeDirectory(const std::string& path)
{
    return outcome(nameCommand("CWD %s", path));
}

ClientResult FtpClient::makeDirectory(const std::string& path)
{
    int result = nameCommand("MKD %s", path);
    // 550 on most servers, 501 on some, for a parent that does not exist.
    if (result != 550 && result != 501)
        return outcome(result);
    // Missing parents: create each level from the top, then the whole path once more.
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (slash > 0)
            (void)command("MKD %s", path.substr(0, slash).c_str());
    }
    return outcome(nameCommand("MKD %s", path));
}

ClientResult FtpClient::removeDirectory(const std::string& path)
{
    return outcome(nameCommand("RMD %s", path));
}

ClientResult FtpClient::rename(const std::string& oldName, const std::string& newName)
{
    const int code = nameCommand("RNFR %s", oldName);
    return outcome(code == 350 ? nameCommand("RNTO %s", newName) : code);
}

std::string FtpClient::currentDirectory()
{
    std::string reply = sendRaw("PWD\r\n");
    if (replyCode(reply) != 257)
        return {};
    size_t open = reply.find('"');
    if (open == std::string::npos)
        return {};
    // A quote inside the path comes doubled.
    std::string path;
    for (size_t i = open + 1; i < reply.size(); ++i) {
        if (reply[i] != '"') {
            path += reply[i];
            continue;
        }
        if (i + 1 < reply.size() && reply[i + 1] == '"') {
            path += '"';
            ++i;
            continue;
        }
        return path;
    }
    return {};
}

ClientResult FtpClient::deleteFile(const std::string& path)
{
    return outcome(nameCommand("dele %s", path));
}

void FtpClient::ensureBinaryType()
{
    if (typeInEffect_ != 'I') {
        bool confirmed = command("TYPE I") / 100 == 2;
        typeInEffect_ = confirmed ? 'I' : 0;
    }
}

bool FtpClient::isRemoteFile(const std::string& path)
{
    if (path.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return false;
    if (features_.mlst) {
        // The facts stand on a line of their own inside the reply, not on its last line.
        (void)sendRaw("MLST " + path + "\r\n", ReplyWait::DontWait);
        if (state_ == State::Disconnected)
            return false;
        std::vector<std::string> lines;
        if (replyCode(readReply(&lines)) / 100 != 2)
            return false;
        return std::any_of(lines.begin(), lines.end(), [](std::string line) {
            for (char& c : line)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return line.find("type=file;") != std::string::npos;
        });
    }
    // Servers answer SIZE for regular files only; a folder gets 550.
    ensureBinaryType();
    return nameCommand("SIZE %s", path) == 213;
}

std::optional<bool> FtpClient::remoteFileExists(const std::string& path)
{
    if (features_.mlst) {
        int code = nameCommand("MLST %s", path);
        if (code / 100 == 2)
            return true;
        if (code == 550)
            return false;
    }
    if (features_.size) {
        // Some servers refuse SIZE in ASCII type with 550; that must not read as "missing".
        ensureBinaryType();
        int code = nameCommand("SIZE %s", path);
        if (code == 213)
            return true;
        if (code == 550 && typeInEffect_ == 'I')
            return false;
    }
    // The folder's listing settles it, when the folder can be listed at all.
    std::string folder = directoryPart(path);
    std::string name = fileNamePart(path);
    if (!list(folder.empty() ? std::string("/") : folder).ok())
        return std::nullopt;
    for (const RemoteEntry& entry : entriesFromList())
        if (entry.fileName == name)
            return true;
    return false;
}
