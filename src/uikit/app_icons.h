#pragma once

#include <QIcon>
#include <QString>

// The images of the program, drawn for it and kept in its resources.
namespace app_icons {

[[nodiscard]] inline QIcon resource(const char* name)
{
    return QIcon(QStringLiteral(":/tarnwick/icons/") + QLatin1String(name));
}
[[nodiscard]] inline QIcon idle()
{
    return resource("app_idle.png");
}
[[nodiscard]] inline QIcon busy()
{
    return resource("app_busy.png");
}
[[nodiscard]] inline QIcon changedFile()
{
    return resource("file_changed.png");
}
[[nodiscard]] inline QIcon unchangedFile()
{
    return resource("file_unchanged.png");
}
[[nodiscard]] inline QIcon deletedFile()
{
    return resource("file_deleted.png");
}
[[nodiscard]] inline QIcon includedFolder()
{
    return resource("folder_included.png");
}
[[nodiscard]] inline QIcon excludedFolder()
{
    return resource("folder_excluded.png");
}

} // namespace app_icons
