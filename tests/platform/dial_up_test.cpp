#include "platform/dial_up.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

// A stand-in for nmcli that keeps the connection state in a file and logs every call with
// its arguments bracketed, so the tests see exactly how the arguments were split. It uses
// shell built-ins only, because some tests run it with a PATH that holds nothing else.
class FakeNmcli {
public:
    explicit FakeNmcli(const std::string& body = {})
    {
        const std::string dir = folder_.path();
        std::string script = "#!/bin/sh\n"
                             "for a in \"$@\"; do printf '[%s]' \"$a\" >> '"
            + dir + "/calls'; done\necho >> '" + dir + "/calls'\n";
        if (body.empty()) {
            script += "case \"$*\" in\n"
                      "'-t -f NAME connection show') printf '%s\\n' 'Home WiFi' 'Work\\:VPN' '' 'Dial Up' "
                      "'back\\\\slash' ;;\n"
                      "'-t -f STATE general') read state < '"
                + dir
                + "/state'; echo \"$state\" ;;\n"
                  "'connection up id Unknown') exit 10 ;;\n"
                  "'connection up id '*) echo connected > '"
                + dir
                + "/state'; echo 'Connection successfully activated' ;;\n"
                  "'connection down id '*) echo disconnected > '"
                + dir
                + "/state' ;;\n"
                  "*) exit 2 ;;\n"
                  "esac\n";
        } else {
            script += body;
        }
        const std::string path = folder_.writeFile("nmcli", script);
        ::chmod(path.c_str(), 0755);
        setState("disconnected");
    }

    [[nodiscard]] const std::string& folder() const { return folder_.path(); }
    void setState(const std::string& state) const { (void)folder_.writeFile("state", state + "\n"); }
    [[nodiscard]] std::string calls() const
    {
        std::ifstream in(folder_.file("calls"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    TempDir folder_;
};

TEST(DialUp, WithoutNmcliNothingIsDialedAndTheNetworkCountsAsUp)
{
    TempDir empty;
    TempDir notExecutable;
    (void)notExecutable.writeFile("nmcli", "#!/bin/sh\nexit 0\n");
    TempDir directoryNamedNmcli;
    directoryNamedNmcli.makeDirectory("nmcli");
    const std::string paths[] = { empty.path(), notExecutable.path(), directoryNamedNmcli.path(), "", ":" };
    for (const std::string& path : paths) {
        SCOPED_TRACE("search path '" + path + "'");
        DialUp dialUp(path);
        dialUp.start();
        EXPECT_FALSE(dialUp.isAvailable());
        EXPECT_EQ(dialUp.dial("Dial Up"), static_cast<int32_t>(0x80004001u));
        EXPECT_TRUE(dialUp.isConnected());
        EXPECT_TRUE(dialUp.enumerateEntries().empty());
        dialUp.hangUp();
    }
}

TEST(DialUp, NotStartedIsUnavailable)
{
    FakeNmcli nmcli;
    DialUp dialUp(nmcli.folder());
    EXPECT_EQ(dialUp.dial("Dial Up"), DialUp::kNotImplemented);
    EXPECT_TRUE(dialUp.isConnected());
    EXPECT_EQ(nmcli.calls(), "");
}

TEST(DialUp, ListsConnectionNamesWithTerseEscapesUndone)
{
    FakeNmcli nmcli;
    TempDir empty;
    DialUp dialUp(empty.path() + ":" + nmcli.folder());
    dialUp.start();
    ASSERT_TRUE(dialUp.isAvailable());
    const std::vector<std::string> expected { "Home WiFi", "Work:VPN", "Dial Up", "back\\slash" };
    EXPECT_EQ(dialUp.enumerateEntries(), expected);
    EXPECT_EQ(nmcli.calls(), "[-t][-f][NAME][connection][show]\n");
}

TEST(DialUp, DialConnectedHangUp)
{
    FakeNmcli nmcli;
    DialUp dialUp(nmcli.folder());
    dialUp.start();
    EXPECT_FALSE(dialUp.isConnected());
    EXPECT_EQ(dialUp.dial("Dial Up"), 0);
    EXPECT_TRUE(dialUp.isConnected());
    dialUp.hangUp();
    EXPECT_FALSE(dialUp.isConnected());
    dialUp.hangUp(); // nothing left to take down
    EXPECT_EQ(nmcli.calls(),
        "[-t][-f][STATE][general]\n"
        "[connection][up][id][Dial Up]\n"
        "[-t][-f][STATE][general]\n"
        "[connection][down][id][Dial Up]\n"
        "[-t][-f][STATE][general]\n");
}

TEST(DialUp, FailedDialReturnsTheStatusAndHangsUpNothing)
{
    FakeNmcli nmcli;
    DialUp dialUp(nmcli.folder());
    dialUp.start();
    EXPECT_EQ(dialUp.dial("Unknown"), 10);
    dialUp.hangUp();
    EXPECT_EQ(nmcli.calls(), "[connection][up][id][Unknown]\n");
}

TEST(DialUp, OnlyTheConnectedStateCounts)
{
    FakeNmcli nmcli;
    DialUp dialUp(nmcli.folder());
    dialUp.start();
    const std::pair<const char*, bool> states[] = {
        { "connected", true },
        { "connected (local only)", false },
        { "connected (site only)", false },
        { "connecting", false },
        { "disconnected", false },
        { "asleep", false },
        { "", false },
    };
    for (const auto& [state, connected] : states) {
        nmcli.setState(state);
        EXPECT_EQ(dialUp.isConnected(), connected) << state;
    }
}

TEST(DialUp, FailingNmcliMeansNotConnectedAndNoEntries)
{
    // What nmcli does when NetworkManager is not running.
    FakeNmcli nmcli("echo 'Error: NetworkManager is not running.'; exit 8\n");
    DialUp dialUp(nmcli.folder());
    dialUp.start();
    EXPECT_TRUE(dialUp.isAvailable());
    EXPECT_FALSE(dialUp.isConnected());
    EXPECT_TRUE(dialUp.enumerateEntries().empty());
    EXPECT_EQ(dialUp.dial("Dial Up"), 8);
}

TEST(DialUp, HungNmcliIsKilledAtTheBudget)
{
    // The script's child keeps standard output open too; killing the group must end both.
    FakeNmcli nmcli("/bin/sleep 1000 &\nexec /bin/sleep 1000\n");
    DialUp dialUp(nmcli.folder(), std::chrono::milliseconds(200));
    dialUp.start();
    EXPECT_EQ(dialUp.dial("Dial Up"), DialUp::kCommandFailed);
    EXPECT_FALSE(dialUp.isConnected());
}

// Restores PATH when the test ends, so later tests see the runner's own.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& value)
    {
        if (const char* old = std::getenv("PATH"))
            old_ = old;
        ::setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath()
    {
        if (old_)
            ::setenv("PATH", old_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(DialUp, FindsNmcliThroughPath)
{
    FakeNmcli nmcli;
    {
        ScopedPath path(nmcli.folder() + ":/usr/bin:/bin");
        DialUp dialUp;
        dialUp.start();
        EXPECT_TRUE(dialUp.isAvailable());
        EXPECT_EQ(dialUp.enumerateEntries().size(), 4u);
    }
    {
        TempDir empty;
        ScopedPath path(empty.path());
        DialUp dialUp;
        dialUp.start();
        EXPECT_FALSE(dialUp.isAvailable());
        EXPECT_EQ(dialUp.dial("Dial Up"), DialUp::kNotImplemented);
        EXPECT_TRUE(dialUp.isConnected());
    }
}

TEST(DialUp, StopAndRestartAndDestroyRightAfterStart)
{
    FakeNmcli nmcli;
    DialUp dialUp(nmcli.folder());
    dialUp.start();
    dialUp.start();
    dialUp.stop();
    dialUp.stop();
    dialUp.start();
    EXPECT_TRUE(dialUp.isAvailable());
    DialUp shortLived(nmcli.folder());
    shortLived.start();
}

} // namespace
