#pragma once

#include "engine/site_compare.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

class Application;

// "--compare NAME" and "--repair NAME" (or "-all"): each site of each chosen project against
// its local folder. The compare lists per site what is missing on the server, differs in
// size, is only on the server or was left over by a stopped upload, and answers 0 when every
// site is in step. The repair takes the project's lock as a run does, prints one line per
// step and a summary per site, and answers 0 when every site is in step afterwards; a rate
// cap given replaces the sites' own for its uploads.
[[nodiscard]] int runSiteCheck(Application& application, const std::string& argument, CompareMode mode, std::FILE* out,
    std::FILE* err, std::optional<int64_t> uploadRateLimit = std::nullopt);

// "missing on the server: /www/a.html" and the like.
[[nodiscard]] std::string differenceLine(const FullCompare::Difference& difference);
