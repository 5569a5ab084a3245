#include "ui/help_page.h"

#include "platform/file_utils.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include <sys/stat.h>

std::string HelpPage::install(const std::string& dataDirectory)
{
    QFile resource(QStringLiteral(":/tarnwick/help/a01index.htm"));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    const QByteArray page = resource.readAll();
    const std::string folder = dataDirectory + "help";
    ::mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/a01index.htm";
    std::optional<std::string> current = readWholeFile(path);
    if (current && current->size() == static_cast<size_t>(page.size())
        && current->compare(0, current->size(), page.constData(), current->size()) == 0)
        return path;
    if (!writeFileAtomically(path, std::string_view(page.constData(), static_cast<size_t>(page.size()))))
        return {};
    return path;
}

bool HelpPage::open(const std::string& dataDirectory)
{
    const std::string path = install(dataDirectory);
    return !path.empty() && QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}
