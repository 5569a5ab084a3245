#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The command lines the upload engine queues for the script interpreter. Paths are inserted
// as they are: the token rule knows no escapes, so a path holding a double quote cannot be
// expressed (the scan refuses to queue such files).

// "mkdir " + serverDir, or "cd /" for the root with an empty server path.
[[nodiscard]] std::string enterFolderLine(std::string_view serverDir);
// put "<localPath>" "<serverPath>"
[[nodiscard]] std::string putLine(std::string_view localPath, std::string_view serverPath);
// "dele " + folder + "/" + fileName
[[nodiscard]] std::string deleteLine(std::string_view serverFolder, std::string_view fileName);

// The name an archived previous version gets: "<serverDir>_<fileName>" with every "/" and
// "\" turned into "_", and the stamp DDMMYYhhmm of `localTime` before the last dot. A name
// without a dot gets no stamp, so its next archive replaces it.
[[nodiscard]] std::string archiveName(
    std::string_view fileName, std::string_view serverDir, const struct tm& localTime);
// mv "[/startDir]<serverDir>/<fileName>" "<archiveDir>/<archiveName>"
[[nodiscard]] std::string archiveMoveLine(std::string_view startDir, std::string_view serverDir,
    std::string_view fileName, std::string_view archiveDir, std::string_view archiveName);

// The line to execute at a site with start directory `startDir`: put, cd and mkdir lines
// (exact, case-sensitive command words) get "/" + startDir before their server path; every
// other line, and every line for an empty start directory, stays as it is.
[[nodiscard]] std::string applyStartDirectory(std::string_view line, std::string_view startDir);
