#include "dialogs/dialog_text.h"

#include <gtest/gtest.h>

#include <climits>

using namespace dialog_text;

TEST(DialogText, NumbersAreReadFromTheirLeadingDigits)
{
    struct Case {
        const char* typed;
        int value;
    } cases[] = {
        { "15", 15 },
        { "15min", 15 },
        { "abc", 0 },
        { "", 0 },
        { "  42", 42 },
        { "-3", -3 },
        { "+7x", 7 },
        { "1e3", 1 },
        { "99999999999999999999", INT_MAX },
        { "-99999999999999999999", INT_MIN },
    };
    for (const Case& row : cases)
        EXPECT_EQ(readLeadingInt(QString::fromUtf8(row.typed)), row.value) << row.typed;
}

TEST(DialogText, IntervalsOutsideAYearAreStoredAsZero)
{
    EXPECT_EQ(storedInterval(QStringLiteral("15min")), 15);
    EXPECT_EQ(storedInterval(QStringLiteral("-5")), 0);
    EXPECT_EQ(storedInterval(QString::number(kMaxIntervalMinutes)), kMaxIntervalMinutes);
    EXPECT_EQ(storedInterval(QString::number(kMaxIntervalMinutes + 1)), 0);
    EXPECT_EQ(storedInterval(QStringLiteral("99999999999")), 0);
}

TEST(DialogText, ListsAreCutAtLineBreaksWithoutEmptyEntries)
{
    EXPECT_EQ(splitLines(QStringLiteral("a\r\n\r\n b \nc\r")), (std::vector<std::string> { "a", " b ", "c" }));
    EXPECT_TRUE(splitLines(QStringLiteral("\r\n\n")).empty());
    EXPECT_EQ(joinSeparated({ "a", "b" }), QStringLiteral("a\r\nb"));
    EXPECT_EQ(joinTerminated({ "a", "b" }), QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(splitLines(QStringLiteral("Größe\nx")).front(), "Größe");
}

TEST(DialogText, ScriptsKeepTheirStoredLineEndsThroughTheField)
{
    // A stored script written elsewhere may mix "\r\n" with lone "\n"; what the field gives
    // back must read the same, and a stored text must survive showing it unchanged.
    const QString stored = QStringLiteral("cd /a\r\nput x\r\n\r\nquit");
    EXPECT_EQ(shownLines(stored), QStringLiteral("cd /a\nput x\n\nquit"));
    EXPECT_EQ(storedLines(shownLines(stored)), stored);
    EXPECT_EQ(storedLines(shownLines(QStringLiteral("a\nb\r\n"))), QStringLiteral("a\r\nb\r\n"));
}
