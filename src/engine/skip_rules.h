#pragma once

#include <string>
#include <string_view>
#include <vector>

// Folder rule: the server path is tested case-sensitively against each pattern.
[[nodiscard]] bool isForbiddenDirectory(std::string_view serverDir, const std::vector<std::string>& patterns);
// File rule: the bare file name and each pattern are compared with A-Z folded to a-z.
[[nodiscard]] bool isForbiddenFile(std::string_view fileName, const std::vector<std::string>& patterns);
