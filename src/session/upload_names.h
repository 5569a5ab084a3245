#pragma once

#include <string>
#include <string_view>

// Names of the files an atomic upload uses beside the live one. Both are hidden (leading
// dot) and carry the program's suffix, so a listing tells them from anything a user made.
//
// `remotePath` may hold folders; the temporary name stays in the same folder, since a
// rename across folders is not something every server allows.
[[nodiscard]] std::string uploadPartName(std::string_view remotePath); // the file being sent
[[nodiscard]] std::string uploadOldName(std::string_view remotePath); // the replaced file, briefly

// Whether the last part of `path` is a part or old file of some live name. A killed run
// can leave either behind.
[[nodiscard]] bool isUploadLeftover(std::string_view path);
// Whether `path` is an old file (".NAME.tarnwick-old"): the replaced version, which is the
// only copy when a run died between the two renames.
[[nodiscard]] bool isReplacedFileLeftover(std::string_view path);
// The live path a leftover belongs to ("a/.x.tarnwick-part" -> "a/x"); empty for any other name.
[[nodiscard]] std::string leftoverLiveName(std::string_view path);
