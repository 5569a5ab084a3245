#include "ftp/ftp_client.h"
#include "ftp/next_token.h"
#include "ftp/reply_reader.h"

int FtpClient::changeDirectory(std::string_view argument)
{
    size_t position = 0;
    std::string directory = nextToken(argument, position);
    // A listed link ("name -> target") is entered by its target.
    size_t arrow = directory.find("->");
    if (arrow != std::string::npos)
        directory = arrow + 3 <= directory.size() ? directory.substr(arrow + 3) : std::string();
    return nameCommand("CWD %s", directory);
}

int FtpClient::makeDirectory(std::string_view argument)
{
    size_t position = 0;
    std::string path = nextToken(argument, position);
    int result = nameCommand("MKD %s", path);
    if (result != 550)
        return result;
    // Missing parents: create each level from the top, then the whole path once more.
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (slash > 0)
            (void)command("MKD %s", path.substr(0, slash).c_str());
    }
    return nameCommand("MKD %s", path);
}

int FtpClient::removeDirectory(const std::string& name)
{
    (void)nameCommand("RMD %s", name);
    return 0;
}

void FtpClient::rename(const std::string& oldName, const std::string& newName)
{
    if (nameCommand("RNFR %s", oldName) == 350)
        (void)nameCommand("RNTO %s", newName);
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

int FtpClient::deleteFile(const std::string& remoteName)
{
    return nameCommand("dele %s", remoteName);
}
