#pragma once
// The units a talvorctl run is to act on, settled before any is contacted:
// every address must be one, and every list must load and name at least
// one unit; otherwise nothing is sent.
#include <string>
#include <vector>

#include "cli/options.h"
#include "transport/conn_sess.h"

namespace talvor::cli {

struct resolved_targets {
    std::vector<ip_address> addresses; // in the order the user gave them
    std::string error;                 // the first target that does not resolve, and why
};

resolved_targets resolve_targets(const options& opts);

} // namespace talvor::cli
