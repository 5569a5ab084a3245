#pragma once

#include "report/activity_log.h"

#include <QAbstractListModel>

#include <deque>

// The lines of the log window: the activity log behind it plus the texts the view shows,
// kept to the same capacity so a long-running program does not grow without end. Window
// thread only.
class LogLineModel final : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LogLineModel(size_t capacity = ActivityLog::kDefaultCapacity, QObject* parent = nullptr);

    void append(const std::string& text);
    void clear();
    [[nodiscard]] const ActivityLog& log() const { return log_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    size_t capacity_;
    ActivityLog log_;
    std::deque<QString> shown_;
};
