#pragma once

#include <memory>
#include <string>
#include <vector>

class FileAttributes;
struct MachineOptions;
class WebProject;

// The loaded web projects, one per "*.ftp" file of the data directory, kept sorted by file
// name (letter case ignored) as the main window's list shows them. Owns the projects.
class ProjectList {
public:
    ProjectList() = default;
    ~ProjectList();
    ProjectList(const ProjectList&) = delete;
    ProjectList& operator=(const ProjectList&) = delete;

    // Replaces the list with the projects of `dataDirectory` ("/"-terminated). The
    // collaborators are handed to every project and must outlive it. Answers the index of
    // the project loaded last (in directory order), or -1 when there is none.
    int load(const std::string& dataDirectory, const MachineOptions* options, FileAttributes* attributes);
    void clear();

    [[nodiscard]] int count() const { return static_cast<int>(entries_.size()); }
    [[nodiscard]] WebProject* at(int index) const;
    // "name.ftp"
    [[nodiscard]] const std::string& nameAt(int index) const;
    [[nodiscard]] std::vector<std::string> names() const;

private:
    struct Entry {
        std::string name;
        std::unique_ptr<WebProject> project;
    };
    std::vector<Entry> entries_;
};
