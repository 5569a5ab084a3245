#pragma once

#include "engine/full_compare.h"
#include "engine/web_project.h"

#include <string>
#include <vector>

// What a compare found on one site of a project, and with a repair what it came to.
struct SiteComparison {
    int site = 0; // 1-based
    // Why the site could not be compared (its login, its listing), in words; empty when it was.
    std::string failure;
    std::vector<FullCompare::Difference> differences; // as found before any repair
    std::vector<WebProject::StepOutcome> outcomes; // a repair's steps
    // Deletions a repair left alone: more of the server would go than the project allows.
    bool deletionsHeld = false;
};

enum class CompareMode : char {
    Report, // changes nothing
    Repair, // re-sends what differs, deletes what is only on the server, removes leftovers
};

// Compares every site of `project` with its local folder, below the project's remote folder
// under the site's start directory, one site after the other. A repair records in the file
// list each file that every site confirmed in it; everything else stays as recorded, so
// the next run still decides by the record. The caller holds the project's lock.
[[nodiscard]] std::vector<SiteComparison> compareSites(WebProject& project, CompareMode mode);
