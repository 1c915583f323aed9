#include "transport/json_text.h"

namespace talvor::json_text {

std::string envelope(std::uint32_t id, std::string_view request, std::string_view data)
{
    std::string s = "{ \"_id\" : " + std::to_string(id) + ", \"request\" : \"";
    s += request;
    s += '"';
    if (!data.empty()) {
        s += ", \"data\" : ";
        s += data;
    }
    s += " }";
    return s;
}

std::string pass_data(std::string_view hex)
{
    std::string s = "{ \"pass\" : \"";
    s += hex;
    return s + "\" }";
}

std::string set_password_data(std::string_view pass_hex, std::string_view check_hex)
{
    std::string s = "{ \"pass\" : \"";
    s += pass_hex;
    s += "\", \"check\" : \"";
    s += check_hex;
    return s + "\" }";
}

std::string target_data(long long target) { return "{ \"target\" : " + std::to_string(target) + " }"; }
std::string reboot_data(unsigned code) { return "{ \"reboot\" : " + std::to_string(code) + " }"; }
std::string sdcard_clear_data(unsigned code) { return "{ \"sdcard_clear\" : " + std::to_string(code) + " }"; }
std::string category_data(unsigned category) { return "{ \"cat\" : " + std::to_string(category) + " }"; }

std::string modbus_read_data(long long start, long long count, long long interval)
{
    return "{ \"start\" : " + std::to_string(start) + ", \"count\" : " + std::to_string(count) +
           ", \"interval\" : " + std::to_string(interval) + " }";
}

std::string modbus_write_data(long long start, const std::vector<int>& values)
{
    std::string s = "{ \"start\" : " + std::to_string(start) + ", \"count\" : " + std::to_string(values.size()) +
                    ", \"regs\" : [ ";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            s += ", ";
        s += std::to_string(values[i]);
    }
    return s + " ] }";
}

} // namespace talvor::json_text
