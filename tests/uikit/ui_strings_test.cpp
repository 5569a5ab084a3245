#include "uikit/ui_strings.h"

#include <gtest/gtest.h>

TEST(UiStrings, LanguageFollowsTheFirstLocaleVariableThatIsSet)
{
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        UiLanguage language;
    } cases[] = {
        { nullptr, nullptr, nullptr, UiLanguage::English },
        { nullptr, nullptr, "de_DE.UTF-8", UiLanguage::German },
        { "", "", "de_AT", UiLanguage::German },
        { nullptr, "en_GB.UTF-8", "de_DE.UTF-8", UiLanguage::English },
        { "de_CH", "en_US", "en_US", UiLanguage::German },
        { "C", nullptr, "de_DE", UiLanguage::English },
        { nullptr, nullptr, "dk_DK", UiLanguage::English },
    };
    for (const Case& row : cases)
        EXPECT_EQ(UiStrings::languageFromLocale(row.lcAll, row.lcMessages, row.lang), row.language)
            << (row.lcAll ? row.lcAll : "-") << " " << (row.lcMessages ? row.lcMessages : "-") << " "
            << (row.lang ? row.lang : "-");
}

TEST(UiStrings, TableHoldsBothLanguages)
{
    const UiStrings english(UiLanguage::English);
    const UiStrings german(UiLanguage::German);
    struct Case {
        const char* key;
        const char* english;
        const char* german;
    } cases[] = {
        { "103", "Do you want to delete the configuration?", "Soll die Konfiguration gelöscht werden?" },
        { "108", "<No dial up>", "<Keine Einwahl>" },
        { "110", "Connection OK", "Verbindung OK" },
        { "1083", "Also re-copy files with the same size", "Dateien mit gleicher Größe erneut kopieren" },
        { "main.find", "Find", "Suchen" },
        { "tray.uploadall", "Upload all", "Hochladen" },
        { "options.service", "Start as service", "Als Dienst starten" },
        { "sites.title", "Tarnwick - Other FTP sites", "FTP-Server" },
        { "web.title", "Tarnwick - Webprojekt", "Tarnwick - Webprojekt" },
        { "web.minutes", "minutes", "Minuten" },
    };
    for (const Case& row : cases) {
        EXPECT_EQ(english(row.key), QString::fromUtf8(row.english)) << row.key;
        EXPECT_EQ(german(row.key), QString::fromUtf8(row.german)) << row.key;
    }
    EXPECT_EQ(english.columnNames(), QStringList({ "Filename", "Path", "Size", "Modified", "Author", "Editor" }));
    EXPECT_EQ(
        german("edittext.hint3"), QStringLiteral("Beispiel:\nmkdir /start\nput c:\\web\\start.html /start/start.html"));
    EXPECT_EQ(english("no.such.key"), QStringLiteral("no.such.key"));
}
