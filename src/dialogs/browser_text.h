#pragma once

#include <QString>

#include <initializer_list>

class UiStrings;

// Texts of the FTP browser and the full compare, from the application's string table.
namespace browser_text {

[[nodiscard]] QString text(const UiStrings& strings, const char* key);

// `format` with successive "%d" replaced by `values`; other '%' signs stay as they are.
[[nodiscard]] QString fillNumbers(const QString& format, std::initializer_list<int> values);

} // namespace browser_text
