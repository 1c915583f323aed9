#include "inventory/unit_filter.h"

#include <algorithm>
#include <cctype>

#include "inventory/details_rows.h"

namespace talvor {

namespace {

bool found_in(std::string_view hay, std::string_view needle)
{
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), same) != hay.end();
}

// The rows the filter looks at, as the details list shows them.
bool rows_match(const std::vector<details_row>& rows, std::string_view text)
{
    static constexpr std::string_view searched[] = {"Serial Number", "IP Address", "Description",
                                                    "Firmware Version"};
    for (const auto& [name, value] : rows)
        if (std::find(std::begin(searched), std::end(searched), name) != std::end(searched) && found_in(value, text))
            return true;
    return false;
}

} // namespace

bool unit_matches(const CHubDevice& unit, std::string_view text)
{
    if (text.empty())
        return true;
    std::vector<details_row> rows;
    unit_details_rows(unit, rows);
    return rows_match(rows, text);
}

bool tap_matches(const CTapDevice& tap, std::string_view text)
{
    if (text.empty())
        return true;
    std::vector<details_row> rows;
    tap_details_rows(tap, rows);
    return rows_match(rows, text) || found_in(tap.label, text);
}

} // namespace talvor
