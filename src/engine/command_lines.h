#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The command lines the upload engine queues, as the transcript and the log show them. The
// run carries out their typed parts; the text is for reading (and for the interpreter, whose
// token rule reads it back to the same paths).

// `text` between double quotes, each double quote in it written twice: one argument for the
// interpreter, blanks and commas included.
[[nodiscard]] std::string quotedArgument(std::string_view text);
// mkdir "<serverDir>", or cd "/" for the root with an empty server path.
[[nodiscard]] std::string enterFolderLine(std::string_view serverDir);
// put "<localPath>" "<serverPath>"
[[nodiscard]] std::string putLine(std::string_view localPath, std::string_view serverPath);
// dele "<folder>/<fileName>"
[[nodiscard]] std::string deleteLine(std::string_view serverFolder, std::string_view fileName);

// The name an archived previous version gets: "<serverDir>_<fileName>" with every "/" and
// "\" turned into "_", and the stamp DDMMYYhhmmss of `localTime` before the file name's last
// dot, or at the end when the file name has none.
[[nodiscard]] std::string archiveName(
    std::string_view fileName, std::string_view serverDir, const struct tm& localTime);
// `name`, or, when `taken` says it is in use, the name with "-2", "-3"... before its last dot.
[[nodiscard]] std::string uniqueArchiveName(
    std::string_view name, const std::function<bool(const std::string&)>& taken);
// The local time (seconds since 1970) in an archive name's stamp, to the second or (older
// names) to the minute; nullopt for a name that carries none.
[[nodiscard]] std::optional<int64_t> archiveStampTime(std::string_view name);
// mv "[/startDir]<serverDir>/<fileName>" "<archiveDir>/<archiveName>"
[[nodiscard]] std::string archiveMoveLine(std::string_view startDir, std::string_view serverDir,
    std::string_view fileName, std::string_view archiveDir, std::string_view archiveName);

// mv "<source>" "<target>"
[[nodiscard]] std::string moveLine(std::string_view source, std::string_view target);

struct PendingCommand;
// The folder line for `serverDir` (see enterFolderLine), typed.
[[nodiscard]] PendingCommand enterFolderCommand(std::string_view serverDir);
// The put of `localPath` to `serverPath` (see putLine), typed.
[[nodiscard]] PendingCommand putCommand(std::string_view localPath, std::string_view serverPath);
// `serverPath` as a site with start directory `startDir` names it: "/" + startDir in front.
[[nodiscard]] std::string serverPathAt(std::string_view startDir, std::string_view serverPath);

// The line to execute at a site with start directory `startDir`: put, cd and mkdir lines
// (exact, case-sensitive command words) get "/" + startDir before their server path; every
// other line, and every line for an empty start directory, stays as it is.
[[nodiscard]] std::string applyStartDirectory(std::string_view line, std::string_view startDir);
