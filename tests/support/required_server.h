#pragma once

#include <gtest/gtest.h>
#include <string>

// True when the environment has CI=true. There, a real server that cannot start is a broken
// install step, and a test that needs it must fail instead of skipping into a green run.
[[nodiscard]] bool realServersRequired();

// For a test body or SetUp: with `reason` non-empty (a server cannot run here, see
// FtpServer::unavailableReason) the test is skipped, or failed when real servers are
// required. Either way it returns.
#define SKIP_UNLESS_SERVER_RUNS(reason)                                                                                \
    do {                                                                                                               \
        if (const std::string skipReason_ = (reason); !skipReason_.empty()) {                                          \
            if (realServersRequired())                                                                                 \
                FAIL() << "CI=true needs this server: " << skipReason_;                                                \
            GTEST_SKIP() << skipReason_;                                                                               \
        }                                                                                                              \
    } while (false)

// For a loop over servers that leaves out the ones that cannot run: true when `reason` says
// this one cannot, and then, when real servers are required, the test is marked failed.
[[nodiscard]] bool leaveOutServer(const std::string& reason);
