#pragma once

#include <string>

// Reads the author and last editor an HTML editor recorded for `directory`/`fileName` in
// `directory`/_vti_cnf/`fileName` ("key:value" lines; vti_author and vti_modifiedby, keys
// compared without regard to case, the last occurrence wins). A value keeps only the text
// after the line's last backslash (a domain\user name gives the user name). `author` and
// `editor` are only overwritten by keys that are present. False when the file cannot be
// opened; the caller decides whether the option to read it is on.
[[nodiscard]] bool readFrontPageMeta(
    const std::string& directory, const std::string& fileName, std::string& author, std::string& editor);
