#pragma once

#include <string>
#include <string_view>

// Escapes & < > " ' so that file names and metadata values cannot inject markup.
[[nodiscard]] std::string escapeHtml(std::string_view text);
// Percent-encodes every byte that may not stand in a URL path ("/" stays).
[[nodiscard]] std::string percentEncodePath(std::string_view path);
