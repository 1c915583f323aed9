#pragma once
// The addresses the user asked for that did not make it into the list, each
// with why. A site may have a hundred units offline, so front ends show them
// together instead of one message per unit. UI thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "inventory/ensure_login_state.h"

namespace talvor {

struct not_added_unit {
    std::string address; // address text
    unit_failure reason = unit_failure::none;
    std::uint32_t problems = 0; // the security problems refused, for security_refused
    std::string detail;         // said instead of the reason when set ("duplicate of ...")
};

// The reason as the user reads it ("no answer", "already listed", ...,
// and for a security refusal its problems and the ways on).
std::string not_added_text(const not_added_unit& entry);

// One entry per address, the latest outcome last: trying an address again
// replaces its entry, and an address that gets listed leaves. Entries stay
// until cleared, so a list read after a long discovery is still whole.
class not_added_list {
public:
    void note(std::string address, unit_failure reason, std::uint32_t problems = 0, std::string detail = {});
    // False when the address had no entry.
    bool forget(const std::string& address);
    void clear() { entries_.clear(); }
    const std::vector<not_added_unit>& entries() const { return entries_; }

private:
    std::vector<not_added_unit> entries_;
};

} // namespace talvor
