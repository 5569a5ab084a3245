#include "session/server_text.h"

namespace {

void appendEscaped(std::string& out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence starting at `at`, or 0.
size_t sequenceLength(std::string_view text, size_t at)
{
    auto lead = static_cast<unsigned char>(text[at]);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(text[at + i])))
            return 0;
    }
    return length;
}

} // namespace

std::string printableServerText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
                appendEscaped(out, byte);
            else
                out += static_cast<char>(byte);
            ++at;
            continue;
        }
        size_t length = sequenceLength(text, at);
        if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // U+0080 to U+009F: terminals take U+009B as the start of an escape sequence.
            appendEscaped(out, byte);
            appendEscaped(out, static_cast<unsigned char>(text[at + 1]));
        } else if (length > 0) {
            out.append(text.substr(at, length));
        } else {
            if (byte < 0xA0)
                appendEscaped(out, byte); // a lone C1 byte in an 8-bit terminal
            else
                out += static_cast<char>(byte);
            length = 1;
        }
        at += length;
    }
    return out;
}
