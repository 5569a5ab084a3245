#include "sftp/sftp_batch.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <algorithm>

namespace {

// An answer to a write or close is a few dozen bytes; anything far larger means the channel
// carries something this batch did not ask for.
constexpr uint32_t kMaxAnswer = 64 * 1024;

void putNumber(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

void putNumber64(std::string& out, uint64_t value)
{
    putNumber(out, static_cast<uint32_t>(value >> 32));
    putNumber(out, static_cast<uint32_t>(value & 0xffffffffU));
}

void putText(std::string& out, std::string_view value)
{
    putNumber(out, static_cast<uint32_t>(value.size()));
    out += value;
}

void putTimes(std::string& out, SftpBatch::Times times)
{
    // The protocol's times are 32 bits wide: out of range means no honest time to keep.
    const auto clamp
        = [](int64_t seconds) { return static_cast<uint32_t>(std::clamp<int64_t>(seconds, 0, UINT32_MAX)); };
    putNumber(out, SSH_FILEXFER_ATTR_ACMODTIME);
    putNumber(out, clamp(times.accessed));
    putNumber(out, clamp(times.modified));
}

uint32_t numberAt(const char* data)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(data[i]);
    return value;
}

} // namespace

SftpBatch::SftpBatch(sftp_session_struct* sftp)
    : sftp_(sftp)
{
}

size_t SftpBatch::begin(unsigned char type)
{
    packetStart_ = out_.size();
    putNumber(out_, 0); // the length, once the packet is whole
    out_ += static_cast<char>(type);
    const uint32_t id = ++sftp_->id_counter;
    putNumber(out_, id);
    ids_.push_back(id);
    // Every request may be refused with a status; only an open succeeds with something else.
    handleExpected_.push_back(type == SSH_FXP_OPEN);
    answers_.emplace_back();
    return answers_.size() - 1;
}

namespace {

void finish(std::string& out, size_t start)
{
    const uint32_t length = static_cast<uint32_t>(out.size() - start - 4);
    std::string prefix;
    putNumber(prefix, length);
    out.replace(start, 4, prefix);
}

} // namespace

size_t SftpBatch::openForWriting(std::string_view path, uint32_t permissions)
{
    const size_t index = begin(SSH_FXP_OPEN);
    putText(out_, path);
    putNumber(out_, SSH_FXF_WRITE | SSH_FXF_CREAT | SSH_FXF_TRUNC);
    putNumber(out_, SSH_FILEXFER_ATTR_PERMISSIONS);
    putNumber(out_, permissions);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::write(std::string_view handle, uint64_t offset, std::string_view data)
{
    const size_t index = begin(SSH_FXP_WRITE);
    putText(out_, handle);
    putNumber64(out_, offset);
    putText(out_, data);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::setTimes(std::string_view handle, Times times)
{
    const size_t index = begin(SSH_FXP_FSETSTAT);
    putText(out_, handle);
    putTimes(out_, times);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::setTimesOfPath(std::string_view path, Times times)
{
    const size_t index = begin(SSH_FXP_SETSTAT);
    putText(out_, path);
    putTimes(out_, times);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::close(std::string_view handle)
{
    const size_t index = begin(SSH_FXP_CLOSE);
    putText(out_, handle);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::remove(std::string_view path)
{
    const size_t index = begin(SSH_FXP_REMOVE);
    putText(out_, path);
    finish(out_, packetStart_);
    return index;
}

size_t SftpBatch::posixRename(std::string_view from, std::string_view to)
{
    const size_t index = begin(SSH_FXP_EXTENDED);
    putText(out_, "posix-rename@openssh.com");
    putText(out_, from);
    putText(out_, to);
    finish(out_, packetStart_);
    return index;
}

bool SftpBatch::readChannel(char* data, size_t size)
{
    while (size > 0) {
        const int count = ssh_channel_read(sftp_->channel, data, static_cast<uint32_t>(size), 0);
        // 0 is libssh's own timeout; the session's watchdog ends a wait that lasts.
        if (count < 0 || (count == 0 && (ssh_channel_is_eof(sftp_->channel) || !ssh_is_connected(sftp_->session))))
            return false;
        data += count;
        size -= static_cast<size_t>(count);
    }
    return true;
}

bool SftpBatch::strayAnswer()
{
    outOfStep_ = true;
    return false;
}

bool SftpBatch::exchange(const std::function<void()>& progress)
{
    for (size_t written = 0; written < out_.size();) {
        const int count
            = ssh_channel_write(sftp_->channel, out_.data() + written, static_cast<uint32_t>(out_.size() - written));
        if (count <= 0)
            return false;
        written += static_cast<size_t>(count);
    }
    out_.clear();
    for (size_t waiting = std::count_if(
             answers_.begin(), answers_.end(), [](const Answer& answer) { return answer.status == Answer::kNoAnswer; });
         waiting > 0; --waiting) {
        char header[9];
        if (!readChannel(header, sizeof header))
            return false;
        const uint32_t length = numberAt(header);
        const auto type = static_cast<unsigned char>(header[4]);
        const uint32_t id = numberAt(header + 5);
        const auto asked = std::find(ids_.begin(), ids_.end(), id);
        if (length < 5 || length > kMaxAnswer || asked == ids_.end())
            return strayAnswer();
        const auto index = static_cast<size_t>(asked - ids_.begin());
        if (type != SSH_FXP_STATUS && (type != SSH_FXP_HANDLE || !handleExpected_[index]))
            return strayAnswer();
        Answer& answer = answers_[index];
        if (answer.status != Answer::kNoAnswer)
            return strayAnswer();
        std::string rest(length - 5, '\0');
        if (!rest.empty() && !readChannel(rest.data(), rest.size()))
            return false;
        if (rest.size() < 4)
            return strayAnswer();
        if (type == SSH_FXP_STATUS) {
            answer.status = static_cast<int>(numberAt(rest.data()));
        } else {
            const uint32_t size = numberAt(rest.data());
            if (size > rest.size() - 4)
                return strayAnswer();
            answer.handle = rest.substr(4, size);
            answer.status = SSH_FX_OK;
        }
        if (progress)
            progress();
    }
    return true;
}
