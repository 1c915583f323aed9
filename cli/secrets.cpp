#include "cli/secrets.h"

#include <cstdio>

#include "cli/options.h"
#include "cli/terminal_dialogs.h"
#include "inventory/address_entry.h"
#include "inventory/password_text.h"

namespace talvor::cli {

std::string read_stdin_lines(std::size_t count, std::vector<std::string>& lines)
{
    // Byte by byte from the descriptor: no stream buffer keeps a copy, and
    // what follows the lines taken stays unread.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    for (std::size_t n = 0; n < count; ++n) {
        std::string& line = lines.emplace_back();
        line.reserve(256); // grown rarely; each old buffer is wiped
        int c = 0;
        while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
            if (line.size() == line.capacity()) {
                std::string bigger;
                bigger.reserve(2 * line.capacity());
                bigger.assign(line);
                wipe(line);
                line.swap(bigger);
            }
            line.push_back(static_cast<char>(c));
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (c == EOF && line.empty())
            return count == 1 ? "standard input holds no password"
                              : "standard input holds " + std::to_string(n) + " of the " + std::to_string(count) +
                                    " password lines";
    }
    return {};
}

credentials::~credentials()
{
    for (auto& [a, p] : by_address_)
        wipe(p);
}

std::string credentials::load(const std::string& path)
{
    if (std::string why = private_file_problem(path); !why.empty())
        return path + ": " + why;
    std::string text;
    if (read_password_file(path, text) != 0)
        return path + ": cannot be read";
    std::string problem;
    std::size_t line_no = 0;
    for (std::size_t at = 0; at <= text.size() && problem.empty();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t key_at = line.find_first_not_of(" \t");
        if (key_at == std::string_view::npos || line[key_at] == '#')
            continue;
        const std::size_t key_end = std::min(line.find_first_of(" \t", key_at), line.size());
        const std::size_t pw_at = line.find_first_not_of(" \t", key_end);
        const std::string_view key = line.substr(key_at, key_end - key_at);
        if (pw_at == std::string_view::npos) {
            problem = path + ": line " + std::to_string(line_no) + " has no password";
            break;
        }
        std::string raw(line.substr(pw_at));
        std::string password = file_password_text(raw);
        wipe(raw);
        bool empty = false;
        const auto address = parse_address_box(key, empty);
        if (!address) {
            // A unit tells its serial only once logged in: by then its
            // password has been needed.
            wipe(password);
            problem = path + ": line " + std::to_string(line_no) + ": '" + std::string(key) +
                      "' is not an IP address (units are named by address: a unit's serial is known only once it "
                      "has logged in)";
            break;
        }
        by_address_.emplace_back(*address, std::move(password));
    }
    wipe(text);
    return problem;
}

const std::string* credentials::find(const std::string& address) const
{
    bool empty = false;
    if (const auto a = parse_address_box(address, empty))
        for (const auto& [known, password] : by_address_)
            if (known == *a)
                return &password;
    return nullptr;
}

} // namespace talvor::cli
