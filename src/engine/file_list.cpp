#include "engine/web_project.h"

#include "platform/file_utils.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace {

// The time after the last "=": optional blanks, an optional "-", then digits up to the
// first other byte. A line whose time overflows 64 bits cannot come from the writer and
// is dropped.
std::optional<int64_t> parseTime(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (negative)
        ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace

std::string WebProject::fileListPath() const
{
    if (!projectPath.empty())
        return projectPath + ".txt";
    return filelist;
}

void WebProject::ReadFileList()
{
    timeMap.clear();
    std::string path = filelist.empty() ? fileListPath() : filelist;
    std::optional<std::string> content = path.empty() ? std::nullopt : readWholeFile(path);
    if (!content) {
        std::printf("Error opening %s\n", path.c_str());
        return;
    }
    std::string_view rest = *content;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // The time holds no "=", a path may: split at the last one.
        size_t equals = line.rfind('=');
        if (equals == std::string_view::npos)
            continue;
        std::optional<int64_t> time = parseTime(line.substr(equals + 1));
        if (!time)
            continue;
        // The first line for a path wins.
        timeMap.emplace(std::string(line.substr(0, equals)), *time);
    }
}

void WebProject::WriteFileList()
{
    if (filelist.empty() || cancelRequested)
        return;
    filelist = fileListPath();
    std::string content;
    for (const FileItem& item : items) {
        // A line break in a name would make the rest of the line read back as another path;
        // leaving the file out only means it is sent again next time.
        if (item.changed || item.failed || item.deleted || item.path.find('\n') != std::string::npos)
            continue;
        content += item.path;
        content += '=';
        content += std::to_string(item.mtime);
        content += '\n';
    }
    if (!writeFileAtomically(filelist, content))
        std::printf("Error opening %s\n", filelist.c_str());
}
