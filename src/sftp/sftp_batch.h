#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct sftp_session_struct;

// Requests written by hand on an SFTP channel, all of a batch in one write, their answers
// matched by id. libssh 0.10 waits for each answer before it sends the next request, which
// costs a round trip per request; a batch costs one for all of them. exchange() returns only
// once every request is answered, so libssh's own calls may follow it on the same channel.
//
// The SFTP session must outlive the batch; one thread at a time.
class SftpBatch {
public:
    // What the server answered one request: a status (kNoAnswer when the exchange failed
    // before it came) and, for an open that succeeded, the handle.
    struct Answer {
        static constexpr int kNoAnswer = -1;
        int status = kNoAnswer;
        std::string handle;
    };
    // The times a file keeps on the server (seconds since 1970).
    struct Times {
        int64_t accessed = 0;
        int64_t modified = 0;
    };

    explicit SftpBatch(sftp_session_struct* sftp);

    // Each answers the index of its answer in answers().
    size_t openForWriting(std::string_view path, uint32_t permissions);
    size_t write(std::string_view handle, uint64_t offset, std::string_view data);
    size_t setTimes(std::string_view handle, Times times);
    size_t setTimesOfPath(std::string_view path, Times times);
    size_t close(std::string_view handle);
    size_t remove(std::string_view path);
    // posix-rename@openssh.com: replaces an existing `to` in one step.
    size_t posixRename(std::string_view from, std::string_view to);

    [[nodiscard]] bool empty() const { return ids_.empty(); }
    // Sends what was added and waits for every answer; `progress` is called after each. False
    // when the channel failed or the server answered out of step: nothing more can be trusted
    // on it then, and the answers not yet come stay kNoAnswer.
    [[nodiscard]] bool exchange(const std::function<void()>& progress);
    // After a failed exchange: the channel worked, but what came back answered nothing asked.
    [[nodiscard]] bool outOfStep() const { return outOfStep_; }
    [[nodiscard]] const std::vector<Answer>& answers() const { return answers_; }
    [[nodiscard]] const Answer& answer(size_t index) const { return answers_[index]; }

private:
    size_t begin(unsigned char type);
    [[nodiscard]] bool readChannel(char* data, size_t size);
    // Notes that the answer read fits no request; false.
    [[nodiscard]] bool strayAnswer();

    sftp_session_struct* sftp_;
    std::string out_;
    size_t packetStart_ = 0;
    std::vector<uint32_t> ids_;
    std::vector<bool> handleExpected_; // by request, as ids_
    std::vector<Answer> answers_;
    bool outOfStep_ = false;
};
