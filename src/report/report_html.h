#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One line of a project's rows file ("path;archive path;time;failed;author;editor"), the
// history the report page is made from.
struct ReportRow {
    std::string path;
    std::string archivePath; // empty when nothing was archived
    int64_t time = 0; // -1: the file was deleted locally
    bool failed = false;
    std::string author;
    std::string editor;
    // A file moved within the site: the path it had. Kept in a field older lists lack.
    std::string movedFrom {};
};

// A report template cut at its "<!-- repeat -->" marker lines: the first marker line opens
// the block (and is repeated with it), the second opens the tail, a third and everything
// after it are dropped.
struct ReportTemplate {
    std::vector<std::string> head;
    std::vector<std::string> block;
    std::vector<std::string> tail;
};

struct ReportPageSettings {
    std::string localDirectory; // removed from the front of a path to form its link
    std::string startDirectory; // the served site's start directory, put before the link
    int archmax = 10; // 0: every row; otherwise at most archmax + 1 rows, newest first
};

// Appends one line per row; a row with time -1 is written with failed -1. Field values
// cannot hold ";" or line breaks, so those bytes (and "%") are written as %3B, %0D, %0A and
// %25 and decoded by parseReportRow. False when the file cannot be opened or written.
[[nodiscard]] bool appendReportRows(const std::string& rowsPath, const std::vector<ReportRow>& rows);
[[nodiscard]] std::string formatReportRow(const ReportRow& row);
// Missing fields stay empty (or 0); failed is any non-zero number.
[[nodiscard]] ReportRow parseReportRow(std::string_view line);
// File order, oldest first; a missing file gives no rows, empty lines are skipped.
[[nodiscard]] std::vector<ReportRow> readReportRows(const std::string& rowsPath);

[[nodiscard]] ReportTemplate splitReportTemplate(std::string_view text);
// A missing template gives three empty lists.
[[nodiscard]] ReportTemplate readReportTemplate(const std::string& path);

// The page text: head, the block once per shown row (newest first) with its placeholders
// filled, tail. Every inserted value is HTML-escaped, link targets are percent-encoded, and
// placeholders are only looked for in the template's own text, never in inserted values.
[[nodiscard]] std::string renderReportPage(
    const ReportTemplate& layout, const std::vector<ReportRow>& rows, const ReportPageSettings& settings);

// Reads the rows file and the template and replaces the page file with the rendered page.
// False when the page could not be written (the previous page, if any, stays).
[[nodiscard]] bool writeReportPage(const std::string& rowsPath, const std::string& templatePath,
    const std::string& pagePath, const ReportPageSettings& settings);
