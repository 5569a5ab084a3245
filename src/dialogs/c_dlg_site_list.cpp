#include "dialogs/c_dlg_site_list.h"

#include "config/site_list.h"
#include "dialogs/c_dlg_sites.h"
#include "dialogs/dialog_text.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using dialog_text::toQt;

CDlgSiteList::CDlgSiteList(const UiStrings& strings, SiteList& sites, std::string fallbackPath, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , sites_(sites)
    , fallbackPath_(std::move(fallbackPath))
    , list_(new QTreeWidget(this))
{
    setWindowTitle(strings("sitelist.title"));
    setWindowIcon(app_icons::idle());
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setHeaderLabels({ strings("sitelist.name"), strings("sitelist.url"), strings("sitelist.user") });
    for (int column = 0; column < 3; ++column)
        list_->setColumnWidth(column, 200);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    auto* buttons = new QVBoxLayout();
    auto* properties = new QPushButton(strings("sitelist.properties"), this);
    auto* add = new QPushButton(strings("sitelist.new"), this);
    auto* remove = new QPushButton(strings("sitelist.delete"), this);
    auto* close = new QPushButton(strings("sitelist.close"), this);
    for (QPushButton* button : { properties, add, remove, close })
        buttons->addWidget(button);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(properties, &QPushButton::clicked, this, &CDlgSiteList::editProperties);
    connect(add, &QPushButton::clicked, this, &CDlgSiteList::addSite);
    connect(remove, &QPushButton::clicked, this, &CDlgSiteList::deleteSite);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &CDlgSiteList::editProperties);
    resize(760, 320);

    editSite_
        = [this](FtpSite& site) { return CDlgSites(strings_, site, this, passwords_).exec() == QDialog::Accepted; };
    fillList();
}

void CDlgSiteList::fillList()
{
    list_->clear();
    for (const FtpSite& site : sites_.sites)
        list_->addTopLevelItem(new QTreeWidgetItem({ toQt(site.name), toQt(site.url), toQt(site.user) }));
}

int CDlgSiteList::selectedIndex() const
{
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty())
        return -1;
    int first = list_->indexOfTopLevelItem(selected.first());
    for (QTreeWidgetItem* item : selected)
        first = std::min(first, list_->indexOfTopLevelItem(item));
    return first < static_cast<int>(sites_.sites.size()) ? first : -1;
}

void CDlgSiteList::writeSites()
{
    // A book that was never read has no path of its own; it must not be lost.
    const std::string path = sites_.path().empty() ? fallbackPath_ : std::string();
    (void)sites_.writeSites(path);
}

void CDlgSiteList::editProperties()
{
    const int index = selectedIndex();
    if (index < 0)
        return;
    (void)editSite_(sites_.sites[static_cast<size_t>(index)]);
    writeSites();
}

void CDlgSiteList::addSite()
{
    FtpSite site;
    if (!editSite_(site))
        return;
    sites_.sites.push_back(std::move(site));
    writeSites();
    fillList();
}

void CDlgSiteList::deleteSite()
{
    const int index = selectedIndex();
    if (index < 0)
        return;
    sites_.sites.erase(sites_.sites.begin() + index);
    fillList();
    writeSites();
}
