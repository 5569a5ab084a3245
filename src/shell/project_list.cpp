#include "shell/project_list.h"

#include "engine/web_project.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <sys/stat.h>

namespace {

bool lessByName(const std::string& a, const std::string& b)
{
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    const bool less = std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
    const bool greater = std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(), [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
    return less || (!greater && a < b);
}

} // namespace

ProjectList::~ProjectList() = default;

void ProjectList::clear()
{
    entries_.clear();
}

WebProject* ProjectList::at(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return entries_[static_cast<size_t>(index)].project.get();
}

const std::string& ProjectList::nameAt(int index) const
{
    static const std::string none;
    if (index < 0 || index >= count())
        return none;
    return entries_[static_cast<size_t>(index)].name;
}

std::vector<std::string> ProjectList::names() const
{
    std::vector<std::string> result;
    for (const Entry& entry : entries_)
        result.push_back(entry.name);
    return result;
}

int ProjectList::load(const std::string& dataDirectory, const MachineOptions* options, FileAttributes* attributes)
{
    clear();
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(dataDirectory.c_str()), &::closedir);
    if (!folder)
        return -1;
    std::string lastName;
    while (const dirent* entry = ::readdir(folder.get())) {
        std::string name = entry->d_name;
        if (name.size() <= 4 || !name.ends_with(".ftp"))
            continue;
        std::string path = dataDirectory + name;
        struct stat info { };
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        auto project = std::make_unique<WebProject>();
        project->LoadProject(path);
        project->machineOptions = options;
        project->fileAttributes = attributes;
        project->dataDirectory = dataDirectory;
        auto position = std::upper_bound(entries_.begin(), entries_.end(), name,
            [](const std::string& value, const Entry& element) { return lessByName(value, element.name); });
        entries_.insert(position, Entry { name, std::move(project) });
        lastName = name;
    }
    for (int index = 0; index < count(); ++index) {
        if (entries_[static_cast<size_t>(index)].name == lastName)
            return index;
    }
    return -1;
}
