#include "inventory/address_entry.h"
#include "inventory/address_list.h"
#include "operations/unit_manager.h"
#include "operations/file_checks.h"
#include "transport/file_bytes.h"

namespace talvor {

add_result unit_manager::add_device(std::string_view box_text)
{
    bool empty = false;
    const auto address = parse_address_box(box_text, empty);
    if (empty)
        return add_result::empty;
    if (!address) {
        ui_.task_dialog(error_dialog(add_device_title, "IP address is invalid", ""));
        return add_result::invalid;
    }
    reset_security_answer();
    CHubDevice* unit = group_->add_unit(make_unit_address(*address));
    if (!unit) {
        note_not_added(address_text(*address), unit_failure::duplicate);
        return add_result::duplicate;
    }
    queue_refresh(*unit);
    return add_result::added;
}

int unit_manager::load_address_list(const std::filesystem::path& path)
{
    const std::string heading = address_list_heading(path);
    byte_vector bytes;
    if (const std::string why = read_file_problem(path, bytes); !why.empty()) {
        report_input_refused(ui_, add_multiple_title, heading, "Failed to load file !", path, why);
        return -1;
    }
    const address_list_result list = parse_address_list(bytes);
    if (list.error_line != 0) {
        ui_.task_dialog(error_dialog(add_multiple_title, heading,
                                     "File format is invalid, error at line " + std::to_string(list.error_line) + " !"));
        return -1;
    }
    add_addresses(list.addresses);
    if (listener_)
        listener_->list_loaded(path);
    return 0;
}

void unit_manager::add_addresses(const std::vector<ip_address>& addresses)
{
    for (std::size_t k = 0; k < addresses.size(); ++k)
        on_unit_found(k, make_unit_address(addresses[k]), true);
}

bool unit_manager::add_multiple()
{
    file_request request;
    request.title = address_file_dialog_title;
    request.filter = address_file_filter;
    const auto chosen = ui_.choose_file(request);
    if (!chosen)
        return false;
    load_address_list(*chosen);
    return true;
}

} // namespace talvor
