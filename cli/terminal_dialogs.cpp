#include "cli/terminal_dialogs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "cli/batch_run.h"

#include "cli/terminal.h"
#include "cli/terminal_questions.h"
#include "inventory/password_text.h"
#include "operations/firmware_verify.h"
#include "transport/json_quote.h"
#include "transport/path_text.h"

namespace talvor::cli {

namespace {

bool valid_utf8(const std::string& s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto x = static_cast<unsigned char>(s[i + k]);
            if ((x & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (x & 0x3F);
        }
        static constexpr char32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < min[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

bool same_text(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string file_password_text(const std::string& bytes)
{
    if (valid_utf8(bytes))
        return bytes;
    std::string out;
    out.reserve(bytes.size() * 3); // grown once: no stray copy of the password
    for (unsigned char b : bytes)
        append_utf8(out, cp1252_code_point(b));
    return out;
}

terminal_dialogs::terminal_dialogs(const options& opts)
    : opts_(opts)
{
}

bool terminal_dialogs::load_password_file(const std::string& path)
{
    file_password_.emplace();
    if (read_password_file(path, *file_password_) == 0)
        return true;
    file_password_.reset();
    return false;
}

terminal_dialogs::~terminal_dialogs()
{
    if (file_password_)
        wipe(*file_password_);
    if (new_password_)
        wipe(*new_password_);
}

task_dialog_answer terminal_dialogs::task_dialog(const task_dialog_request& request)
{
    if (request.main_instruction == security_prompt_request("", 0).main_instruction)
        return security_answer(request);
    if (repeating_)
        if (const auto given = answers_.find(request.main_instruction); given != answers_.end())
            return given->second;
    const task_dialog_answer a = answer(request);
    answers_[request.main_instruction] = a;
    return a;
}

task_dialog_answer terminal_dialogs::answer(const task_dialog_request& request)
{
    question_scope q(line_);
    std::fputs(dialog_text(request).c_str(), stderr);
    if (opts_.batch && opts_.batch->preset)
        if (const auto preset = opts_.batch->preset(request, opts_)) {
            std::fputs(answer_text(request, *preset).c_str(), stderr);
            return *preset;
        }
    if (!is_question(request)) {
        if (request.main_icon == dialog_icon::error)
            ++errors_shown_;
        return going_on_answer(request);
    }
    task_dialog_answer a;
    if (opts_.yes) {
        a = going_on_answer(request);
    } else if (!stdin_is_terminal()) {
        ++unanswered_; // nobody to ask: the command stops here
        a = stopping_answer(request);
    } else {
        a = ask_question(request, read_answer);
    }
    if (request.verification_text == verify_box_text)
        a.verification_checked = opts_.has("--verify"); // the switch answers the firmware check box
    std::fputs(answer_text(request, a).c_str(), stderr);
    return a;
}

task_dialog_answer terminal_dialogs::security_answer(const task_dialog_request& request)
{
    task_dialog_answer a;
    a.button = IDNO;
    if (opts_.accept_insecure) {
        a.button = IDYES;
        a.verification_checked = true; // yes to all
        return a;
    }
    if (!stdin_is_terminal())
        return a; // nobody to ask: do not connect
    question_scope q(line_);
    std::fputs(dialog_text(request).c_str(), stderr);
    for (;;) {
        auto line = read_answer("Connect? [y]es, [n]o, [a]lways, ne[v]er: ");
        if (!line)
            return a;
        if (*line == "y" || *line == "yes") {
            a.button = IDYES;
        } else if (*line == "n" || *line == "no" || line->empty()) {
            a.button = IDNO;
        } else if (*line == "a" || *line == "always") {
            a.button = IDYES;
            a.verification_checked = true;
        } else if (*line == "v" || *line == "never") {
            a.verification_checked = true;
        } else {
            continue;
        }
        return a;
    }
}

std::optional<std::string> terminal_dialogs::ask_password(const password_request& request)
{
    if (credentials_)
        if (const std::string* own = credentials_->find(request.address))
            return *own;
    // The core offers a file password to each unit at most once (its
    // password rounds), so a refused password fails that unit only.
    if (file_password_)
        return file_password_text(*file_password_);
    if (!stdin_is_terminal())
        return std::nullopt; // named by no credential, and nobody to ask
    question_scope q(line_);
    // The unit is named on the prompt itself: prompts of several units may
    // follow one another.
    if (!request.refusal.empty())
        std::fprintf(stderr, "%s\n", request.refusal.c_str());
    return read_secret("Password For \"" + request.unit + "\": ");
}

std::optional<new_password_entry> terminal_dialogs::ask_new_password(const new_password_request& request)
{
    if (new_password_) {
        // Read once: a password the core refuses is not asked again.
        if (!request.error.empty()) {
            usage_error("the new password on standard input: " + request.error);
            return std::nullopt;
        }
        std::string text = file_password_text(*new_password_);
        std::string again = text;
        return new_password_entry(text, again);
    }
    if (const auto path = opts_.value("--new-password-file")) {
        // A file is read once: a password the core refuses is not asked again.
        if (!request.error.empty()) {
            usage_error("the new password in '" + *path + "': " + request.error);
            return std::nullopt;
        }
        std::string bytes;
        if (read_password_file(*path, bytes) != 0) {
            usage_error("cannot read the new password file '" + *path + "'");
            return std::nullopt;
        }
        std::string text = file_password_text(bytes);
        std::string again = text;
        wipe(bytes);
        return new_password_entry(text, again);
    }
    if (!stdin_is_terminal()) {
        usage_error("no terminal to type the new password on: give --new-password-file FILE");
        return std::nullopt;
    }
    question_scope q(line_);
    if (!request.error.empty())
        std::fprintf(stderr, "%s\n", request.error.c_str());
    std::optional<std::string> first = read_secret(request.first_label + ": ");
    if (!first)
        return std::nullopt;
    std::optional<std::string> second = read_secret(request.second_label + ": ");
    if (!second) {
        wipe(*first);
        return std::nullopt;
    }
    return new_password_entry(*first, *second);
}

std::optional<std::filesystem::path> terminal_dialogs::ask_path(const std::string& title, const std::string& extension,
                                                                const char* instead)
{
    if (!stdin_is_terminal()) {
        usage_error("no terminal to answer \"" + title + "\" on: give " + instead);
        return std::nullopt;
    }
    question_scope q(line_);
    const auto line = read_answer(title + ": ");
    if (!line || line->empty())
        return std::nullopt;
    std::filesystem::path p = utf8_path(*line);
    if (!extension.empty() && !p.has_extension())
        p += "." + extension;
    return p;
}

void terminal_dialogs::usage_error(const std::string& message)
{
    question_scope q(line_);
    std::fprintf(stderr, "talvorctl: %s: %s\n", opts_.batch ? opts_.batch->name : "talvorctl", message.c_str());
    ++usage_errors_;
}

std::optional<std::filesystem::path> terminal_dialogs::choose_file(const file_request& request)
{
    if (!request.save) {
        // The command's own operand answers its file question.
        if (opts_.operand)
            return utf8_path(*opts_.operand);
        return ask_path(request.title, request.default_extension, "the file");
    }
    std::optional<std::filesystem::path> path;
    if (const auto out = opts_.value("--out"))
        path = utf8_path(*out);
    else if (const auto folder = opts_.value("--folder"))
        path = utf8_path(*folder) / utf8_path(request.default_name); // one unit: its proposed name there
    else
        path = ask_path(request.title, request.default_extension, "--out FILE or --folder DIR");
    if (!path || !request.overwrite_prompt)
        return path;
    std::error_code ec;
    if (!std::filesystem::exists(*path, ec))
        return path;
    // The save dialog's own question before a file is replaced.
    task_dialog_request r;
    r.title = "Confirm Save As";
    r.main_instruction = path_text(path->filename()) + " already exists.";
    r.content = "Do you want to replace it?";
    r.buttons = button_yes | button_no;
    r.default_button = IDNO;
    r.main_icon = dialog_icon::warning;
    if (task_dialog(r).button != IDYES)
        return std::nullopt;
    return path;
}

std::optional<std::filesystem::path> terminal_dialogs::choose_folder(const folder_request& request)
{
    if (const auto folder = opts_.value("--folder"))
        return utf8_path(*folder);
    if (opts_.has("--out")) {
        usage_error("--out names the file of one unit: give --folder DIR for several");
        return std::nullopt;
    }
    return ask_path(request.title, {}, "--folder DIR");
}

namespace {

std::string bar_text(const progress_request& r, const progress_state& s, bool cancelled)
{
    constexpr int width = 30;
    const int filled = s.position * width / 100;
    std::string out = r.title + ": " + r.main_instruction + " [" + std::string(filled, '#') +
                      std::string(width - filled, '.') + "] " + std::to_string(s.position) + "%";
    // While units are awaited after an update, what they are awaited for.
    const std::string wait = progress_wait_text(s);
    const std::string line = wait.empty() ? progress_summary(s) : wait;
    if (!line.empty())
        out += " (" + line + ")";
    else if (s.error)
        out += " (a unit failed)";
    if (cancelled && !s.finished)
        out += " cancelling";
    return out;
}

} // namespace

int terminal_dialogs::show_progress(const progress_request& request)
{
    if (!bridge_)
        return IDCANCEL;
    // Ctrl-C is "Cancel Operation": every unit's job is asked to stop, and
    // the window stays until every job has reported.
    bool cancelled = false;
    progress_state state;
    for (;;) {
        const bool done = bridge_->run_until(
            [&] {
                state = request.poll();
                if (!cancelled && !state.finished && stop_ && stop_->load()) {
                    cancelled = true;
                    request.cancel();
                }
                return state.finished;
            },
            std::chrono::milliseconds(200));
        if (line_)
            line_->draw(bar_text(request, state, cancelled));
        if (done)
            break;
    }
    if (line_)
        line_->finish();
    return IDOK;
}

std::optional<std::vector<std::uint32_t>> terminal_dialogs::choose_categories(const category_request& request)
{
    if (repeating_ && categories_)
        return categories_;
    categories_ = pick_categories(request);
    return categories_;
}

std::optional<std::vector<std::uint32_t>> terminal_dialogs::pick_categories(const category_request& request)
{
    // Only categories every unit offers can be chosen, from a list sorted by
    // name; the answer walks it from the last row to the first.
    std::vector<const category_row*> rows;
    for (const category_row& r : request.rows)
        if (r.available)
            rows.push_back(&r);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const category_row* a, const category_row* b) {
                         return std::lexicographical_compare(
                             a->name.begin(), a->name.end(), b->name.begin(), b->name.end(), [](char x, char y) {
                                 return std::tolower(static_cast<unsigned char>(x)) <
                                        std::tolower(static_cast<unsigned char>(y));
                             });
                     });
    std::vector<bool> pick(rows.size(), false);
    const std::vector<std::string> named = opts_.values_of("--category");
    if (opts_.has("--all-categories") || (opts_.yes && named.empty())) {
        pick.assign(rows.size(), true);
    } else if (!named.empty()) {
        for (const std::string& name : named) {
            bool found = false;
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (same_text(rows[i]->name, name))
                    pick[i] = found = true;
            if (!found) {
                std::string offered;
                for (const category_row* r : rows)
                    offered += (offered.empty() ? "" : ", ") + r->name;
                usage_error("no category \"" + name + "\" offered by every unit (offered: " +
                            (offered.empty() ? "none" : offered) + ")");
                return std::nullopt;
            }
        }
    } else if (!stdin_is_terminal()) {
        ++unanswered_;
        return std::nullopt;
    } else {
        question_scope q(line_);
        std::string list = "Configuration categories:\n";
        for (std::size_t i = 0; i < rows.size(); ++i)
            list += "  " + std::to_string(i + 1) + ") " + rows[i]->name + "\n";
        for (bool valid = false; !valid;) {
            const auto line = read_answer(list + "Numbers to upload (\"all\", nothing cancels): ");
            if (!line || line->empty())
                return std::nullopt;
            pick.assign(rows.size(), *line == "all");
            valid = true;
            std::size_t at = 0;
            while (*line != "all" && at < line->size()) {
                const std::size_t next = line->find_first_of(" ,", at);
                const std::string word = line->substr(at, next == std::string::npos ? std::string::npos : next - at);
                at = next == std::string::npos ? line->size() : next + 1;
                if (word.empty())
                    continue;
                char* end = nullptr;
                const unsigned long n = std::strtoul(word.c_str(), &end, 10);
                if (*end != 0 || n < 1 || n > rows.size())
                    valid = false;
                else
                    pick[n - 1] = true;
            }
        }
    }
    std::vector<std::uint32_t> chosen;
    for (std::size_t i = rows.size(); i-- > 0;)
        if (pick[i])
            chosen.push_back(rows[i]->id);
    return chosen;
}

} // namespace talvor::cli
