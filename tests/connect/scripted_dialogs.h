#pragma once
// A dialogs implementation answering from a script, recording every request.
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inventory/dialogs.h"
#include "inventory/window_bridge_headless.h"

namespace talvor::test {

class scripted_dialogs final : public dialogs {
public:
    // Answers, consumed in order; when empty: task dialogs IDCANCEL,
    // password prompts cancelled.
    std::deque<task_dialog_answer> task_answers;
    std::deque<std::optional<std::string>> passwords;
    std::optional<std::filesystem::path> file_answer;
    // When set, answers every task dialog instead of task_answers.
    std::function<task_dialog_answer(const task_dialog_request&)> answer_with;
    // Runs before a password prompt answers (on the UI thread).
    std::function<void()> before_password;

    std::vector<task_dialog_request> tasks;
    std::vector<password_request> password_prompts;
    std::vector<file_request> file_prompts;
    // New password entries (typed, again), in order; when empty: cancelled.
    std::deque<std::pair<std::string, std::string>> new_passwords;
    std::vector<new_password_request> new_password_prompts;
    std::deque<std::optional<std::vector<std::uint32_t>>> category_answers; // empty: cancelled
    std::vector<category_request> category_prompts;

    // The progress window pumps this bridge until every unit has reported
    // (at most 60 s); without one it closes at once with IDCANCEL.
    headless_bridge* bridge = nullptr;
    // Ticks "Cancel Operation" and presses Cancel once this holds (polled
    // on every pass of the loop).
    std::function<bool(const progress_state&)> cancel_when;
    struct progress_record {
        std::vector<progress_request> requests;
        std::vector<int> positions; // every poll
        bool error_seen = false;
        bool cancelled = false;
        progress_state last;
    } progress;

    task_dialog_answer task_dialog(const task_dialog_request& request) override
    {
        tasks.push_back(request);
        if (answer_with)
            return answer_with(request);
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
    std::optional<new_password_entry> ask_new_password(const new_password_request& request) override
    {
        new_password_prompts.push_back(request);
        if (new_passwords.empty())
            return std::nullopt;
        auto [a, b] = new_passwords.front();
        new_passwords.pop_front();
        return new_password_entry(a, b);
    }
    std::optional<std::filesystem::path> choose_file(const file_request& request) override
    {
        file_prompts.push_back(request);
        return file_answer;
    }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request& request) override
    {
        progress.requests.push_back(request);
        if (!bridge)
            return IDCANCEL;
        const bool done = bridge->run_until(
            [&] {
                progress.last = request.poll();
                progress.positions.push_back(progress.last.position);
                progress.error_seen = progress.error_seen || progress.last.error;
                if (!progress.cancelled && !progress.last.finished && cancel_when && cancel_when(progress.last)) {
                    progress.cancelled = true;
                    request.cancel();
                }
                return progress.last.finished;
            },
            std::chrono::seconds(60));
        return done ? IDOK : IDCANCEL;
    }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& request) override
    {
        category_prompts.push_back(request);
        if (category_answers.empty())
            return std::nullopt;
        auto a = category_answers.front();
        category_answers.pop_front();
        return a;
    }

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
