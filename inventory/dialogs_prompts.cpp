#include "inventory/dialogs.h"

#include "inventory/password_text.h"
#include "transport/conn_sess.h"

namespace talvor {

// A moved string may keep its bytes in its small buffer: copy, then wipe.
new_password_entry::new_password_entry(std::string& typed, std::string& again) : first(typed), second(again)
{
    wipe(typed);
    wipe(again);
}

new_password_entry::new_password_entry(new_password_entry&& other) noexcept { *this = std::move(other); }

new_password_entry& new_password_entry::operator=(new_password_entry&& other) noexcept
{
    if (this != &other) {
        wipe(first);
        wipe(second);
        first.assign(other.first);
        second.assign(other.second);
        wipe(other.first);
        wipe(other.second);
    }
    return *this;
}

new_password_entry::~new_password_entry()
{
    wipe(first);
    wipe(second);
}

std::string prompt_unit_text(const std::string& label, const std::string& address)
{
    if (label.empty())
        return address;
    if (address.empty() || label.find(address) != std::string::npos)
        return label;
    return label + " [" + address + "]";
}

password_request password_prompt_request(const std::string& label, const std::string& address, bool refused)
{
    password_request r;
    r.caption = "Password For \"" + label + "\"";
    r.group_title = "Administrator Password";
    r.show_text = "Show password";
    r.label = label;
    r.unit = prompt_unit_text(label, address);
    r.address = address;
    if (refused)
        r.refusal = "The unit refused this password.";
    return r;
}

std::vector<std::string> security_problem_lines(std::uint32_t problems)
{
    static constexpr struct {
        std::uint32_t bit;
        const char* text;
    } lines[] = {
        {problem_unencrypted, "Connection is unencrypted"},
        {problem_invalid, "Certificate is invalid"},
        {problem_untrusted, "Certificate is untrusted"},
        {problem_identity, "Unit identity unconfirmed"},
    };
    std::vector<std::string> out;
    for (const auto& line : lines)
        if (problems & line.bit)
            out.emplace_back(line.text);
    return out;
}

task_dialog_request security_prompt_request(const std::string& label, std::uint32_t problems,
                                            const std::string& address)
{
    task_dialog_request r;
    r.title = "Security Exception For \"" + label + "\"";
    r.main_instruction = "CONNECTION NOT SECURE";
    // The unit first: the title alone is easily missed when prompts follow
    // one another.
    r.content = "Unit: " + prompt_unit_text(label, address) + "\r\n\r\n";
    r.content += "The connection to the unit does not meet security requirements :-\r\n\r\n";
    for (const std::string& line : security_problem_lines(problems))
        r.content += "    \u2022    " + line + "\r\n";
    r.content += "\r\nAre you sure you want to connect to this unit ?";
    r.buttons = button_yes | button_no;
    r.default_button = IDNO;
    r.main_icon = dialog_icon::warning;
    r.width = 225;
    r.verification_text = "Do not ask again";
    return r;
}

int security_prompt_answer(const task_dialog_answer& answer)
{
    return (answer.button == IDYES ? 1 : 0) | (answer.verification_checked ? 2 : 0);
}

task_dialog_request error_dialog(std::string title, std::string main_instruction, std::string content)
{
    task_dialog_request r;
    r.title = std::move(title);
    r.main_instruction = std::move(main_instruction);
    r.content = std::move(content);
    r.buttons = button_ok;
    r.main_icon = dialog_icon::error;
    return r;
}

} // namespace talvor
