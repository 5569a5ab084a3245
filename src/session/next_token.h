#pragma once

#include <string>
#include <string_view>

// The token rule of command lines: white space and commas separate, a double quote opens a
// token that runs to the next double quote standing alone (or the end); two double quotes
// inside it stand for one. Lines written before that doubling never held two quotes in a
// row within a token, so older transcripts read as they always did. `position` is moved past the token
// and the separators that follow it. Shared by the upload engine, the interpreter and the
// directory operations so that all three split a line the same way.
[[nodiscard]] std::string nextToken(std::string_view text, size_t& position);

// The path a directory command's argument names: its first token, and of a listed link
// ("name -> target") the target.
[[nodiscard]] std::string directoryArgument(std::string_view argument);
