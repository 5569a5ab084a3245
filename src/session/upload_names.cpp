#include "session/upload_names.h"

namespace {

constexpr std::string_view kPartSuffix = ".tarnwick-part";
constexpr std::string_view kOldSuffix = ".tarnwick-old";

std::string besideLive(std::string_view remotePath, std::string_view suffix)
{
    size_t slash = remotePath.rfind('/');
    size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string name(remotePath.substr(0, nameStart));
    name += '.';
    name += remotePath.substr(nameStart);
    name += suffix;
    return name;
}

std::string_view lastPart(std::string_view path)
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The length of the suffix `name` carries as a leftover of a non-empty live name, or 0.
size_t leftoverSuffix(std::string_view name)
{
    for (std::string_view suffix : { kPartSuffix, kOldSuffix }) {
        if (name.size() > suffix.size() + 1 && name.front() == '.' && name.ends_with(suffix))
            return suffix.size();
    }
    return 0;
}

} // namespace

std::string uploadPartName(std::string_view remotePath)
{
    return besideLive(remotePath, kPartSuffix);
}

std::string uploadOldName(std::string_view remotePath)
{
    return besideLive(remotePath, kOldSuffix);
}

bool isUploadLeftover(std::string_view path)
{
    return leftoverSuffix(lastPart(path)) != 0;
}

bool isReplacedFileLeftover(std::string_view path)
{
    std::string_view name = lastPart(path);
    return leftoverSuffix(name) == kOldSuffix.size() && name.ends_with(kOldSuffix);
}

std::string leftoverLiveName(std::string_view path)
{
    std::string_view name = lastPart(path);
    size_t suffix = leftoverSuffix(name);
    if (suffix == 0)
        return {};
    std::string live(path.substr(0, path.size() - name.size()));
    live += name.substr(1, name.size() - 1 - suffix);
    return live;
}
