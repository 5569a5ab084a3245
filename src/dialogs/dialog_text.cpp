#include "dialogs/dialog_text.h"

#include <climits>
#include <cstdint>

namespace dialog_text {

int readLeadingInt(const QString& text)
{
    qsizetype index = 0;
    while (index < text.size() && (text[index] == u' ' || text[index] == u'\t'))
        ++index;
    bool negative = false;
    if (index < text.size() && (text[index] == u'-' || text[index] == u'+')) {
        negative = text[index] == u'-';
        ++index;
    }
    int64_t value = 0;
    for (; index < text.size() && text[index] >= u'0' && text[index] <= u'9'; ++index) {
        value = value * 10 + (text[index].unicode() - u'0');
        if (value > static_cast<int64_t>(INT_MAX) + 1)
            value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int storedInterval(const QString& text)
{
    int minutes = readLeadingInt(text);
    return minutes < 0 || minutes > kMaxIntervalMinutes ? 0 : minutes;
}

std::vector<std::string> splitLines(const QString& text)
{
    std::vector<std::string> lines;
    const std::string bytes = fromQt(text);
    size_t start = 0;
    for (size_t index = 0; index <= bytes.size(); ++index) {
        if (index == bytes.size() || bytes[index] == '\r' || bytes[index] == '\n') {
            if (index > start)
                lines.push_back(bytes.substr(start, index - start));
            start = index + 1;
        }
    }
    return lines;
}

QString joinSeparated(const std::vector<std::string>& lines)
{
    QString text;
    for (size_t index = 0; index < lines.size(); ++index) {
        if (index > 0)
            text += QStringLiteral("\r\n");
        text += toQt(lines[index]);
    }
    return text;
}

QString joinTerminated(const std::vector<std::string>& lines)
{
    QString text;
    for (const std::string& line : lines)
        text += toQt(line) + QStringLiteral("\r\n");
    return text;
}

QString shownLines(QString stored)
{
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return stored;
}

QString storedLines(QString shown)
{
    shown.replace(u'\n', QStringLiteral("\r\n"));
    return shown;
}

} // namespace dialog_text
