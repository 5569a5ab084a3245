#pragma once

#include <QString>

#include <string>
#include <vector>

// How the dialogs move numbers and line lists between their fields and the stored values.
namespace dialog_text {

// Optional leading blanks and sign, then digits; reading stops at the first other character
// and no digits give 0. Values beyond the int range saturate.
[[nodiscard]] int readLeadingInt(const QString& text);

// An upload interval as stored: typed values below 0 or above a year of minutes give 0.
[[nodiscard]] int storedInterval(const QString& text);
inline constexpr int kMaxIntervalMinutes = 366 * 24 * 60;

// The field text cut at every carriage return and line feed; empty pieces are dropped.
[[nodiscard]] std::vector<std::string> splitLines(const QString& text);
// The entries separated by "\r\n", nothing after the last one.
[[nodiscard]] QString joinSeparated(const std::vector<std::string>& lines);
// Every entry followed by "\r\n", the last one included.
[[nodiscard]] QString joinTerminated(const std::vector<std::string>& lines);

// Multi-line fields show the stored "\r\n"-separated texts with plain line breaks and give
// them back in the stored form.
[[nodiscard]] QString shownLines(QString stored);
[[nodiscard]] QString storedLines(QString shown);

[[nodiscard]] inline QString toQt(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
[[nodiscard]] inline std::string fromQt(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace dialog_text
