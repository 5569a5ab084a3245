#pragma once

#include <QDialog>

#include <functional>
#include <string>

struct FtpSite;
class PasswordStore;
class QTreeWidget;
class SiteList;
class UiStrings;

// The book of FTP sites: Properties, New and Delete, with the sites file written after every
// change.
class CDlgSiteList final : public QDialog {
    Q_OBJECT
public:
    // Opens the site editor; answers whether the user pressed OK.
    using SiteEditor = std::function<bool(FtpSite& site)>;

    // `fallbackPath`: where the sites file goes when the book was never read from a file.
    CDlgSiteList(const UiStrings& strings, SiteList& sites, std::string fallbackPath, QWidget* parent = nullptr);

    void editProperties();
    void addSite();
    void deleteSite();
    void setSiteEditor(SiteEditor editor) { editSite_ = std::move(editor); }
    // Where the site editor keeps passwords; nullptr (the default): in the sites file.
    void setPasswordStore(PasswordStore* passwords) { passwords_ = passwords; }

    [[nodiscard]] QTreeWidget* list() const { return list_; }

private:
    void fillList();
    void writeSites();
    [[nodiscard]] int selectedIndex() const;

    const UiStrings& strings_;
    SiteList& sites_;
    std::string fallbackPath_;
    QTreeWidget* list_;
    SiteEditor editSite_;
    PasswordStore* passwords_ = nullptr;
};
