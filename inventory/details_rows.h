#pragma once
// The name/value rows the details list shows for a unit or a TAP.
#include <string>
#include <utility>
#include <vector>

#include "inventory/hub_device.h"
#include "inventory/tap_device.h"

namespace talvor {

class unit_group;

using details_row = std::pair<std::string, std::string>;

// Append in display order.
void unit_details_rows(const CHubDevice& unit, std::vector<details_row>& rows);
void tap_details_rows(const CTapDevice& tap, std::vector<details_row>& rows);

// A row of the details list: rows of several items merge by name, and a
// name whose values differ shows "various".
struct merged_row {
    std::string name;
    std::string value; // empty once various
    bool various = false;
};
void merge_row(std::vector<merged_row>& rows, const details_row& row);
// The list for the current selection: the selected units when there are
// any, else the selected TAPs, in group order.
std::vector<merged_row> selection_details(const unit_group& group);

} // namespace talvor
