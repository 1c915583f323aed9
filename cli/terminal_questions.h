#pragma once
// The core's task dialogs as terminal questions: the same texts, the
// buttons as choices, radio buttons as a numbered list, the verification
// box as y/n, and the word confirmation typed as its word.
#include <functional>
#include <optional>
#include <string>

#include "inventory/dialogs.h"

namespace talvor::cli {

// Reads one answer after showing the prompt; nullopt at end of input.
using answer_reader = std::function<std::optional<std::string>(const std::string& prompt)>;

// A report (one button, nothing to choose) rather than a question.
bool is_question(const task_dialog_request& request);
// The dialog's texts as the terminal shows them.
std::string dialog_text(const task_dialog_request& request);
// --yes: the button that goes on (of Yes, No and Cancel the default one),
// the right word, the default radio button.
task_dialog_answer going_on_answer(const task_dialog_request& request);
// Nobody to ask: the button that stops (Cancel, No).
task_dialog_answer stopping_answer(const task_dialog_request& request);
// Asks through `read` (the texts are printed by the caller).
task_dialog_answer ask_question(const task_dialog_request& request, const answer_reader& read);
// One line saying what an answer was, for the log on standard error.
std::string answer_text(const task_dialog_request& request, const task_dialog_answer& answer);

} // namespace talvor::cli
