#include "ui/file_list_model.h"

#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "uikit/app_icons.h"

#include <cinttypes>
#include <cstdio>

namespace {

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

FileListModel::Row rowOf(const FileItem& item)
{
    FileListModel::Row row;
    const size_t slash = item.path.rfind('/');
    if (slash == std::string::npos) {
        row.name = item.path;
        return row;
    }
    row.fullPath = item.path;
    row.name = item.path.substr(slash + 1);
    row.folder = item.path.substr(0, slash);
    row.author = item.author;
    row.editor = item.editor;
    row.mtime = item.mtime;
    row.size = item.size;
    row.deleted = item.deleted;
    if (!item.changed)
        row.image = FileListModel::Image::Unchanged;
    else
        row.image = item.deleted ? FileListModel::Image::Deleted : FileListModel::Image::Changed;
    return row;
}

} // namespace

FileListModel::FileListModel(QStringList columnNames, QObject* parent)
    : QAbstractTableModel(parent)
{
    while (columnNames.size() < 6)
        columnNames.append(QString());
    // The fourth name is shown before the third: Size moves to the end.
    headers_ = { columnNames[0], columnNames[1], columnNames[3], columnNames[4], columnNames[5], columnNames[2] };
    images_[0] = app_icons::changedFile();
    images_[1] = app_icons::unchangedFile();
    images_[2] = app_icons::deletedFile();
}

std::vector<FileListModel::Row> FileListModel::rowsOf(const WebProject& project)
{
    std::vector<Row> rows;
    rows.reserve(project.items.size());
    for (const FileItem& item : project.items) {
        if (item.changed)
            rows.push_back(rowOf(item));
    }
    if (project.strategy == ProjectSettings::kFileListStrategy
        || project.strategy == ProjectSettings::kContentStrategy) {
        for (const FileItem& item : project.items) {
            if (!item.changed)
                rows.push_back(rowOf(item));
        }
    }
    return rows;
}

void FileListModel::setRows(std::vector<Row> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

QString FileListModel::modifiedText(int64_t seconds)
{
    const struct tm local = localTimeOf(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%.2d.%.2d.%.2d %.2d:%.2d", local.tm_mday, local.tm_mon + 1,
        (local.tm_year + 1900) % 100, local.tm_hour, local.tm_min);
    return QString::fromLatin1(text);
}

QString FileListModel::sizeText(int64_t size)
{
    char text[32];
    std::snprintf(text, sizeof text, "%8" PRId64, size);
    return QString::fromLatin1(text);
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& entry = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == Filename && entry.image != Image::None)
        return images_[static_cast<int>(entry.image)];
    if (role != Qt::DisplayRole)
        return {};
    const bool hasEntry = !entry.fullPath.empty();
    switch (index.column()) {
    case Filename: return fromBytes(entry.name);
    case Path: return fromBytes(entry.folder);
    case Modified: return hasEntry && !entry.deleted ? modifiedText(entry.mtime) : QString();
    case Author: return fromBytes(entry.author);
    case Editor: return fromBytes(entry.editor);
    case Size: return hasEntry ? sizeText(entry.size) : QString();
    default: return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return headers_[section];
}
