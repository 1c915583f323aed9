#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/hub_device.h"
#include "inventory/reply_values.h"
#include "inventory/unit_info.h"

namespace talvor {

namespace {

bool is_hex(char ch) { return std::isxdigit(static_cast<unsigned char>(ch)) != 0; }
bool is_dec(char ch) { return ch >= '0' && ch <= '9'; }

int hex_value(char ch)
{
    if (is_dec(ch))
        return ch - '0';
    return std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10;
}

// Six hex groups, each below 256, joined by ':', nothing after the sixth.
bool parse_mac(std::string_view text, mac_address& out)
{
    mac_address mac{};
    std::size_t pos = 0;
    for (int group = 0; group < 6; ++group) {
        if (pos >= text.size() || !is_hex(text[pos]))
            return false;
        unsigned value = 0;
        while (pos < text.size() && is_hex(text[pos])) {
            value = value * 16 + static_cast<unsigned>(hex_value(text[pos++]));
            if (value >= 256)
                return false;
        }
        mac[static_cast<std::size_t>(group)] = static_cast<std::uint8_t>(value);
        if (group < 5) {
            if (pos >= text.size() || text[pos] != ':')
                return false;
            ++pos;
        }
    }
    if (pos != text.size())
        return false;
    out = mac;
    return true;
}

// "v" (either case) then `count` decimal numbers below 65536 joined by '.'.
bool parse_version(std::string_view text, int count, int (&numbers)[3])
{
    if (text.empty() || std::tolower(static_cast<unsigned char>(text[0])) != 'v')
        return false;
    std::size_t pos = 1;
    for (int n = 0; n < count; ++n) {
        if (pos >= text.size() || !is_dec(text[pos]))
            return false;
        long value = 0;
        while (pos < text.size() && is_dec(text[pos])) {
            value = value * 10 + (text[pos++] - '0');
            if (value >= 65536)
                return false;
        }
        numbers[n] = static_cast<int>(value);
        if (n + 1 < count) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
    }
    return pos == text.size();
}

version_triple version_from_bits(std::int64_t v)
{
    const auto u = static_cast<std::uint64_t>(v);
    return version_triple{static_cast<int>(u & 0xF), static_cast<int>((u >> 4) & 0xFF), static_cast<int>((u >> 12) & 0xF)};
}

// The leading number as atoi reads it, but saturating: a long digit run
// must not overflow, it only has to differ from 522 and 622.
long leading_number(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    long value = 0;
    while (pos < text.size() && is_dec(text[pos])) {
        if (value < 1000000)
            value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return negative ? -value : value;
}

struct gen_conf_state {
    std::string system;
    bool second_mac = false;
};

void apply_member(CHubDevice& unit, gen_conf_state& st, const json_parser& reply, std::string key, std::size_t value)
{
    for (char& ch : key)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const bool is_string = reply.is(value, json_type::string);
    const std::string text = is_string ? printable_text(reply.get_string(value)) : std::string();

    if (key == "system") {
        if (is_string) {
            st.system = text;
            for (char& ch : st.system)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        } else if (auto n = reply_number<std::int64_t>(reply, value)) {
            st.system = std::to_string(*n);
        }
    } else if (key == "ser") {
        if (is_string)
            unit.serial = text;
    } else if (key == "bacnet_desc") {
        if (is_string)
            unit.description = text;
    } else if (key == "mac0") {
        if (is_string)
            parse_mac(text, unit.mac);
    } else if (key == "mac1") {
        if (is_string)
            st.second_mac = true;
    } else if (key == "fw_v_net" || key == "fw_v_sys") {
        version_triple& target = key == "fw_v_net" ? unit.net_version : unit.sys_version;
        if (is_string) {
            int n[3] = {0, 0, 0};
            const int count = key == "fw_v_net" ? 3 : 2;
            if (parse_version(text, count, n))
                target = version_triple{count == 3 ? n[2] : 0, n[1], n[0]};
        } else if (auto n = reply_number<std::int64_t>(reply, value)) {
            target = version_from_bits(*n);
        }
    } else if (key == "textid") {
        if (auto n = reply_number<std::uint32_t>(reply, value)) {
            const std::uint32_t v = *n;
            std::string id;
            for (int shift : {8, 0, 24, 16})
                id.push_back(static_cast<char>((v >> shift) & 0xFF));
            unit.text_id = printable_text(id);
        }
    } else if (key == "capabilities") {
        if (auto n = reply_number<std::uint32_t>(reply, value))
            unit.capabilities = *n;
    }
}

} // namespace

void read_gen_conf(CHubDevice& unit, const json_parser& reply)
{
    unit.label.clear();
    unit.text_id.clear();
    unit.serial.clear();
    unit.description.clear();
    unit.capabilities = 0;
    unit.capabilities_lost = 0;
    unit.net_version = {};
    unit.sys_version = {};
    unit.mac = unknown_mac;
    gen_conf_state st;

    reply.for_each_member(json_parser::root, [&](const json_parser& p, const std::string& key, std::size_t& value) {
        apply_member(unit, st, p, key, value);
        return 0;
    });

    const std::string where = address_text(unit.address);
    unit.label = unit.serial.empty() ? "[" + where + "]" : unit.serial + " [" + where + "]";
    unit.cwm_variant = st.system == "622-cwm" ? 1 : 0;

    const version_triple& net = unit.net_version;
    std::uint32_t defaults = 0;
    switch (leading_number(st.system)) {
    case 522:
        unit.system_type = system_orvane;
        break;
    case 622:
        unit.system_type = system_talvor;
        defaults = 0x17;
        break;
    default:
        if (st.second_mac || (net.major == 0 && net.minor < 16)) {
            unit.system_type = system_talvor;
            if (net.major == 0 && (net.minor == 1 || net.minor == 2))
                unit.cwm_variant = 1;
            if (unit.cwm_variant == 1 || net.major > 0 || net.minor >= 37)
                defaults = cap_sdcard;
        } else {
            unit.system_type = system_orvane;
        }
        break;
    }
    if (unit.capabilities == 0)
        unit.capabilities = defaults;
    if (unit.hub && unit.hub->protocol_kind() == protocol_wss)
        unit.capabilities |= cap_certificates;
    unit.product_class = hub_product_class(unit.system_type);

    // Older firmware signs images yet reports no progress; some of those
    // releases cannot check signatures after all.
    if (!(unit.capabilities & cap_progress)) {
        const bool v057 = net.major == 0 && net.minor == 57;
        const bool v058 = net.major == 0 && net.minor == 58;
        const bool v059 = net.major == 0 && net.minor == 59;
        if (unit.capabilities & cap_signature) {
            unit.capabilities |= cap_progress;
            if ((v057 && net.build >= 4) || v058 || (v059 && net.build <= 0))
                unit.capabilities &= ~cap_signature;
        } else if (v059 && net.build == 2) {
            unit.capabilities |= cap_progress;
        }
    }
    if (!(unit.capabilities & cap_progress) && unit.hub)
        unit.hub->set_flags(option_no_progress);
}

} // namespace talvor
