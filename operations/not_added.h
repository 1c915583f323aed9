#pragma once
// The addresses the user asked for that did not make it into the list, each
// with why. A site may have a hundred units offline, so front ends show them
// together instead of one message per unit. UI thread only.
#include <string>
#include <vector>

#include "inventory/ensure_login_state.h"

namespace talvor {

struct not_added_unit {
    std::string address; // address text
    unit_failure reason = unit_failure::none;
    std::string detail;  // said instead of the reason's text when set ("duplicate of ...")

    std::string text() const;
};

// The reason as the user reads it ("no answer", "already listed", ...).
const char* not_added_text(unit_failure reason);

// One entry per address, the latest outcome last: trying an address again
// replaces its entry, and an address that gets listed leaves. Entries stay
// until cleared, so a list read after a long discovery is still whole.
class not_added_list {
public:
    void note(std::string address, unit_failure reason, std::string detail = {});
    // False when the address had no entry.
    bool forget(const std::string& address);
    void clear() { entries_.clear(); }
    const std::vector<not_added_unit>& entries() const { return entries_; }

private:
    std::vector<not_added_unit> entries_;
};

} // namespace talvor
