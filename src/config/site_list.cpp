#include "config/site_list.h"

#include "config/line_piece_reader.h"
#include "platform/file_utils.h"

#include <string_view>

namespace {

void appendLine(std::string& out, std::string_view key, std::string_view value)
{
    // A line feed would split the value into lines of their own; only what precedes it fits.
    size_t lineFeed = value.find('\n');
    out += key;
    out += '=';
    out += lineFeed == std::string_view::npos ? value : value.substr(0, lineFeed);
    out += '\n';
}

} // namespace

bool SiteList::readSites(const std::string& path)
{
    path_ = path;
    // Whole lines: the tail of a long password must not read as a key of its own.
    LinePieceReader reader(LinePieceReader::kWholeLines);
    if (!reader.open(path))
        return false;

    FtpSite* site = nullptr;
    std::string line;
    while (reader.next(line)) {
        if (line == "[*]") {
            sites.emplace_back();
            site = &sites.back();
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos || !site)
            continue;
        std::string_view key = std::string_view(line).substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "name")
            site->name = std::move(value);
        else if (key == "url")
            site->url = std::move(value);
        else if (key == "username")
            site->user = std::move(value);
        else if (key == "password")
            site->pass = std::move(value);
        else if (key == "startdir")
            site->startdir = std::move(value);
        else if (key == "localdir")
            site->localDirectory = std::move(value);
        else if (key == FtpSite::kPasswordStoreKey)
            site->passwordPlace
                = value == FtpSite::kKeyringMarker ? FtpSite::PasswordPlace::Keyring : FtpSite::PasswordPlace::File;
    }
    for (FtpSite& loaded : sites)
        loaded.settlePasswordPlace();
    return true;
}

std::string SiteList::serialize() const
{
    std::string out;
    for (const FtpSite& site : sites) {
        out += "[*]\n";
        appendLine(out, "name", site.name);
        appendLine(out, "url", site.url);
        appendLine(out, "username", site.user);
        appendLine(out, "password", site.pass);
        if (site.passwordPlace == FtpSite::PasswordPlace::Keyring && site.pass.empty())
            appendLine(out, FtpSite::kPasswordStoreKey, FtpSite::kKeyringMarker);
        appendLine(out, "startdir", site.startdir);
        appendLine(out, "localdir", site.localDirectory);
    }
    return out;
}

bool SiteList::writeSites(const std::string& path)
{
    const std::string& target = path.empty() ? path_ : path;
    if (target.empty())
        return false;
    return writeFileAtomically(target, serialize(), 0600);
}
