#include "config/machine_options.h"

#include "config/ascii_case.h"
#include "config/line_piece_reader.h"
#include "platform/file_utils.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr size_t maxRasBytes = 255;
// Long enough for any value worth keeping; a longer line is damage and ends up ignored.
constexpr size_t maxLinePiece = 4096;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The stored flags are numbers whose low byte is the flag; anything else counts as missing.
std::optional<bool> flagValue(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    unsigned long long value = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    return (value & 0xFF) != 0;
}

bool makeParentDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

std::string optionsFilePath()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        base = std::string(home) + (std::string_view(home).ends_with('/') ? "" : "/") + ".config";
    else
        return {};
    if (!base.ends_with('/'))
        base += '/';
    return base + "Morvane/Tarnwick.conf";
}

void loadOptions(MachineOptions& options, const std::string& path)
{
    LinePieceReader reader(maxLinePiece);
    if (path.empty() || !reader.open(path))
        return;
    bool inSection = false;
    std::string line;
    while (reader.next(line)) {
        std::string_view text = trimmed(line);
        if (text.empty() || text.front() == ';' || text.front() == '#')
            continue;
        if (text.front() == '[') {
            inSection = equalsIgnoringCase(text, "[Tarnwick]");
            continue;
        }
        size_t equals = text.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        std::string_view key = trimmed(text.substr(0, equals));
        // The dial-up entry is a name and keeps its blanks; cut from the untrimmed line.
        std::string_view value = std::string_view(line).substr(line.find('=') + 1);
        if (equalsIgnoringCase(key, "Ras")) {
            // Too long to be an entry the options dialog could have stored: keep the current one.
            if (value.size() <= maxRasBytes)
                options.dialUpEntry = std::string(value);
            continue;
        }
        std::optional<bool> flag = flagValue(value);
        if (!flag)
            continue;
        if (equalsIgnoringCase(key, "Frontpage"))
            options.frontPage = *flag;
        else if (equalsIgnoringCase(key, "CheckFileSize"))
            options.checkFileSize = *flag;
        else if (equalsIgnoringCase(key, "Disconnect"))
            options.disconnect = *flag;
        else if (equalsIgnoringCase(key, "Passive"))
            options.passive = *flag;
    }
}

bool saveOptions(const MachineOptions& options, const std::string& path)
{
    if (path.empty() || !makeParentDirectories(path))
        return false;
    std::string_view ras = options.dialUpEntry;
    ras = ras.substr(0, ras.find('\n'));
    if (ras.size() > maxRasBytes) {
        size_t cut = maxRasBytes;
        // Never leave half a UTF-8 character behind.
        while (cut > 0 && (static_cast<unsigned char>(ras[cut]) & 0xC0) == 0x80)
            --cut;
        ras = ras.substr(0, cut);
    }
    std::string content = "[Tarnwick]\n";
    content += options.frontPage ? "Frontpage=1\n" : "Frontpage=0\n";
    content += options.checkFileSize ? "CheckFileSize=1\n" : "CheckFileSize=0\n";
    content += options.disconnect ? "Disconnect=1\n" : "Disconnect=0\n";
    content += "Ras=";
    content += ras;
    content += '\n';
    content += options.passive ? "Passive=1\n" : "Passive=0\n";
    return writeFileAtomically(path, content, 0600);
}
