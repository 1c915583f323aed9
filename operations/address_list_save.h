#pragma once
// "Save Address List ...": the listed units as an address list file, the
// form "Add Multiple ..." reads, so that a site is listed again in one step.
#include <filesystem>
#include <string>
#include <vector>

#include "inventory/hub_device.h"

namespace talvor {

class dialogs;
class unit_manager;

// A comment line, then one line per unit in address order: its address,
// and after '#' its serial number and description (control characters as spaces).
std::string address_list_text(const std::vector<const CHubDevice*>& units);

// Asks for the file and writes every listed unit into it, replacing the
// file only once complete. 1 written (its path in `written` when given), 0
// cancelled or nothing listed, -1 failed (told to the user).
int save_address_list(unit_manager& manager, dialogs& ui, std::filesystem::path* written = nullptr);

} // namespace talvor
