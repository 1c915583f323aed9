#include "cli/terminal_questions.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace talvor::cli {

namespace {

struct button_info {
    unsigned bit;
    int id;
    const char* name;
};

// In the order offered.
constexpr button_info all_buttons[] = {
    {button_yes, IDYES, "Yes"},       {button_no, IDNO, "No"},         {button_ok, IDOK, "OK"},
    {button_retry, IDRETRY, "Retry"}, {button_cancel, IDCANCEL, "Cancel"}, {button_close, IDCLOSE, "Close"},
};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool radio_disabled(const task_dialog_request& r, int id)
{
    return std::find(r.disabled_radios.begin(), r.disabled_radios.end(), id) != r.disabled_radios.end();
}

// The buttons a person can press (OK of the word confirmation included:
// the right word enables it).
std::vector<button_info> offered(const task_dialog_request& r)
{
    std::vector<button_info> out;
    for (const button_info& b : all_buttons) {
        if (!(r.buttons & b.bit))
            continue;
        if ((r.disabled_buttons & b.bit) && !(b.id == IDOK && r.ok_radio))
            continue;
        out.push_back(b);
    }
    return out;
}

int first_of(const task_dialog_request& r, std::initializer_list<int> ids, int fallback)
{
    const auto buttons = offered(r);
    for (int id : ids)
        for (const button_info& b : buttons)
            if (b.id == id)
                return id;
    return fallback;
}

int default_radio(const task_dialog_request& r)
{
    if (r.default_radio && !radio_disabled(r, r.default_radio))
        for (const auto& [id, caption] : r.radio_buttons)
            if (id == r.default_radio)
                return id;
    for (const auto& [id, caption] : r.radio_buttons)
        if (!radio_disabled(r, id))
            return id;
    return 0;
}

const char* button_name(int id)
{
    for (const button_info& b : all_buttons)
        if (b.id == id)
            return b.name;
    return "?";
}

} // namespace

bool is_question(const task_dialog_request& r)
{
    return offered(r).size() > 1 || !r.radio_buttons.empty() || !r.verification_text.empty();
}

std::string dialog_text(const task_dialog_request& r)
{
    std::string out = r.title + ": " + r.main_instruction + "\n";
    if (!r.content.empty())
        out += r.content + "\n";
    if (!r.footer.empty())
        out += r.footer + "\n";
    return out;
}

task_dialog_answer going_on_answer(const task_dialog_request& r)
{
    task_dialog_answer a;
    a.radio = r.ok_radio ? r.ok_radio : default_radio(r);
    a.button = first_of(r, {IDOK, IDYES, IDRETRY}, r.default_button ? r.default_button : IDOK);
    // Yes, No and Cancel: both Yes and No go on, and the default is the
    // answer the question suggests ("restart the TAPs too?" No).
    const unsigned three_way = button_yes | button_no | button_cancel;
    if ((r.buttons & three_way) == three_way && (r.default_button == IDYES || r.default_button == IDNO))
        a.button = r.default_button;
    a.verification_checked = r.verification_checked;
    return a;
}

task_dialog_answer stopping_answer(const task_dialog_request& r)
{
    task_dialog_answer a;
    a.radio = default_radio(r);
    a.button = first_of(r, {IDCANCEL, IDNO, IDCLOSE}, IDCANCEL);
    a.verification_checked = r.verification_checked;
    return a;
}

task_dialog_answer ask_question(const task_dialog_request& r, const answer_reader& read)
{
    task_dialog_answer a = stopping_answer(r);
    if (r.ok_radio) {
        const auto line = read("Type the word to confirm (nothing cancels): ");
        const std::string word = lower(trimmed(line.value_or("")));
        for (const auto& [id, caption] : r.radio_buttons)
            if (!word.empty() && lower(caption) == word && !radio_disabled(r, id)) {
                a.radio = id;
                a.button = id == r.ok_radio ? IDOK : IDCANCEL;
            }
        return a;
    }
    if (!r.radio_buttons.empty()) {
        const int fallback = default_radio(r);
        std::string list;
        int fallback_number = 0;
        for (std::size_t i = 0; i < r.radio_buttons.size(); ++i) {
            const auto& [id, caption] = r.radio_buttons[i];
            list += "  " + std::to_string(i + 1) + ") " + caption + (radio_disabled(r, id) ? " (not available)" : "") + "\n";
            if (id == fallback)
                fallback_number = static_cast<int>(i + 1);
        }
        for (bool chosen = false; !chosen;) {
            const auto line = read(list + "Choose 1-" + std::to_string(r.radio_buttons.size()) +
                                   (fallback_number ? " [" + std::to_string(fallback_number) + "]" : "") + ": ");
            if (!line)
                return a;
            const std::string t = trimmed(*line);
            if (t.empty() && fallback) {
                a.radio = fallback;
                chosen = true;
            } else if (!t.empty() && std::all_of(t.begin(), t.end(), ::isdigit) && t.size() < 4) {
                const std::size_t n = std::stoul(t);
                if (n >= 1 && n <= r.radio_buttons.size() && !radio_disabled(r, r.radio_buttons[n - 1].first)) {
                    a.radio = r.radio_buttons[n - 1].first;
                    chosen = true;
                }
            }
        }
    }
    if (!r.verification_text.empty()) {
        for (;;) {
            const auto line = read(r.verification_text + (r.verification_checked ? " [Y/n]: " : " [y/N]: "));
            if (!line)
                return stopping_answer(r);
            const std::string t = lower(trimmed(*line));
            if (t.empty())
                break;
            if (t == "y" || t == "yes" || t == "n" || t == "no") {
                a.verification_checked = t[0] == 'y';
                break;
            }
        }
    }
    const auto buttons = offered(r);
    if (buttons.size() == 1) {
        a.button = buttons.front().id;
        return a;
    }
    std::string choices;
    for (const button_info& b : buttons)
        choices += std::string(choices.empty() ? "" : "/") + b.name;
    const bool has_default = std::any_of(buttons.begin(), buttons.end(), [&](const button_info& b) { return b.id == r.default_button; });
    for (;;) {
        const auto line = read(choices + (has_default ? std::string(" [") + button_name(r.default_button) + "]" : "") + ": ");
        if (!line)
            return stopping_answer(r);
        const std::string t = lower(trimmed(*line));
        if (t.empty() && has_default) {
            a.button = r.default_button;
            return a;
        }
        const button_info* match = nullptr;
        int prefix_matches = 0;
        for (const button_info& b : buttons) {
            const std::string name = lower(b.name);
            if (t == name) {
                a.button = b.id;
                return a;
            }
            if (!t.empty() && name.rfind(t, 0) == 0) {
                match = &b;
                ++prefix_matches;
            }
        }
        if (prefix_matches == 1) {
            a.button = match->id;
            return a;
        }
    }
}

std::string answer_text(const task_dialog_request& r, const task_dialog_answer& a)
{
    std::string out = std::string("answered ") + button_name(a.button);
    for (const auto& [id, caption] : r.radio_buttons)
        if (id == a.radio)
            out += " (" + caption + ")";
    if (!r.verification_text.empty() && a.verification_checked)
        out += ", " + r.verification_text;
    return out + "\n";
}

} // namespace talvor::cli
