#include "dialogs/browser_text.h"

#include "ui/ui_strings.h"

#include <cstring>

namespace {

struct Entry {
    const char* key;
    const char* english;
    const char* german;
};

const Entry kTexts[] = {
    { "browser.title", "FTP", "FTP" },
    { "browser.server", "FTP-Server", "FTP-Server" },
    { "browser.synchron", "Synchron", "Synchron" },
    { "browser.overwrite", "Over\nwrite", "Über-\nschreiben" },
    { "browser.log", "Log", "Ausgabe" },
    { "browser.sites", "Sites", "Sites" },
    { "browser.column.name", "Filename", "Filename" },
    { "browser.column.size", "Size", "Size" },
    { "browser.column.date", "Date", "Date" },
    { "browser.newfolder", "New folder", "Neuer Ordner" },
    { "browser.rename", "Rename", "Umbenennen" },
    { "browser.delete", "Delete", "Löschen" },
    { "browser.differences", "Show differences", "Unterschiede anzeigen" },
    { "browser.relaunch", "Soft Relaunch...", "Soft Relaunch..." },
    { "browser.valuefolder", "Neuer Ordner", "Neuer Ordner" },
    { "browser.valuerename", "Umbenennen", "Umbenennen" },
    { "browser.projectsonly", "This works only for web projects", "This works only for web projects" },
    { "browser.directory", "Directory", "Directory" },
    { "relaunch.title", "Neu kopieren", "Neu kopieren" },
    { "relaunch.find", "Find", "Suchen" },
    { "relaunch.start", "Start", "Start" },
    { "relaunch.done", "Done", "Done" },
    { "relaunch.description",
        "This function checks all files in all sub directories and allows automatic deletion of all files which are "
        "not locally present. Files with different size can be copied also.",
        "Diese Funktion prüft alle Dateien in allen Unterverzeichnissen und kann alle Dateien automatisch löschen, "
        "die lokal nicht vorhanden sind. Dateien mit anderer Größe können ebenfalls kopiert werden." },
};

} // namespace

namespace browser_text {

QString text(const UiStrings& strings, const char* key)
{
    QString fromTable = strings.text(key);
    if (fromTable != QLatin1String(key))
        return fromTable;
    for (const Entry& entry : kTexts)
        if (std::strcmp(entry.key, key) == 0)
            return QString::fromUtf8(strings.language() == UiLanguage::German ? entry.german : entry.english);
    return fromTable;
}

QString fillNumbers(const QString& format, std::initializer_list<int> values)
{
    QString result;
    auto next = values.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('%') && i + 1 < format.size() && format[i + 1] == QLatin1Char('d')
            && next != values.end()) {
            result += QString::number(*next++);
            ++i;
            continue;
        }
        result += format[i];
    }
    return result;
}

} // namespace browser_text
