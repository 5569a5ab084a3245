#pragma once

#include "config/ftp_site.h"

#include <string>
#include <vector>

// The book of FTP sites ("sites.inf").
class SiteList {
public:
    std::vector<FtpSite> sites;

    // Remembers `path` and appends the sites of the file. False when it cannot be opened.
    [[nodiscard]] bool readSites(const std::string& path);
    // Writes every site to `path` (empty: the remembered path) by temporary file and rename.
    [[nodiscard]] bool writeSites(const std::string& path = {});

    // The text writeSites stores. A value is cut at its first line feed, which the format
    // cannot hold.
    [[nodiscard]] std::string serialize() const;

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
};
