#include "report/report_html.h"

#include "platform/ascii_case.h"
#include "platform/file_utils.h"
#include "report/html_escape.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::string_view kRepeatMarker = "<!-- repeat -->";
constexpr std::string_view kEmptyValue = " - ";

// Calls `handle` for every line of `content` without its line end ("\n" or "\r\n"). Text
// after a NUL byte is ignored, as a C string reader would (old templates end in one).
template <typename Handler> void forEachLine(std::string_view content, Handler handle)
{
    while (!content.empty()) {
        size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (size_t nul = line.find('\0'); nul != std::string_view::npos)
            line = line.substr(0, nul);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        handle(line);
    }
}

void encodeField(std::string& out, std::string_view value)
{
    for (char c : value) {
        switch (c) {
        case ';': out += "%3B"; break;
        case '%': out += "%25"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
}

std::string decodeField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size()) {
            std::string_view code = field.substr(i + 1, 2);
            char decoded = code == "3B" ? ';' : code == "25" ? '%' : code == "0A" ? '\n' : code == "0D" ? '\r' : 0;
            if (decoded != 0) {
                out += decoded;
                i += 2;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// Leading blanks, an optional sign and decimal digits; whatever follows is ignored and a
// field without digits is 0. Values beyond 64 bits saturate rather than wrap.
int64_t parseDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10)
            return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::string linkTarget(std::string_view path, const ReportPageSettings& settings)
{
    std::string_view rest = path;
    if (!settings.localDirectory.empty() && startsWithIgnoringCase(rest, settings.localDirectory)) {
        rest.remove_prefix(settings.localDirectory.size());
    } else if (size_t slash = rest.rfind('/'); slash != std::string_view::npos) {
        // A row from before the local folder moved: its folders would tell visitors where the
        // site lives on this machine. The name alone is safe.
        rest.remove_prefix(slash);
    }
    std::string target;
    // Start directories are stored without their leading "/"; the link must name the same
    // absolute server path the upload used.
    if (!settings.startDirectory.empty() && settings.startDirectory.front() != '/')
        target += '/';
    target += settings.startDirectory;
    target += rest;
    return target;
}

std::string formatDate(int64_t time)
{
    if (time == -1)
        return {};
    struct tm local = localTimeOf(time);
    char text[64];
    std::snprintf(text, sizeof text, "%.2d.%.2d.%.4d %.2d:%.2d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
        local.tm_hour, local.tm_min);
    return text;
}

struct Segment {
    std::string text;
    bool inserted = false;
};

// Replaces the first occurrence of each placeholder, in order, searching only the
// template's own text: a file named "[status].html" must not be rewritten by a later
// placeholder.
std::string fillLine(std::string_view line, const std::array<std::pair<std::string_view, std::string>, 7>& values)
{
    std::vector<Segment> segments { Segment { std::string(line), false } };
    for (const auto& [placeholder, value] : values) {
        for (size_t s = 0; s < segments.size(); ++s) {
            if (segments[s].inserted)
                continue;
            size_t at = segments[s].text.find(placeholder);
            if (at == std::string::npos)
                continue;
            std::string after = segments[s].text.substr(at + placeholder.size());
            segments[s].text.resize(at);
            Segment filled { value.empty() ? std::string(kEmptyValue) : value, true };
            segments.insert(segments.begin() + static_cast<std::ptrdiff_t>(s) + 1,
                { std::move(filled), Segment { std::move(after), false } });
            break;
        }
    }
    std::string result;
    for (const Segment& segment : segments)
        result += segment.text;
    return result;
}

} // namespace

std::string formatReportRow(const ReportRow& row)
{
    bool deleted = row.time == -1;
    std::string line;
    encodeField(line, row.path);
    line += ';';
    encodeField(line, row.archivePath);
    line += ';';
    line += std::to_string(row.time);
    line += ';';
    line += deleted ? "-1" : row.failed ? "1" : "0";
    line += ';';
    encodeField(line, row.author);
    line += ';';
    encodeField(line, row.editor);
    if (!row.movedFrom.empty()) {
        line += ';';
        encodeField(line, row.movedFrom);
    }
    line += '\n';
    return line;
}

bool appendReportRows(const std::string& rowsPath, const std::vector<ReportRow>& rows)
{
    std::string content;
    for (const ReportRow& row : rows)
        content += formatReportRow(row);
    int fd = ::open(rowsPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::string_view rest = content;
    bool ok = true;
    while (!rest.empty()) {
        ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        rest.remove_prefix(static_cast<size_t>(written));
    }
    return (::close(fd) == 0) && ok;
}

ReportRow parseReportRow(std::string_view line)
{
    ReportRow row;
    std::array<std::string_view, 7> fields {};
    size_t count = 0;
    for (size_t start = 0; count < fields.size();) {
        size_t end = line.find(';', start);
        fields[count++] = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    row.path = decodeField(fields[0]);
    row.archivePath = decodeField(fields[1]);
    row.time = parseDecimal(fields[2]);
    row.failed = parseDecimal(fields[3]) != 0;
    row.author = decodeField(fields[4]);
    row.editor = decodeField(fields[5]);
    row.movedFrom = decodeField(fields[6]);
    return row;
}

std::vector<ReportRow> readReportRows(const std::string& rowsPath)
{
    std::vector<ReportRow> rows;
    std::optional<std::string> content = readWholeFile(rowsPath);
    if (!content)
        return rows;
    forEachLine(*content, [&](std::string_view line) {
        if (!line.empty())
            rows.push_back(parseReportRow(line));
    });
    return rows;
}

ReportTemplate splitReportTemplate(std::string_view text)
{
    ReportTemplate layout;
    int markers = 0;
    forEachLine(text, [&](std::string_view line) {
        if (line.find(kRepeatMarker) != std::string_view::npos)
            ++markers;
        if (markers == 0)
            layout.head.emplace_back(line);
        else if (markers == 1)
            layout.block.emplace_back(line);
        else if (markers == 2)
            layout.tail.emplace_back(line);
    });
    return layout;
}

ReportTemplate readReportTemplate(const std::string& path)
{
    std::optional<std::string> content = readWholeFile(path);
    if (!content)
        return {};
    return splitReportTemplate(*content);
}

std::string renderReportPage(
    const ReportTemplate& layout, const std::vector<ReportRow>& rows, const ReportPageSettings& settings)
{
    std::string page;
    for (const std::string& line : layout.head) {
        page += line;
        page += '\n';
    }
    int64_t shown = 0;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row, ++shown) {
        if (settings.archmax != 0 && shown > settings.archmax)
            break;
        // Named by the server path: the local one would publish the user's account and folders.
        std::string serverPath = linkTarget(row->path, settings);
        std::string file
            = "<a href=\"" + escapeHtml(percentEncodePath(serverPath)) + "\">" + escapeHtml(serverPath) + "</a>";
        std::string author = escapeHtml(row->author);
        std::string status = row->time == -1 ? "Del" : row->failed ? "Error" : "OK";
        if (!row->failed && !row->movedFrom.empty())
            status = "Moved from " + escapeHtml(linkTarget(row->movedFrom, settings));
        std::array<std::pair<std::string_view, std::string>, 7> values { {
            { "[date]", formatDate(row->time) },
            { "[file]", std::move(file) },
            { "[alt]", escapeHtml(percentEncodePath(row->archivePath)) },
            { "[autor]", author },
            { "[author]", author },
            { "[editor]", escapeHtml(row->editor) },
            { "[status]", std::move(status) },
        } };
        for (const std::string& line : layout.block) {
            page += fillLine(line, values);
            page += '\n';
        }
    }
    for (const std::string& line : layout.tail) {
        page += line;
        page += '\n';
    }
    return page;
}

bool writeReportPage(const std::string& rowsPath, const std::string& templatePath, const std::string& pagePath,
    const ReportPageSettings& settings)
{
    std::vector<ReportRow> rows = readReportRows(rowsPath);
    ReportTemplate layout = readReportTemplate(templatePath);
    return writeFileAtomically(pagePath, renderReportPage(layout, rows, settings));
}
