#include "dialogs/browser_text.h"

#include "uikit/ui_strings.h"

namespace browser_text {

QString text(const UiStrings& strings, const char* key)
{
    return strings.text(key);
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
