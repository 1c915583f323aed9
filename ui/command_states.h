#pragma once
// Which of the main window's commands can run now, and for each that
// cannot, the reason its button's tooltip gives. Both come from one set of
// conditions, so a button is never greyed out without saying why.
#include <cstdint>
#include <string>
#include <vector>

#include "inventory/code_tables.h"
#include "operations/busy_units.h"

namespace talvor {

enum class unit_work { none, reading, batch };

// What the button states depend on.
struct command_inputs {
    bool address_typed = false;    // the address box holds more than white space
    bool discovery_allowed = false; // bit 0 of discover_flags
    bool discovery_running = false;
    bool tree_filled = false;
    int selected_class = class_unknown;
    std::uint32_t capabilities = 0; // OR over the checked units
    unit_work busy = unit_work::none;
};

// What the outstanding jobs are: the first refreshes or a batch.
unit_work busy_work(const busy_units& busy);

struct command_state {
    int id;
    std::string reason; // empty: enabled
};

// One entry per button of the main window, and the menus' "Change Password ...".
std::vector<command_state> command_states(const command_inputs& in);

} // namespace talvor
