#include "cli/terminal_dialogs.h"

#include <cstdio>

#include "cli/terminal.h"
#include "inventory/password_text.h"

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

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void print_dialog(const task_dialog_request& r)
{
    std::fprintf(stderr, "%s: %s", r.title.c_str(), r.main_instruction.c_str());
    if (!r.content.empty())
        std::fprintf(stderr, "\n%s", r.content.c_str());
    std::fputs("\n", stderr);
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
}

task_dialog_answer terminal_dialogs::task_dialog(const task_dialog_request& request)
{
    if (!request.verification_text.empty() && (request.buttons & button_yes))
        return security_answer(request);
    {
        question_scope q(line_);
        print_dialog(request);
    }
    if (request.main_icon == dialog_icon::error)
        ++errors_shown_;
    task_dialog_answer a;
    a.button = (request.buttons & button_ok) ? IDOK : (request.buttons & button_no) ? IDNO : IDCANCEL;
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
    print_dialog(request);
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
    // The core offers a file password to each unit at most once (its
    // password rounds), so a refused password fails that unit only.
    if (file_password_)
        return file_password_text(*file_password_);
    question_scope q(line_);
    return read_secret(request.caption + ": ");
}

std::optional<std::filesystem::path> terminal_dialogs::choose_file(const file_request&) { return std::nullopt; }
std::optional<std::filesystem::path> terminal_dialogs::choose_folder(const folder_request&) { return std::nullopt; }

// The batch commands answer these once talvorctl runs batches.
int terminal_dialogs::show_progress(const progress_request&) { return IDCANCEL; }

std::optional<std::vector<std::uint32_t>> terminal_dialogs::choose_categories(const category_request&)
{
    return std::nullopt;
}

} // namespace talvor::cli
