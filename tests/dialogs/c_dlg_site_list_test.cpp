#include "dialogs/c_dlg_site_list.h"

#include "config/site_list.h"
#include "dialogs/c_dlg_sites.h"
#include "platform/file_utils.h"
#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

FtpSite site(const char* name, const char* url)
{
    FtpSite entry;
    entry.name = name;
    entry.url = url;
    entry.user = "u";
    return entry;
}

SiteList reread(const std::string& path)
{
    SiteList sites;
    EXPECT_TRUE(sites.readSites(path));
    return sites;
}

} // namespace

TEST(CDlgSiteList, NewDeleteAndPropertiesRewriteTheSitesFile)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    TempDir folder;
    const std::string path = folder.file("sites.inf");
    SiteList sites;
    sites.sites = { site("one", "a.example"), site("two", "b.example") };
    ASSERT_TRUE(sites.writeSites(path));
    sites.sites.clear();
    ASSERT_TRUE(sites.readSites(path));

    CDlgSiteList dialog(strings, sites, folder.file("unused.inf"));
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.list()->topLevelItem(1)->text(1), "b.example");

    // New, cancelled: nothing changes.
    dialog.setSiteEditor([](FtpSite& edited) {
        edited.name = "dropped";
        return false;
    });
    dialog.addSite();
    EXPECT_EQ(reread(path).sites.size(), 2u);

    // New with OK, every field empty: appended as it is.
    dialog.setSiteEditor([](FtpSite&) { return true; });
    dialog.addSite();
    EXPECT_EQ(dialog.list()->topLevelItemCount(), 3);
    ASSERT_EQ(reread(path).sites.size(), 3u);
    EXPECT_EQ(reread(path).sites[2].name, "");

    // Properties cancelled still writes the (unchanged) book.
    ::remove(path.c_str());
    dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
    dialog.setSiteEditor([](FtpSite&) { return false; });
    dialog.editProperties();
    EXPECT_EQ(reread(path).sites.size(), 3u);

    // Delete asks nothing.
    dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
    dialog.deleteSite();
    ASSERT_EQ(reread(path).sites.size(), 2u);
    EXPECT_EQ(reread(path).sites[0].name, "two");
    EXPECT_EQ(dialog.list()->topLevelItemCount(), 2);
}

TEST(CDlgSiteList, ABookNeverReadIsWrittenToTheDataDirectory)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    TempDir folder;
    SiteList sites;
    CDlgSiteList dialog(strings, sites, folder.file("sites.inf"));
    dialog.setSiteEditor([](FtpSite& edited) {
        edited.name = "neu";
        return true;
    });
    dialog.addSite();
    EXPECT_EQ(reread(folder.file("sites.inf")).sites.at(0).name, "neu");
}

TEST(CDlgSites, OkStoresTheFieldsAndAnonymousFillsTheLogin)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    FtpSite edited = site("n", "host:21");
    edited.pass = "secret";
    edited.startdir = "pub";
    edited.localDirectory = "/home/w";
    {
        CDlgSites dialog(strings, edited);
        EXPECT_EQ(dialog.windowTitle(), "Tarnwick - Other FTP sites");
        EXPECT_EQ(dialog.passwordField()->text(), "secret");
        dialog.userField()->setText("typed");
        dialog.anonymousBox()->click();
        EXPECT_EQ(dialog.userField()->text(), "anonymous");
        EXPECT_EQ(dialog.passwordField()->text(), "gast@");
        dialog.anonymousBox()->click();
        EXPECT_EQ(dialog.userField()->text(), "anonymous");
        dialog.reject();
    }
    EXPECT_EQ(edited.user, "u");
    {
        CDlgSites dialog(strings, edited);
        dialog.nameField()->setText(" spaced ");
        dialog.directoryField()->setText("/www/");
        dialog.localDirectoryField()->setText("/srv/site");
        dialog.accept();
    }
    EXPECT_EQ(edited.name, " spaced ");
    EXPECT_EQ(edited.startdir, "/www/");
    EXPECT_EQ(edited.localDirectory, "/srv/site");
    EXPECT_EQ(edited.url, "host:21");
}
