#include "ftp/passive_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// Whatever a server answers to PASV or EPSV, a port that is taken lies in 1..65535.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(data), size);
    for (auto reply : { PassiveReply::parsePasv(line), PassiveReply::parseEpsv(line) }) {
        if (reply && (reply->port < 1 || reply->port > 65535))
            abort();
    }
    return 0;
}
