#pragma once
// The inventory as one document: every refreshed unit and its TAPs with
// their details rows, as JSON (what talvorctl --json show prints) or as
// CSV, a row per unit and per TAP; and "Export Inventory ...", which saves
// either to a file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "inventory/hub_device.h"

namespace talvor {

class dialogs;
class unit_manager;

// A unit the refresh dropped; the JSON document lists it with its reason.
struct inventory_dropped {
    ip_address address{};
    std::string address_text;
    std::string label;
    int protocol = 0;   // protocol_http, protocol_wss, 0 when not known
    std::string result; // "failed", "duplicate" or "cancelled"
    std::string error;
    std::string serial;         // empty when never read
    std::uint32_t problems = 0; // the security problems refused, when that is why
};

// The version of the document below: a script may rely on every key it
// names (doc/json.md); a key is only ever added without a new version.
inline constexpr int inventory_schema = 1;

// {"schema": 1, "units": [...]} in address order (at one address the
// refreshed unit first), then a newline. Each unit has keyed fields
// (serial, mac, firmware_version, problems, ...; each TAP's class, serial,
// bus address and firmware version) beside its details rows as the tree
// shows them.
std::string inventory_json(const std::vector<const CHubDevice*>& units,
                           const std::vector<inventory_dropped>& dropped = {});

// A header row, then each unit's row followed by one per TAP, in the JSON
// document's order. The leading columns Kind ("unit" or "TAP"), Hub Type,
// Unit (its label), Address, Protocol, TAP Class and TAP (its label) name
// the row; one column per details row name follows, in the order first
// seen. UTF-8, CRLF line ends, fields quoted where RFC 4180 needs it.
std::string inventory_csv(const std::vector<const CHubDevice*>& units);

// Asks for the file and writes the units that are not at work into it: JSON
// for a name ending in .json, CSV otherwise, replacing the file only once
// complete. 1 written (its path in `written` when given), 0 cancelled, -1
// failed (told to the user).
int export_inventory(unit_manager& manager, dialogs& ui, std::filesystem::path* written = nullptr);

} // namespace talvor
