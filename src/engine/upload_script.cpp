#include "engine/upload_script.h"

#include "session/server_text.h"

UploadScript::UploadScript(const std::string& folder, int sitePosition)
    : path_(pathFor(folder, sitePosition))
{
    // Without a folder the name would point at the file system root.
    if (!folder.empty())
        file_.reset(std::fopen(path_.c_str(), "we"));
}

UploadScript::~UploadScript()
{
    finish();
}

std::string UploadScript::pathFor(const std::string& folder, int sitePosition)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + "up_" + std::to_string(sitePosition) + ".txt";
}

void UploadScript::writeLine(const std::string& line)
{
    if (!file_)
        return;
    // A file name may hold a line break; written as it stands, the rest of the name would
    // read as a command line of its own.
    const std::string printable = printableServerText(line);
    std::fwrite(printable.data(), 1, printable.size(), file_.get());
    std::fputc('\n', file_.get());
}

void UploadScript::finish()
{
    if (!file_)
        return;
    std::fputs("quit\n", file_.get());
    file_.reset();
}
