#pragma once

#include "engine/content_digest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// One local file found by a scan, or a recorded file that has since disappeared.
struct FileItem {
    bool changed = false;
    bool failed = false;
    bool deleted = false;
    std::string path; // full local path
    std::string archivePath; // server path of the archived previous version, if one was queued
    std::string author;
    std::string editor;
    int64_t mtime = 0; // seconds since 1970, UTC
    int32_t mtimeNanoseconds = 0; // the part of a second the file system keeps
    int64_t size = 0;
    uint64_t inode = 0;
    int64_t statusChange = 0; // when the scan saw the file, nanoseconds since 1970
    // Of the bytes as the scan saw them; only while the file still has the stamp below.
    std::optional<ContentDigest> digest;
    // The file was read and its bytes differ from those recorded as sent.
    bool contentChanged = false;

    [[nodiscard]] FileStamp stamp() const { return { mtime, mtimeNanoseconds, size, inode, statusChange }; }
};

// The file on disk still is what the scan saw: same size and modification time.
[[nodiscard]] bool stillAsScanned(const FileItem& item);

// What the file list remembers of one file. Lists written before sizes and fractions of a
// second were kept hold only seconds: the missing parts are -1 and are not compared, so an
// update does not send every file again.
struct RecordedFile {
    int64_t seconds = 0;
    int32_t nanoseconds = -1;
    int64_t size = -1;
    // Of the bytes the servers were sent; kept by lists written since digests were.
    std::optional<ContentDigest> digest;
    uint64_t inode = 0; // 0: not recorded

    RecordedFile() = default;
    // Implicit on purpose: a bare time is exactly what an old list line holds.
    RecordedFile(int64_t recordedSeconds, int32_t recordedNanoseconds = -1, int64_t recordedSize = -1)
        : seconds(recordedSeconds)
        , nanoseconds(recordedNanoseconds)
        , size(recordedSize)
    {
    }
    bool operator==(const RecordedFile&) const = default;

    // True when the file on disk is not what was recorded.
    [[nodiscard]] bool differsFrom(int64_t mtime, int32_t mtimeNanoseconds, int64_t fileSize) const
    {
        return seconds != mtime || (nanoseconds >= 0 && nanoseconds != mtimeNanoseconds)
            || (size >= 0 && size != fileSize);
    }
    // The same, and the file is no longer the one recorded (a copy put in its place).
    [[nodiscard]] bool differsFrom(const FileItem& item) const
    {
        return differsFrom(item.mtime, item.mtimeNanoseconds, item.size) || (inode != 0 && inode != item.inode);
    }
};

// What the record keeps of a settled item.
[[nodiscard]] inline RecordedFile recordOf(const FileItem& item)
{
    RecordedFile record(item.mtime, item.mtimeNanoseconds, item.size);
    record.digest = item.digest;
    record.inode = item.inode;
    return record;
}

// The value of a file-list line (after the last "="): "SECONDS[.FRACTION][ SIZE][ TAGS]",
// where each tag is "xxh3:HEX" (the digest) or "inode:N"; nullopt for one no writer makes.
// Builds from before the tags read the time and size and stop there, so a list written now
// sends nothing again when one of them reads it; tags a later build adds are skipped here.
[[nodiscard]] std::optional<RecordedFile> parseRecordedFile(std::string_view text);
// Appends "PATH=VALUE\n".
void appendRecordedFile(std::string& content, const std::string& path, const RecordedFile& record);

// One queued command and the local file it uploads (empty for all but puts). `command` is its
// line in the command language, as transcripts and reports show it; the run carries out the
// typed parts, so a folder or a put is never re-read from text. A line from elsewhere (a
// script) has kind Line and goes through the interpreter.
// An archive move also names the file whose previous version it moves and the archive name
// it chose, so the run can pick another name when that one is taken on the server.
struct PendingCommand {
    enum class Kind : char {
        Line,
        EnterFolder, // mkdir of remotePath, or cd "/" when it is empty
        Put, // localPath to remotePath
        ArchiveMove,
        Move, // the server copy at movedFrom is renamed to remotePath; sent when that fails
    };
    Kind kind = Kind::Line;
    std::string command;
    std::string localPath;
    std::string remotePath; // server path before any start directory (folders and puts)
    std::string archivedFile; // local path of the item, archive moves only
    std::string archiveSource; // server path moved away
    std::string archiveName; // name inside the archive folder
    // No record says the file was ever uploaded: a source missing on the server is no error.
    bool mayBeAbsent = false;
    std::string movedFrom; // moves only: the server path the file had, before any start directory
    std::string movedFromFile; // moves only: the local path it had (a deleted item)

    [[nodiscard]] static PendingCommand line(std::string text, std::string uploadedFile = {})
    {
        PendingCommand pending;
        pending.command = std::move(text);
        pending.localPath = std::move(uploadedFile);
        return pending;
    }
};
