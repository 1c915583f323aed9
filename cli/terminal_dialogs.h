#pragma once
// The dialogs of the core, answered on a terminal or from the options.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/secrets.h"
#include "cli/terminal.h"
#include "inventory/dialogs.h"
#include "inventory/window_bridge_headless.h"

namespace talvor::cli {

class terminal_dialogs final : public dialogs {
public:
    explicit terminal_dialogs(const options& opts);
    ~terminal_dialogs() override;

    // Reads --password-file's text in place (no copy left behind); false
    // when it cannot be read.
    bool load_password_file(const std::string& path);
    bool has_file_password() const { return file_password_.has_value(); }
    // The password read from standard input, taken as a file's would be.
    void set_password(std::string&& text) { file_password_.emplace(std::move(text)); }
    // --new-password-stdin's line.
    void set_new_password(std::string&& text) { new_password_.emplace(std::move(text)); }
    // --credentials: the units it names take their own password, the others
    // the shared one (or none, without one and without a terminal).
    void set_credentials(const credentials* c) { credentials_ = c; }
    // From now on a question asked before gets the answer given then,
    // without asking: --retries runs the command again on a few units.
    void repeat_answers() { repeating_ = true; }
    // The progress line the questions clear and draw again; may be null.
    void set_progress_line(progress_line* line) { line_ = line; }

    task_dialog_answer task_dialog(const task_dialog_request& request) override;
    std::optional<std::string> ask_password(const password_request& request) override;
    // --new-password-file, or typed twice on the terminal.
    std::optional<new_password_entry> ask_new_password(const new_password_request& request) override;
    std::optional<std::filesystem::path> choose_file(const file_request& request) override;
    std::optional<std::filesystem::path> choose_folder(const folder_request& request) override;
    int show_progress(const progress_request& request) override;
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& request) override;

    // The loop the progress window keeps running, and the flag Ctrl-C sets
    // ("Cancel Operation" while a batch runs).
    void set_bridge(headless_bridge* bridge) { bridge_ = bridge; }
    void set_stop_flag(const std::atomic<bool>* stop) { stop_ = stop; }

    // Error reports the core showed (e.g. a list file that failed to load).
    int errors_shown() const { return errors_shown_; }
    // Questions nobody could answer (no terminal, no --yes).
    int unanswered() const { return unanswered_; }
    // Answers the switches could not give (an unknown --category, ...),
    // reported on standard error.
    int usage_errors() const { return usage_errors_; }

private:
    task_dialog_answer security_answer(const task_dialog_request& request);
    task_dialog_answer answer(const task_dialog_request& request);
    std::optional<std::vector<std::uint32_t>> pick_categories(const category_request& request);
    // `instead`: the switch that answers it without a terminal.
    std::optional<std::filesystem::path> ask_path(const std::string& title, const std::string& extension,
                                                  const char* instead);
    void usage_error(const std::string& message);

    const options& opts_;
    std::optional<std::string> file_password_;
    std::optional<std::string> new_password_;
    const credentials* credentials_ = nullptr;
    bool repeating_ = false;
    std::map<std::string, task_dialog_answer> answers_; // by main instruction
    std::optional<std::vector<std::uint32_t>> categories_;
    progress_line* line_ = nullptr;
    headless_bridge* bridge_ = nullptr;
    const std::atomic<bool>* stop_ = nullptr;
    int errors_shown_ = 0;
    int unanswered_ = 0;
    int usage_errors_ = 0;
};

// Text of a file password for the core's password conversion: UTF-8 as it
// is; any other bytes are read as Windows-1252, so the unit gets exactly the
// bytes the file holds.
std::string file_password_text(const std::string& bytes);

} // namespace talvor::cli
