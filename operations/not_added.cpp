#include "operations/not_added.h"

#include <algorithm>

#include "inventory/failure_reason.h"

namespace talvor {

std::string not_added_text(const not_added_unit& entry)
{
    if (!entry.detail.empty())
        return entry.detail;
    return failure_reason(entry.reason, entry.problems, reason_words::window);
}

void not_added_list::note(std::string address, unit_failure reason, std::uint32_t problems, std::string detail)
{
    forget(address);
    entries_.push_back({std::move(address), reason, problems, std::move(detail)});
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
