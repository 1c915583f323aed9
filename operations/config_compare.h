#pragma once
// Two configuration texts compared key by key: what config-diff reports and
// what an upload "only if different" decides by. The units name their
// categories and masks but not which keys a category holds, so the whole
// text is compared whatever categories are chosen, and a difference names
// no category.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvor {

// One key whose value differs.
struct config_difference {
    std::string category; // the category holding the key; empty: not known
    // The key as a JSON Pointer ("/glob_conf/name", array elements by index:
    // "/filtering/list/0").
    std::string path;
    // Each side's value as JSON text without white space ("\"north\"", "7",
    // "{\"a\":1}"); empty when that side lacks the key.
    std::string unit, file;
};

// How `unit` differs from `file`: objects and arrays walked by key and
// index, values compared as text ("1" and "1.0" differ). In the file's
// order, each key the unit lacks or holds otherwise, then the keys only the
// unit has. Nothing when either text is not a JSON object.
std::optional<std::vector<config_difference>> compare_config(std::string_view unit, std::string_view file);

// "no key differs", "1 key differs", "3 keys differ".
std::string differences_text(std::size_t count);

} // namespace talvor
