#include "report/frontpage_meta.h"

#include <cstdio>
#include <memory>
#include <string_view>

namespace {

// Values are short names; a longer line is metadata we do not understand (or a binary
// file), and its tail is dropped rather than held in memory.
constexpr size_t kMaxLine = 4096;

bool equalsIgnoringCase(std::string_view text, std::string_view lowerKey)
{
    if (text.size() != lowerKey.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerKey[i])
            return false;
    }
    return true;
}

void applyLine(std::string_view line, std::string& author, std::string& editor)
{
    // C-string semantics: a NUL ends the line, as it would for any text reader.
    if (size_t nul = line.find('\0'); nul != std::string_view::npos)
        line = line.substr(0, nul);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    size_t backslash = line.rfind('\\');
    std::string_view value = backslash != std::string_view::npos ? line.substr(backslash + 1) : line.substr(colon + 1);
    std::string_view key = line.substr(0, colon);
    if (equalsIgnoringCase(key, "vti_author"))
        author = value;
    else if (equalsIgnoringCase(key, "vti_modifiedby"))
        editor = value;
}

} // namespace

bool readFrontPageMeta(
    const std::string& directory, const std::string& fileName, std::string& author, std::string& editor)
{
    std::string path = directory + "/_vti_cnf/" + fileName;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!file)
        return false;
    std::string line;
    for (int c = std::getc(file.get());; c = std::getc(file.get())) {
        if (c == EOF || c == '\n') {
            applyLine(line, author, editor);
            line.clear();
            if (c == EOF)
                break;
        } else if (line.size() < kMaxLine) {
            line += static_cast<char>(c);
        }
    }
    return true;
}
