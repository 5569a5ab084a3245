#include "dialogs/c_hint_text.h"
#include "uikit/ui_strings.h"

#include <gtest/gtest.h>

namespace {

const char* const kText = "[A]\r\nfirst\r\n\r\nsecond\r\n[B]\r\nbee\r\n[A]\r\nagain\r\n[C]";

CHintText loaded()
{
    CHintText hints;
    hints.Load(kText, { { 1, "A" }, { 2, "B" }, { 3, "MISSING" } });
    return hints;
}

} // namespace

TEST(CHintText, SectionsRunToTheNextHeaderAndRepeatedHeadersAppend)
{
    CHintText hints = loaded();
    EXPECT_EQ(hints.Section("A"), "first\r\n\r\nsecond\r\nagain\r\n");
    EXPECT_EQ(hints.Section("B"), "bee\r\n");
    EXPECT_EQ(hints.Section("C"), "");
    EXPECT_EQ(hints.Section("a"), "");
    EXPECT_EQ(hints.Section("MISSING"), "");
}

TEST(CHintText, LookupReportsOnlyChangesOfField)
{
    CHintText hints = loaded();
    std::string hint = "untouched";
    EXPECT_EQ(hints.Lookup(1, hint), CHintText::Result::Changed);
    EXPECT_EQ(hint, hints.Section("A"));
    EXPECT_EQ(hints.Lookup(1, hint), CHintText::Result::Unchanged);
    // A field without a key leaves the last hint in place.
    hint = "kept";
    EXPECT_EQ(hints.Lookup(99, hint), CHintText::Result::Unchanged);
    EXPECT_EQ(hint, "kept");
    EXPECT_EQ(hints.Lookup(2, hint), CHintText::Result::Changed);
    EXPECT_EQ(hint, "bee\r\n");
    EXPECT_EQ(hints.Lookup(1, hint), CHintText::Result::Changed);
    // A key with no section clears the hint.
    EXPECT_EQ(hints.Lookup(3, hint), CHintText::Result::Changed);
    EXPECT_EQ(hint, "");
}

TEST(CHintText, ShippedTextsHaveEveryKeyInBothLanguages)
{
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        CHintText hints;
        hints.Load(UiStrings(language).hintText(), {});
        for (const auto* table : { &CHintText::projectKeys(), &CHintText::optionsKeys() }) {
            for (const HintKey& key : *table)
                EXPECT_FALSE(hints.Section(key.key).empty()) << key.key;
        }
        const std::string ascii = hints.Section("IDC_EDIT_ASCII");
        EXPECT_NE(ascii.find("html\r\ntxt\r\nrtf\r\n"), std::string::npos);
        EXPECT_TRUE(ascii.ends_with("rtf\r\n"));
    }
    CHintText english;
    english.Load(UiStrings(UiLanguage::English).hintText(), {});
    EXPECT_TRUE(english.Section("IDC_COMBO_STRATEGY").starts_with("Strategie zum Finden von Dateien."));
    EXPECT_EQ(english.Section("IDC_EDIT_USERNAME"), "The user name\r\n");
}

// The misspellings users reported stay out of both languages.
TEST(CHintText, HintTextsAreFreeOfTheKnownTypos)
{
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const std::string text = UiStrings(language).hintText();
        for (const char* typo : { "Dieecotry", "differes", "kann wird", "Uplaod", "Strageie", "arhive", "preceeding",
                 "archviviert", "FTP size", "Wählen Sie <Keine", "Beim Suche" }) {
            EXPECT_EQ(text.find(typo), std::string::npos) << typo;
        }
    }
}
