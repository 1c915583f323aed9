#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "inventory/hub_device.h"
#include "inventory/reply_values.h"
#include "inventory/unit_group.h"
#include "inventory/unit_info.h"

namespace talvor {

int read_config_cats(CHubDevice& unit, const json_parser& reply)
{
    const std::size_t cats = reply.find(json_parser::root, "cats");
    if (!reply.is(cats, json_type::array))
        return -1;

    // Everything is checked before anything is stored, so a bad reply
    // leaves the record (and the shared dictionary) as it was.
    std::vector<std::pair<std::string, int>> entries;
    std::size_t element = cats + 1;
    for (int i = 0; i < reply.tokens[cats].size; ++i) {
        if (!reply.is(element, json_type::object) || reply.tokens[element].size != 1)
            return -1;
        const std::size_t key = element + 1;
        if (!reply.is(key, json_type::string) || reply.tokens[key].size != 1)
            return -1;
        auto value = reply_number<int>(reply, key + 1);
        if (!value)
            return -1;
        entries.emplace_back(reply.get_string(key, 1), *value);
        element = reply.skip(element);
    }

    int version = 1;
    const std::size_t v = reply.find(json_parser::root, "version");
    if (v != reply.end()) {
        auto n = reply_number<int>(reply, v);
        if (!n)
            return -1;
        version = *n;
    }

    unit.config_version = version;
    unit.config_categories.clear();
    for (const auto& [name, value] : entries)
        unit.config_categories.emplace_back(unit.group->category_id(name), value);
    return 0;
}

} // namespace talvor
