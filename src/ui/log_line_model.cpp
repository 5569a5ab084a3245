#include "ui/log_line_model.h"

LogLineModel::LogLineModel(size_t capacity, QObject* parent)
    : QAbstractListModel(parent)
    , capacity_(capacity == 0 ? 1 : capacity)
    , log_(capacity_)
{
}

void LogLineModel::append(const std::string& text)
{
    const std::string line = ActivityLog::cutAtCarriageReturn(text);
    log_.append(line);
    if (shown_.size() >= capacity_) {
        beginRemoveRows({}, 0, 0);
        shown_.pop_front();
        endRemoveRows();
    }
    const int row = static_cast<int>(shown_.size());
    beginInsertRows({}, row, row);
    shown_.push_back(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    endInsertRows();
}

void LogLineModel::clear()
{
    beginResetModel();
    log_.clear();
    shown_.clear();
    endResetModel();
}

int LogLineModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return shown_[static_cast<size_t>(index.row())];
}
