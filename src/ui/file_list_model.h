#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

class WebProject;

// The modified files of the selected project as the main window lists them. The rows are a
// copy taken at refresh time, so the list never reads a project that a worker is changing;
// the texts of each cell are made when the view asks for them, which keeps a refresh of a
// hundred thousand rows cheap.
class FileListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Filename,
        Path,
        Modified,
        Author,
        Editor,
        Size,
        ColumnCount,
    };
    enum class Image {
        Changed = 0,
        Unchanged = 1,
        Deleted = 2,
        None = -1,
    };

    struct Row {
        std::string fullPath; // empty for a row that carries no entry
        std::string name;
        std::string folder;
        std::string author;
        std::string editor;
        int64_t mtime = 0;
        int64_t size = 0;
        Image image = Image::None;
        bool deleted = false;
    };

    // `columnNames` in table order, as string 107 lists them: Filename, Path, Size,
    // Modified, Author, Editor.
    explicit FileListModel(QStringList columnNames, QObject* parent = nullptr);

    // Changed entries first, then, under the file-list strategy only, the unchanged ones.
    [[nodiscard]] static std::vector<Row> rowsOf(const WebProject& project);
    void setRows(std::vector<Row> rows);
    [[nodiscard]] const Row& row(int index) const { return rows_[static_cast<size_t>(index)]; }

    // "%.2d.%.2d.%.2d %.2d:%.2d" in local time: day, month, two-digit year, hour, minute.
    [[nodiscard]] static QString modifiedText(int64_t seconds);
    [[nodiscard]] static QString sizeText(int64_t size);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList headers_;
    std::vector<Row> rows_;
    QIcon images_[3];
};
