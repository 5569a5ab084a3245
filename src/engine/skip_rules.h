#pragma once

#include <string>
#include <string_view>
#include <vector>

// Folder rule: the server path is tested case-sensitively against each pattern.
[[nodiscard]] bool isForbiddenDirectory(std::string_view serverDir, const std::vector<std::string>& patterns);
// File rule: the bare file name and each pattern are compared with A-Z folded to a-z.
[[nodiscard]] bool isForbiddenFile(std::string_view fileName, const std::vector<std::string>& patterns);
// The file rule for loops over many files: the patterns are lowered once with
// lowerFilePatterns and only the name is lowered per call.
[[nodiscard]] std::vector<std::string> lowerFilePatterns(const std::vector<std::string>& patterns);
[[nodiscard]] bool isForbiddenFileLowered(std::string_view fileName, const std::vector<std::string>& loweredPatterns);
