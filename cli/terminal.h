#pragma once
// What talvorctl asks a person on the terminal.
#include <optional>
#include <string>

namespace talvor::cli {

bool stdin_is_terminal();
bool stderr_is_terminal();
// Prompts on the terminal and reads one line without echo; nullopt at end
// of input or when no terminal can be opened.
std::optional<std::string> read_secret(const std::string& prompt);
// Prompts and reads one echoed line from the terminal; nullopt at end of input.
std::optional<std::string> read_answer(const std::string& prompt);

} // namespace talvor::cli
