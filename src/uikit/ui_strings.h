#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <string>

enum class UiLanguage {
    English,
    German,
};

// The user-visible texts of the desktop application in one language, read from the string
// table of the program's resources. Read-only after construction, so any thread may use it.
class UiStrings {
public:
    explicit UiStrings(UiLanguage language);

    // German when the first set of LC_ALL, LC_MESSAGES and LANG starts with "de".
    [[nodiscard]] static UiLanguage languageFromEnvironment();
    [[nodiscard]] static UiLanguage languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

    [[nodiscard]] UiLanguage language() const { return language_; }
    // The text of `key`; a key missing from the table comes back as itself, so a gap shows
    // on screen instead of an empty label.
    [[nodiscard]] QString text(const char* key) const;
    [[nodiscard]] QString operator()(const char* key) const { return text(key); }
    // The list column names of string 107, in table order.
    [[nodiscard]] QStringList columnNames() const;
    // The hint sections of this language, exactly as stored.
    [[nodiscard]] std::string hintText() const;

private:
    UiLanguage language_;
    QHash<QString, QString> texts_;
};
