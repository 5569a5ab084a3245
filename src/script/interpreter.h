#pragma once

#include <string>
#include <string_view>

class RemoteSession;

enum class Recursion {
    ThisFolderOnly,
    IntoSubfolders,
};

// The command language of before/after scripts and of the run's own queued lines, carried out
// on one client: mv, cd, md, mkdir, lcd, lmd, put, get, list, pwd, dele; anything else goes to
// the server as typed. Each line is echoed to the client's sink first. Answers a reply code,
// RemoteSession::kTransferNotCarriedOut, 0, or 0/-1 for the local commands.
[[nodiscard]] int runScriptLine(RemoteSession& client, std::string_view line);

// The wildcard upload behind "put" with one name: every matching file goes to the client's
// current remote folder under its bare name. Always 0.
int uploadMatching(RemoteSession& client, const std::string& pattern, Recursion recursion);
