#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kPlainReportTemplateName = "report.html";
inline constexpr const char* kAuthorReportTemplateName = "reportfp.html"; // with author columns

// The templates built into the program.
[[nodiscard]] std::string_view plainReportTemplate();
[[nodiscard]] std::string_view authorReportTemplate();

// Writes the built-in templates into `dataDirectory` under their names where no file of
// that name exists yet; an existing template is never replaced, so the user may edit it.
// False when a missing template could not be written.
[[nodiscard]] bool installReportTemplates(const std::string& dataDirectory);
