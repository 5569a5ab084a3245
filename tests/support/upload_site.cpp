#include "support/upload_site.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

std::vector<std::string> generateSite(const TestTree& tree, int count, unsigned seed)
{
    std::mt19937 random(seed);
    static const char* const kExtensions[] = { ".html", ".css", ".png", ".js", ".txt" };
    std::vector<std::string> paths;
    for (int index = 0; index < count; ++index) {
        std::string folder;
        switch (index % 4) {
        case 0: break;
        case 1: folder = "section" + std::to_string(index % 7) + "/"; break;
        case 2: folder = "section" + std::to_string(index % 5) + "/part" + std::to_string(index % 3) + "/"; break;
        default: folder = "deep/level" + std::to_string(index % 2) + "/leaf" + std::to_string(index % 4) + "/"; break;
        }
        std::string relative = folder + "file" + std::to_string(index) + kExtensions[index % 5];
        size_t size = index % 17 == 0 ? 0 : (index % 23 == 0 ? 200000 : random() % 3000);
        std::string content(size, '\0');
        for (char& byte : content)
            byte = static_cast<char>(random() & 0xff);
        tree.add(relative, content, TestTree::kDefaultTime + index);
        paths.push_back(relative);
    }
    return paths;
}

std::vector<std::string> listFiles(const std::string& root)
{
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_regular_file())
            files.push_back(fs::relative(it->path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> compareTrees(
    const std::string& expected, const std::string& actual, const std::vector<std::string>& ignoreTopLevel)
{
    const auto ignored = [&](const std::string& relative) {
        std::string top = relative.substr(0, relative.find('/'));
        return std::find(ignoreTopLevel.begin(), ignoreTopLevel.end(), top) != ignoreTopLevel.end();
    };
    std::vector<std::string> want = listFiles(expected);
    std::vector<std::string> have = listFiles(actual);
    std::erase_if(want, ignored);
    std::erase_if(have, ignored);
    std::vector<std::string> differences;
    for (const std::string& file : want) {
        if (!std::binary_search(have.begin(), have.end(), file))
            differences.push_back("missing " + file);
        else if (readText(expected + "/" + file) != readText(actual + "/" + file))
            differences.push_back("differs " + file);
    }
    for (const std::string& file : have) {
        if (!std::binary_search(want.begin(), want.end(), file))
            differences.push_back("extra " + file);
    }
    return differences;
}

std::map<std::string, int64_t> readFileListFile(const std::string& path)
{
    std::map<std::string, int64_t> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t equals = line.rfind('=');
        if (equals != std::string::npos)
            entries.emplace(line.substr(0, equals), std::stoll(line.substr(equals + 1)));
    }
    return entries;
}
