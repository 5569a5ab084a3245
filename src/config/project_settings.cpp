#include "config/project_settings.h"

#include "config/ascii_case.h"
#include "config/line_piece_reader.h"
#include "config/transfer_rate.h"
#include "platform/file_utils.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

namespace {

// Leading blanks skipped, an optional sign, then digits up to the first non-digit; no digit
// gives 0. Values beyond the range of int are held at its limits instead of wrapping.
int decimalValue(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string_view trimmedBlanks(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    return first == std::string_view::npos ? std::string_view()
                                           : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

int clampedConnections(int value)
{
    return std::clamp(value, FtpSite::kMinConnections, FtpSite::kMaxConnections);
}

// A hand-edited count out of range is brought into range rather than dropped; text without
// digits, which says nothing about the wanted count, gives the default.
int connectionsValue(std::string_view text)
{
    size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at != std::string_view::npos && (text[at] == '+' || text[at] == '-'))
        ++at;
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
        return FtpSite::kDefaultConnections;
    return clampedConnections(decimalValue(text));
}

// A value holding a line feed would turn into extra lines, and so into other settings, when
// the file is read back; only the part before it can be stored.
std::string_view singleLine(std::string_view value)
{
    size_t lineFeed = value.find('\n');
    return lineFeed == std::string_view::npos ? value : value.substr(0, lineFeed);
}

void appendLine(std::string& out, std::string_view key, std::string_view value)
{
    out += key;
    out += '=';
    out += singleLine(value);
    out += '\n';
}

void appendLine(std::string& out, std::string_view key, int value)
{
    out += key;
    out += '=';
    out += std::to_string(value);
    out += '\n';
}

void appendList(std::string& out, std::string_view header, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    out += header;
    out += '\n';
    for (const std::string& line : lines) {
        std::string_view text = singleLine(line);
        // An empty line would be dropped by the reader anyway; the file holds no blank lines.
        if (text.empty())
            continue;
        out += text;
        out += '\n';
    }
}

enum class Section { None, Site, Pre, Post, ForbiddenDirectories, ForbiddenFiles };

std::optional<Section> sectionHeader(std::string_view line)
{
    if (line == "[site]")
        return Section::Site;
    if (line == "[pre]")
        return Section::Pre;
    if (line == "[post]")
        return Section::Post;
    if (line == "[forbidden]")
        return Section::ForbiddenDirectories;
    if (line == "[forbidden files]")
        return Section::ForbiddenFiles;
    return std::nullopt;
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

// The views point into `line`.
std::optional<KeyLine> splitKeyLine(std::string_view line)
{
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyLine { line.substr(0, equals), line.substr(equals + 1) };
}

// Every key was already offered to the project's own settings; one that is not a site's is
// passed over here.
void setSiteValue(FtpSite& site, const KeyLine& line)
{
    const auto& [key, value] = line;
    if (equalsIgnoringCase(key, "name"))
        site.name = std::string(value);
    else if (equalsIgnoringCase(key, "url"))
        site.url = std::string(value);
    else if (equalsIgnoringCase(key, "user"))
        site.user = std::string(value);
    else if (equalsIgnoringCase(key, "pass"))
        site.pass = std::string(value);
    else if (equalsIgnoringCase(key, "startdir"))
        site.startdir = std::string(value);
    else if (equalsIgnoringCase(key, "atomic"))
        site.atomic = decimalValue(value) != 0;
    else if (equalsIgnoringCase(key, "connections"))
        site.connections = connectionsValue(value);
    else if (equalsIgnoringCase(key, "keyfile"))
        site.keyfile = std::string(value);
    else if (equalsIgnoringCase(key, "bwlimit"))
        // A cap that cannot be read is no cap: guessing one could make a run crawl.
        site.uploadRateLimit = parseTransferRate(trimmedBlanks(value)).value_or(0);
    else if (equalsIgnoringCase(key, FtpSite::kPasswordStoreKey))
        site.passwordPlace = equalsIgnoringCase(value, FtpSite::kKeyringMarker) ? FtpSite::PasswordPlace::Keyring
                                                                                : FtpSite::PasswordPlace::File;
}

// Script lines before the first "[site]" have no site to belong to and are dropped.
void addSectionLine(ProjectSettings& settings, Section section, FtpSite* site, const std::string& line,
    const std::optional<KeyLine>& keyLine)
{
    switch (section) {
    case Section::None: break;
    case Section::ForbiddenDirectories: settings.forbiddenDirectories.push_back(line); break;
    case Section::ForbiddenFiles: settings.forbiddenFiles.push_back(line); break;
    case Section::Pre:
        if (site)
            site->preScript.push_back(line);
        break;
    case Section::Post:
        if (site)
            site->postScript.push_back(line);
        break;
    case Section::Site:
        if (keyLine && site)
            setSiteValue(*site, *keyLine);
        break;
    }
}

} // namespace

bool ProjectSettings::setFromKeyLine(std::string_view key, std::string_view value)
{
    struct TextKey {
        const char* name;
        std::string ProjectSettings::*member;
    };
    struct NumberKey {
        const char* name;
        int ProjectSettings::*member;
    };
    static constexpr TextKey textKeys[] = {
        { "ftp", &ProjectSettings::ftp },
        { "htmlreport", &ProjectSettings::htmlreport },
        { "archivdir", &ProjectSettings::archivdir },
        { "remote", &ProjectSettings::remote },
        { "local", &ProjectSettings::local },
        { "temp", &ProjectSettings::temp },
        { "filelist", &ProjectSettings::filelist },
    };
    static constexpr NumberKey numberKeys[] = {
        { "strategy", &ProjectSettings::strategy },
        { "archmax", &ProjectSettings::archmax },
        { "all", &ProjectSettings::all },
        { "minutes", &ProjectSettings::minutes },
        { "maxdelete", &ProjectSettings::maxdelete },
        { "watch", &ProjectSettings::watch },
    };
    for (const TextKey& entry : textKeys) {
        if (equalsIgnoringCase(key, entry.name)) {
            this->*entry.member = std::string(value);
            return true;
        }
    }
    for (const NumberKey& entry : numberKeys) {
        if (equalsIgnoringCase(key, entry.name)) {
            this->*entry.member = decimalValue(value);
            return true;
        }
    }
    if (equalsIgnoringCase(key, "delete")) {
        deleteRemoved = decimalValue(value) != 0 ? 1 : 0;
        return true;
    }
    return false;
}

void ProjectSettings::LoadProject(const std::string& path)
{
    projectPath = path;
    // Lines are read whole: were a long line cut into pieces, the tail of a long value
    // could read as a setting of its own.
    LinePieceReader reader(LinePieceReader::kWholeLines);
    if (!reader.open(path)) {
        std::fputs("can not open ini\n", stdout);
        std::fflush(stdout);
        return;
    }

    Section section = Section::None;
    FtpSite* site = nullptr;
    std::string line;
    while (reader.next(line)) {
        const std::optional<KeyLine> keyLine = splitKeyLine(line);
        if (keyLine) {
            (void)setFromKeyLine(keyLine->key, keyLine->value);
            if (equalsIgnoringCase(keyLine->key, "ftp"))
                continue;
        }
        if (const std::optional<Section> header = sectionHeader(line)) {
            if (*header == Section::Site) {
                sites.emplace_back();
                site = &sites.back();
            }
            section = *header;
            continue;
        }
        if (line.empty())
            continue;
        addSectionLine(*this, section, site, line, keyLine);
    }

    for (FtpSite& loaded : sites)
        loaded.settlePasswordPlace();

    size_t slash = path.rfind('/');
    temp = slash == std::string::npos ? path : path.substr(0, slash);
    filelist = path + ".txt";
    minuteCounter = 0;
}

std::string ProjectSettings::serialize() const
{
    std::string out;
    appendLine(out, "ftp", ftp);
    appendLine(out, "strategy", strategy);
    appendLine(out, "htmlreport", htmlreport);
    appendLine(out, "archivdir", archivdir);
    appendLine(out, "archmax", archmax);
    appendLine(out, "all", all);
    appendLine(out, "remote", remote);
    appendLine(out, "local", local);
    appendLine(out, "temp", temp);
    appendLine(out, "filelist", filelist);
    appendLine(out, "minutes", minutes);
    appendLine(out, "delete", deleteRemoved != 0 ? 1 : 0);
    appendLine(out, "maxdelete", maxdelete);
    // Only where it is on: files of older versions stay as they were.
    if (watch != 0)
        appendLine(out, "watch", 1);
    for (const FtpSite& site : sites) {
        out += "[site]\n";
        appendLine(out, "name", site.name);
        appendLine(out, "url", site.url);
        appendLine(out, "user", site.user);
        appendLine(out, "pass", site.pass);
        if (site.passwordPlace == FtpSite::PasswordPlace::Keyring && site.pass.empty())
            appendLine(out, FtpSite::kPasswordStoreKey, FtpSite::kKeyringMarker);
        appendLine(out, "startdir", site.startdir);
        appendLine(out, "atomic", site.atomic ? 1 : 0);
        appendLine(out, "connections", clampedConnections(site.connections));
        if (!site.keyfile.empty())
            appendLine(out, "keyfile", site.keyfile);
        if (site.uploadRateLimit > 0)
            appendLine(out, "bwlimit", transferRateText(site.uploadRateLimit));
        appendList(out, "[pre]", site.preScript);
        appendList(out, "[post]", site.postScript);
    }
    appendList(out, "[forbidden]", forbiddenDirectories);
    appendList(out, "[forbidden files]", forbiddenFiles);
    return out;
}

std::optional<std::string> ProjectSettings::backupText() const
{
    std::optional<std::string> previous = readWholeFile(projectPath);
    if (!previous || std::none_of(sites.begin(), sites.end(), [](const FtpSite& site) {
            return site.passwordPlace == FtpSite::PasswordPlace::Keyring;
        }))
        return previous;
    // A password that went to the keyring must not stay behind in the clear in the copy.
    ProjectSettings old;
    old.LoadProject(projectPath);
    bool scrubbed = false;
    for (FtpSite& site : old.sites) {
        const bool movedAway = std::any_of(sites.begin(), sites.end(), [&site](const FtpSite& now) {
            return now.passwordPlace == FtpSite::PasswordPlace::Keyring && now.name == site.name
                && now.user == site.user;
        });
        if (movedAway && !site.pass.empty()) {
            site.pass.clear();
            site.passwordPlace = FtpSite::PasswordPlace::Keyring;
            scrubbed = true;
        }
    }
    return scrubbed ? old.serialize() : previous;
}

bool ProjectSettings::SaveProject() const
{
    if (projectPath.empty())
        return false;
    // The previous version is kept whatever happens next; a missing file simply has none.
    if (std::optional<std::string> previous = backupText())
        (void)writeFileAtomically(projectPath + ".bak", *previous, 0600);
    return writeFileAtomically(projectPath, serialize(), 0600);
}
