#pragma once

#include <string>
#include <vector>

// One FTP account. Project files store name, url, user, pass, startdir, atomic and the
// scripts; the sites book stores name, url, user, pass, startdir and localDirectory.
struct FtpSite {
    std::string name;
    std::string url; // "host", "host:port" or "[v6-address]:port"
    std::string user;
    std::string pass;
    std::string startdir; // without leading or trailing "/"
    std::string localDirectory;
    std::vector<std::string> preScript;
    std::vector<std::string> postScript;
    // Uploads go to a temporary name and are renamed over the live file, so a broken
    // transfer never leaves a truncated page. Off only for servers that cannot rename.
    bool atomic = true;
    int connections = 4;

    bool operator==(const FtpSite&) const = default;
};
