#include "session/login_path.h"

#include <vector>

std::optional<std::string> loginRelativePath(std::string_view current, std::string_view path)
{
    if (path.find('\0') != std::string_view::npos || current.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> steps;
    const auto walk = [&steps](std::string_view text) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('/', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view step = text.substr(start, end - start);
            if (step == "..") {
                if (!steps.empty())
                    steps.pop_back();
            } else if (!step.empty() && step != ".") {
                steps.push_back(step);
            }
            start = end + 1;
        }
    };
    if (!path.starts_with('/'))
        walk(current);
    walk(path);
    std::string normal;
    for (std::string_view step : steps) {
        normal += '/';
        normal += step;
    }
    return normal.empty() ? std::string("/") : normal;
}

std::string serverPathOf(std::string_view loginFolder, std::string_view relative)
{
    while (loginFolder.size() > 1 && loginFolder.back() == '/')
        loginFolder.remove_suffix(1);
    if (relative == "/" || relative.empty())
        return std::string(loginFolder.empty() ? "/" : loginFolder);
    if (loginFolder == "/" || loginFolder.empty())
        return std::string(relative);
    return std::string(loginFolder) + std::string(relative);
}

bool hasParentStep(std::string_view path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}
