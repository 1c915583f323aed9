#pragma once
// A dialogs implementation answering from a script, recording every request.
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inventory/dialogs.h"

namespace talvor::test {

class scripted_dialogs final : public dialogs {
public:
    // Answers, consumed in order; when empty: task dialogs IDCANCEL,
    // password prompts cancelled.
    std::deque<task_dialog_answer> task_answers;
    std::deque<std::optional<std::string>> passwords;
    std::optional<std::filesystem::path> file_answer;
    // Runs before a password prompt answers (on the UI thread).
    std::function<void()> before_password;

    std::vector<task_dialog_request> tasks;
    std::vector<password_request> password_prompts;
    std::vector<file_request> file_prompts;

    task_dialog_answer task_dialog(const task_dialog_request& request) override
    {
        tasks.push_back(request);
        if (task_answers.empty())
            return {};
        auto a = task_answers.front();
        task_answers.pop_front();
        return a;
    }
    std::optional<std::string> ask_password(const password_request& request) override
    {
        password_prompts.push_back(request);
        if (before_password)
            before_password();
        if (passwords.empty())
            return std::nullopt;
        auto a = passwords.front();
        passwords.pop_front();
        return a;
    }
    std::optional<std::filesystem::path> choose_file(const file_request& request) override
    {
        file_prompts.push_back(request);
        return file_answer;
    }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request&) override { return IDCANCEL; }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }

    // Security prompt answers by meaning.
    static task_dialog_answer security(bool yes, bool remember)
    {
        task_dialog_answer a;
        a.button = yes ? IDYES : IDNO;
        a.verification_checked = remember;
        return a;
    }
    std::size_t security_prompts() const
    {
        std::size_t n = 0;
        for (const auto& t : tasks)
            if (t.main_instruction == "CONNECTION NOT SECURE")
                ++n;
        return n;
    }
};

} // namespace talvor::test
