#include "operations/not_added.h"

#include <algorithm>

namespace talvor {

const char* not_added_text(unit_failure reason)
{
    switch (reason) {
    case unit_failure::no_answer:
        return "no answer";
    case unit_failure::unreachable:
        return "connection failed";
    case unit_failure::no_client:
        return "answers, but neither as an HTTP nor as a WebSocket unit";
    case unit_failure::security_refused:
        return "refused: its security problems were not accepted";
    case unit_failure::password_cancelled:
        return "login failed: password prompt cancelled";
    case unit_failure::login_refused:
        return "login failed: password refused";
    case unit_failure::read_failed:
        return "its information could not be read";
    case unit_failure::duplicate:
        return "already listed";
    case unit_failure::none:
        break;
    }
    return "not known";
}

std::string not_added_unit::text() const { return detail.empty() ? not_added_text(reason) : detail; }

void not_added_list::note(std::string address, unit_failure reason, std::string detail)
{
    forget(address);
    entries_.push_back({std::move(address), reason, std::move(detail)});
}

bool not_added_list::forget(const std::string& address)
{
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const not_added_unit& e) { return e.address == address; });
    if (it == entries_.end())
        return false;
    entries_.erase(it);
    return true;
}

} // namespace talvor
