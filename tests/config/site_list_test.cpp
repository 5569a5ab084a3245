#include "config/site_list.h"
#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

FtpSite site(std::string name, std::string password, std::string localDirectory)
{
    FtpSite result;
    result.name = std::move(name);
    result.url = "ftp.example.org";
    result.user = "user";
    result.pass = std::move(password);
    result.startdir = "www";
    result.localDirectory = std::move(localDirectory);
    return result;
}

TEST(SiteList, RoundTrip)
{
    TempDir dir;
    SiteList saved;
    saved.sites
        = { site("One", "a=b", ""), site("", "", ""), site("Three", "ü €", "/home/u/site"), site("Four", "", "") };
    saved.sites.back().passwordPlace = FtpSite::PasswordPlace::Keyring;
    std::string path = dir.file("sites.inf");
    ASSERT_TRUE(saved.writeSites(path));
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    SiteList loaded;
    ASSERT_TRUE(loaded.readSites(path));
    EXPECT_EQ(loaded.sites, saved.sites);
    EXPECT_EQ(loaded.path(), path);

    // The same file with CR LF line ends and without the last line end.
    std::string text = *readWholeFile(path);
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    crlf.resize(crlf.size() - 2);
    SiteList fromWindows;
    ASSERT_TRUE(fromWindows.readSites(dir.writeFile("crlf.inf", crlf)));
    EXPECT_EQ(fromWindows.sites, saved.sites);
}

TEST(SiteList, WritesTheDocumentedLines)
{
    SiteList list;
    list.sites = { site("n", "", "") };
    list.sites[0].preScript = { "not stored here" };
    EXPECT_EQ(
        list.serialize(), "[*]\nname=n\nurl=ftp.example.org\nusername=user\npassword=\nstartdir=www\nlocaldir=\n");
}

struct ReaderRow {
    const char* name;
    std::string content;
    std::vector<FtpSite> expected;
};

TEST(SiteList, ReaderEdgeCases)
{
    auto only = [](auto setter) {
        FtpSite result;
        setter(result);
        return std::vector<FtpSite> { result };
    };
    const std::string long300(300, 'p');
    const ReaderRow rows[] = {
        { "empty file", "", {} },
        { "key line before the first site is ignored", "name=early\n[*]\nurl=h\n",
            only([](FtpSite& s) { s.url = "h"; }) },
        { "keys are case-sensitive", "[*]\nName=x\nUSERNAME=y\nusername=z\n", only([](FtpSite& s) { s.user = "z"; }) },
        { "a key given twice keeps the later value", "[*]\nname=a\nname=b\n", only([](FtpSite& s) { s.name = "b"; }) },
        { "password keeps every = after the first", "[*]\npassword==x=\n", only([](FtpSite& s) { s.pass = "=x="; }) },
        { "project-file keys are not site keys", "[*]\nuser=u\npass=p\nlocaldir=/l\n",
            only([](FtpSite& s) { s.localDirectory = "/l"; }) },
        { "header must be exact", "[*] \n[*]\r\n[ * ]\nname=n", only([](FtpSite& s) { s.name = "n"; }) },
        { "a line over 254 bytes is read whole", "[*]\npassword=" + long300 + "\n",
            only([&](FtpSite& s) { s.pass = long300; }) },
        { "the tail of a long line never sets a key", "[*]\n" + std::string(254, 'x') + "name=tail\n",
            only([](FtpSite&) {}) },
        { "password in the keyring", "[*]\npassword=\npasswordstore=keyring\n",
            only([](FtpSite& s) { s.passwordPlace = FtpSite::PasswordPlace::Keyring; }) },
        { "a clear password beats the marker", "[*]\npasswordstore=keyring\npassword=p\n",
            only([](FtpSite& s) { s.pass = "p"; }) },
        { "a long password keeps its tail", "[*]\npassword=" + std::string(254 - 9, 'p') + "url=evil\n",
            only([](FtpSite& s) { s.pass = std::string(254 - 9, 'p') + "url=evil"; }) },
    };
    TempDir dir;
    for (const ReaderRow& row : rows) {
        SCOPED_TRACE(row.name);
        SiteList list;
        ASSERT_TRUE(list.readSites(dir.writeFile("sites.inf", row.content)));
        EXPECT_EQ(list.sites, row.expected);
    }
}

TEST(SiteList, ReadAppendsAndFailuresChangeNothing)
{
    TempDir dir;
    SiteList list;
    list.sites = { site("kept", "", "") };
    ASSERT_TRUE(list.readSites(dir.writeFile("a.inf", "[*]\nname=added\n")));
    ASSERT_EQ(list.sites.size(), 2u);
    EXPECT_EQ(list.sites[1].name, "added");

    EXPECT_FALSE(list.readSites(dir.file("missing.inf")));
    EXPECT_FALSE(list.readSites(dir.makeDirectory("folder.inf")));
    EXPECT_EQ(list.sites.size(), 2u);
    EXPECT_EQ(list.path(), dir.file("folder.inf"));

    // An empty path writes to the file last read, which here cannot be replaced.
    EXPECT_FALSE(list.writeSites());
    EXPECT_FALSE(SiteList().writeSites()) << "no path at all";
}

TEST(SiteList, EmptyPathWritesTheRememberedFile)
{
    TempDir dir;
    std::string path = dir.writeFile("sites.inf", "[*]\nname=a\n");
    SiteList list;
    ASSERT_TRUE(list.readSites(path));
    list.sites[0].name = "b";
    ASSERT_TRUE(list.writeSites());
    SiteList again;
    ASSERT_TRUE(again.readSites(path));
    ASSERT_EQ(again.sites.size(), 1u);
    EXPECT_EQ(again.sites[0].name, "b");
}

TEST(SiteList, LineFeedInAValueCannotAddASite)
{
    TempDir dir;
    SiteList list;
    list.sites = { site("a\n[*]\nname=b", "pw\nurl=evil", "") };
    std::string path = dir.file("sites.inf");
    ASSERT_TRUE(list.writeSites(path));
    SiteList loaded;
    ASSERT_TRUE(loaded.readSites(path));
    ASSERT_EQ(loaded.sites.size(), 1u);
    EXPECT_EQ(loaded.sites[0].name, "a");
    EXPECT_EQ(loaded.sites[0].pass, "pw");
    EXPECT_EQ(loaded.sites[0].url, "ftp.example.org");
}

} // namespace
