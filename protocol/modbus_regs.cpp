#include "protocol/modbus_regs.h"

#include "transport/checked_number.h"

namespace talvor {

int modbus_regs_from(const json_parser* reply, int count, std::vector<int>& out)
{
    if (!reply || count < 0)
        return -1;
    const auto array = reply->find(json_parser::root, "regs");
    if (!reply->is(array, json_type::array) || reply->tokens[array].size != count)
        return -1;
    std::vector<int> values;
    values.reserve(static_cast<std::size_t>(count));
    auto t = array + 1;
    for (int i = 0; i < count; ++i) {
        if (!reply->is(t, json_type::primitive))
            return -1;
        const auto v = checked_truncate<int>(reply->get_number(t));
        if (!v)
            return -1;
        values.push_back(*v);
        t = reply->skip(t);
    }
    out = std::move(values);
    return 0;
}

} // namespace talvor
