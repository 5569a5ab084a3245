#pragma once

#include <string>

// The program's help page, "a01index.htm", shipped inside the program and opened in the
// desktop's browser from a copy in the data directory.
class HelpPage {
public:
    // Writes the page to `dataDirectory` + "help/a01index.htm" when missing or outdated and
    // answers its path; empty when it cannot be written.
    [[nodiscard]] static std::string install(const std::string& dataDirectory);
    // Installs the page and hands it to the desktop's browser; false when either fails.
    [[nodiscard]] static bool open(const std::string& dataDirectory);
};
