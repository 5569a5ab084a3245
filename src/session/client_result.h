#pragma once

#include <string>

// What the caller of a client call should do next.
enum class Failure : unsigned char {
    None,
    // This file or folder did not get through but the connection still works: count it as
    // failed, go on with the next one, and the next run tries it again.
    RetryItem,
    // The connection is lost or no longer trustworthy: log in again before sending more.
    Reconnect,
    // Nothing more can be done on this site in this run: the login or the server's identity
    // was refused, or the run was stopped.
    GiveUpSite,
};

// Whether a rename whose source is not on the server is worth an error line: an archive
// move of a file that may never have been uploaded is not.
enum class MissingSource : unsigned char { IsAnError, MayBeAbsent };

// The outcome of one client call. `code` is the server's reply code (FTP) or 0 where none
// applies; `systemError` the errno of a local or socket failure, 0 when there was none;
// `serverText` the server's own words for the refusal that ended a failed call ("550
// Permission denied."), empty when there were none.
struct [[nodiscard]] ClientResult {
    int code = 0;
    Failure failure = Failure::None;
    int systemError = 0;
    std::string serverText;

    [[nodiscard]] bool ok() const { return failure == Failure::None; }
    // The reply code `serverText` begins with, or 0: `code` holds the call's own verdict,
    // which for a transfer the server refused before any data is not the server's code.
    [[nodiscard]] int refusalCode() const;
    explicit operator bool() const { return ok(); }

    static ClientResult success(int code = 0) { return { code, Failure::None, 0, {} }; }
    static ClientResult failed(Failure failure, int code = 0, int systemError = 0, std::string serverText = {})
    {
        return { code, failure, systemError, std::move(serverText) };
    }
};

// "none", "retry", "reconnect", "give up": for logs and test messages.
[[nodiscard]] const char* failureName(Failure failure);
