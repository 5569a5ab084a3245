// How long the main window's list of modified files takes to show 100,000 entries again:
// copying the rows out of the project, resetting the model and painting the visible part.
#include "engine/web_project.h"
#include "ui/file_list_model.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;

    WebProject project;
    project.strategy = 2;
    project.items.reserve(static_cast<size_t>(entries));
    for (int index = 0; index < entries; ++index) {
        FileItem item;
        item.path = "/home/user/www/section" + std::to_string(index % 97) + "/page" + std::to_string(index) + ".html";
        item.changed = index % 3 == 0;
        item.deleted = index % 31 == 0;
        item.mtime = 1'165'500'000 + index;
        item.size = index * 17;
        item.author = "author";
        item.editor = "editor";
        project.items.push_back(std::move(item));
    }

    FileListModel model({ "Filename", "Path", "Size", "Modified", "Author", "Editor" });
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(20);
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();

    std::printf("entries %d\n", entries);
    for (int round = 1; round <= 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        view.setUpdatesEnabled(false);
        model.setRows(FileListModel::rowsOf(project));
        view.setUpdatesEnabled(true);
        view.viewport()->repaint();
        QApplication::processEvents();
        const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        std::printf("refresh %d: %d rows in %.1f ms\n", round, model.rowCount(), elapsed.count());
    }
    return 0;
}
