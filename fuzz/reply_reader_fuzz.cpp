#include "ftp/reply_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// Feeds the input in pieces whose sizes come from the input itself, and checks that the
// reader never loses or invents bytes of a line and never holds more than one line's worth.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t piece = (data[0] % 17) + 1;
    ReplyReader reader;
    size_t delivered = 0;
    for (size_t offset = 0; offset < input.size(); offset += piece) {
        reader.append(input.substr(offset, piece));
        while (auto line = reader.nextLine()) {
            if (line->text.empty() || line->text.size() > ReplyReader::kMaxLineLength)
                abort();
            if (line->text.find_first_of("\r\n") != std::string::npos)
                abort();
            delivered += line->text.size();
            (void)replyCode(line->text);
        }
        if (reader.bufferedBytes() > ReplyReader::kMaxLineLength + piece)
            abort();
    }
    if (delivered + reader.bufferedBytes() > input.size())
        abort();
    return 0;
}
