#pragma once

#include "engine/content_digest.h"
#include "engine/file_item.h"

#include <cstdint>
#include <optional>

// Below this a broken upload is simply sent again: continuing it would save less time than
// the extra round trips it costs.
inline constexpr int64_t kResumeFromSize = 8 * 1024 * 1024;

// What the journal keeps of a local file as its upload begins.
[[nodiscard]] RecordedFile begunRecordOf(const FileStamp& stamp);

// Whether an upload of the local file as it is `now` may continue the part that an earlier
// upload, begun with the file as `begun` (nullopt: not known), left on the server. Only a
// large file that is provably the one the part was cut from: the same size, the same
// modification time to the nanosecond and, where both are known, the same inode (an editor
// that saves through a new file keeps neither).
[[nodiscard]] bool mayResume(const std::optional<RecordedFile>& begun, const FileStamp& now);
