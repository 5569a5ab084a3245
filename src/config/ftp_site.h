#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One FTP or SFTP account. Project files store name, url, user, pass, startdir, atomic,
// connections, keyfile, bwlimit and the scripts; the sites book stores name, url, user, pass, startdir
// and localDirectory.
struct FtpSite {
    std::string name;
    std::string url; // "host", "host:port" or "[v6-address]:port", "sftp://" first for SFTP
    std::string user;
    std::string pass;
    std::string startdir; // without leading or trailing "/"
    std::string localDirectory;
    std::vector<std::string> preScript;
    std::vector<std::string> postScript;
    // Uploads go to a temporary name and are renamed over the live file, so a broken
    // transfer never leaves a truncated page. Off only for servers that cannot rename.
    bool atomic = true;
    // Control connections one upload run may hold open to this server at the same time. It is
    // capped because shared hosts limit, or block for a while, clients that open too many;
    // 1 keeps to a single connection.
    static constexpr int kMinConnections = 1;
    static constexpr int kMaxConnections = 16;
    static constexpr int kDefaultConnections = 4;
    int connections = kDefaultConnections;
    // SFTP: a private key to log in with when the password is empty, after the SSH agent and
    // the default keys. Empty: none.
    std::string keyfile;
    // Bytes per second all of the site's connections together may upload; 0: no cap. For
    // links that others share (the office line, a hosting plan that throttles bursts).
    int64_t uploadRateLimit = 0;

    // Keyring: the password lives in the desktop keyring and `pass` is empty; the files say so
    // with "passwordstore=keyring" and hold no "pass" value.
    enum class PasswordPlace : char { File, Keyring };
    PasswordPlace passwordPlace = PasswordPlace::File;
    static constexpr const char* kPasswordStoreKey = "passwordstore";
    static constexpr const char* kKeyringMarker = "keyring";

    // A password written back into a file by hand is used as it stands.
    void settlePasswordPlace()
    {
        if (!pass.empty())
            passwordPlace = PasswordPlace::File;
    }

    bool operator==(const FtpSite&) const = default;
};
