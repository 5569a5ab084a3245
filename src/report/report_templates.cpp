#include "report/report_templates.h"

#include "platform/file_utils.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <unistd.h>

// Generated at build time from resources/report.html and resources/reportfp.html.
extern const char kPlainReportTemplate[];
extern const std::size_t kPlainReportTemplateSize;
extern const char kAuthorReportTemplate[];
extern const std::size_t kAuthorReportTemplateSize;

namespace {

// Only a template that does not exist is written: one that exists but cannot be read
// (permissions) is the user's, and replacing it would lose their edits.
bool installOne(const std::string& path, std::string_view text)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != ENOENT)
        return true;
    return writeFileAtomically(path, text);
}

} // namespace

std::string_view plainReportTemplate()
{
    return { kPlainReportTemplate, kPlainReportTemplateSize };
}

std::string_view authorReportTemplate()
{
    return { kAuthorReportTemplate, kAuthorReportTemplateSize };
}

bool installReportTemplates(const std::string& dataDirectory)
{
    std::string folder = dataDirectory;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    bool plain = installOne(folder + kPlainReportTemplateName, plainReportTemplate());
    bool author = installOne(folder + kAuthorReportTemplateName, authorReportTemplate());
    return plain && author;
}
