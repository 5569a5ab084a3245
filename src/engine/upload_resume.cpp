#include "engine/upload_resume.h"

RecordedFile begunRecordOf(const FileStamp& stamp)
{
    RecordedFile record(stamp.seconds, stamp.nanoseconds, stamp.size);
    record.inode = stamp.inode;
    return record;
}

bool mayResume(const std::optional<RecordedFile>& begun, const FileStamp& now)
{
    if (!begun || now.size < kResumeFromSize)
        return false;
    // Records of older versions lack the fraction or the size: nothing proves the file the same.
    if (begun->nanoseconds < 0 || begun->size < 0)
        return false;
    if (begun->inode != 0 && now.inode != 0 && begun->inode != now.inode)
        return false;
    return begun->seconds == now.seconds && begun->nanoseconds == now.nanoseconds && begun->size == now.size;
}
