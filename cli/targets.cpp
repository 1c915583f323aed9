#include "cli/targets.h"

#include "inventory/address_entry.h"
#include "inventory/address_list.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor::cli {

resolved_targets resolve_targets(const options& opts)
{
    resolved_targets out;
    for (const target& t : opts.targets) {
        if (t.what == target::kind::address) {
            bool empty = false;
            const auto address = parse_address_box(t.text, empty);
            if (!address) {
                out.error = "'" + t.text + "': IP address is invalid";
                return out;
            }
            out.addresses.push_back(*address);
            continue;
        }
        byte_vector bytes;
        if (const std::string why = input_file_problem(utf8_path(t.text), input_kind::address_list, bytes);
            !why.empty()) {
            out.error = "address list " + t.text + ": " + why;
            return out;
        }
        const address_list_result list = parse_address_list(bytes);
        out.addresses.insert(out.addresses.end(), list.addresses.begin(), list.addresses.end());
    }
    return out;
}

} // namespace talvor::cli
