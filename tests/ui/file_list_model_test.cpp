#include "ui/file_list_model.h"

#include "engine/web_project.h"
#include "support/qt_test_application.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

FileItem item(const char* path, bool changed, bool deleted = false, int64_t size = 12)
{
    FileItem entry;
    entry.path = path;
    entry.changed = changed;
    entry.deleted = deleted;
    entry.size = size;
    entry.mtime = 1'165'500'000;
    entry.author = "ann";
    entry.editor = "ed";
    return entry;
}

QString cell(const FileListModel& model, int row, int column, int role = Qt::DisplayRole)
{
    return model.data(model.index(row, column), role).toString();
}

} // namespace

TEST(FileListModel, ListsChangedEntriesFirstAndUnchangedOnlyForTheFileListStrategy)
{
    qtTestApplication();
    WebProject project;
    project.items = { item("/w/same.html", false), item("/w/new.html", true), item("/w/gone.html", true, true, 0) };
    struct Case {
        int strategy;
        std::vector<std::string> names;
    } cases[] = {
        { 2, { "new.html", "gone.html", "same.html" } },
        { 1, { "new.html", "gone.html" } },
        { 0, { "new.html", "gone.html" } },
    };
    for (const Case& row : cases) {
        project.strategy = row.strategy;
        std::vector<std::string> names;
        for (const FileListModel::Row& entry : FileListModel::rowsOf(project))
            names.push_back(entry.name);
        EXPECT_EQ(names, row.names) << "strategy " << row.strategy;
    }
}

TEST(FileListModel, CellsImagesAndColumnOrder)
{
    qtTestApplication();
    WebProject project;
    project.strategy = 2;
    project.items = { item("/w/sub/new.html", true), item("/w/gone.html", true, true, 0), item("/w/same.html", false),
        item("bare", true) };
    FileListModel model({ "Filename", "Path", "Size", "Modified", "Author", "Editor" });
    model.setRows(FileListModel::rowsOf(project));
    ASSERT_EQ(model.rowCount(), 4);
    QStringList headers;
    for (int column = 0; column < model.columnCount(); ++column)
        headers << model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({ "Filename", "Path", "Modified", "Author", "Editor", "Size" }));

    EXPECT_EQ(cell(model, 0, FileListModel::Filename), "new.html");
    EXPECT_EQ(cell(model, 0, FileListModel::Path), "/w/sub");
    EXPECT_EQ(cell(model, 0, FileListModel::Modified), FileListModel::modifiedText(1'165'500'000));
    EXPECT_EQ(cell(model, 0, FileListModel::Author), "ann");
    EXPECT_EQ(cell(model, 0, FileListModel::Editor), "ed");
    EXPECT_EQ(cell(model, 0, FileListModel::Size), "      12");
    EXPECT_EQ(model.row(0).image, FileListModel::Image::Changed);
    // A deleted entry: no time, a size of seven blanks and 0.
    EXPECT_EQ(model.row(1).image, FileListModel::Image::Deleted);
    EXPECT_EQ(cell(model, 1, FileListModel::Modified), "");
    EXPECT_EQ(cell(model, 1, FileListModel::Size), "       0");
    EXPECT_EQ(model.row(3).image, FileListModel::Image::Unchanged);
    EXPECT_EQ(model.row(3).name, "same.html");
    // A path without a folder has no image and carries no entry for the mark commands.
    EXPECT_EQ(model.row(2).name, "bare");
    EXPECT_EQ(model.row(2).image, FileListModel::Image::None);
    EXPECT_TRUE(model.row(2).fullPath.empty());
    EXPECT_TRUE(model.data(model.index(2, 0), Qt::DecorationRole).isNull());
    EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).isNull());
}

TEST(FileListModel, ModifiedTimeFormat)
{
    const QString text = FileListModel::modifiedText(0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d$")).match(text).hasMatch())
        << text.toStdString();
    EXPECT_EQ(FileListModel::sizeText(123456789012), "123456789012");
}
