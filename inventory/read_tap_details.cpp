#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inventory/hub_device.h"
#include "inventory/reply_values.h"
#include "inventory/unit_info.h"

namespace talvor {

namespace {

inline constexpr std::size_t max_taps = 256;

enum slot : std::size_t { s_delim, s_type, s_sernr, s_ccts, s_fstcct, s_caps, s_fwver, s_fpgats, s_chip_type, slot_count };
constexpr std::array<const char*, slot_count> slot_keys = {"delim", "type", "sernr", "ccts", "fstcct",
                                                           "caps", "fwver", "fpgats", "chip_type"};

// One per-TAP array, read and checked. An empty array stands for "not
// reported" (every TAP gets 0 or empty text).
struct column {
    std::vector<std::int64_t> numbers;
    std::vector<std::string> texts;
    std::size_t size() const { return numbers.empty() ? texts.size() : numbers.size(); }
    std::int64_t number(std::size_t i) const { return i < numbers.size() ? numbers[i] : 0; }
};

// Reads the array at `token`: every element of the wanted type and a usable
// number within [lo, hi] where numbers are wanted.
bool read_column(const json_parser& reply, std::size_t token, bool strings, std::int64_t lo, std::int64_t hi, column& out)
{
    if (!reply.is(token, json_type::array))
        return false;
    const int n = reply.tokens[token].size;
    std::size_t element = token + 1;
    for (int i = 0; i < n; ++i) {
        if (strings) {
            if (!reply.is(element, json_type::string))
                return false;
            out.texts.push_back(printable_text(reply.get_string(element)));
        } else {
            auto v = reply_number<std::int64_t>(reply, element);
            if (!v || *v < lo || *v > hi)
                return false;
            out.numbers.push_back(*v);
        }
        element = reply.skip(element);
    }
    return true;
}

void place_on_bus(CTapDevice& tap, const std::vector<int>& bus_sizes)
{
    int v = tap.index;
    std::size_t b = 0;
    while (b < bus_sizes.size() && v >= bus_sizes[b]) {
        v -= bus_sizes[b];
        ++b;
    }
    tap.bus = static_cast<int>(b);
    tap.bus_address = v + 1;
}

version_triple tap_version_from_raw(int product_class, int r)
{
    if (product_class == class_multi_port_tap || product_class == class_orvane_meter) {
        const int d = (r & 0xF) + (r >> 4) * 10;
        return version_triple{0, d % 100, d / 100};
    }
    return version_triple{r & 0xF, (r >> 4) & 0xFF, (r >> 12) & 0xF};
}

} // namespace

int read_tap_details(CHubDevice& unit, const json_parser& reply)
{
    constexpr std::int64_t int_lo = INT32_MIN, int_hi = INT32_MAX;
    std::array<column, slot_count> cols;
    std::size_t count = 0;
    for (std::size_t s = 0; s < slot_count; ++s) {
        const std::size_t token = reply.find(json_parser::root, slot_keys[s]);
        if (token == reply.end()) {
            if (s == s_chip_type)
                continue;
            return -1;
        }
        const bool strings = s == s_sernr;
        // Bus sizes are counts: a negative one would push the bus walk's
        // address past any integer.
        const std::int64_t lo = (s == s_fpgats || s == s_delim) ? 0 : int_lo;
        const std::int64_t hi = s == s_fpgats ? std::int64_t{UINT32_MAX} : int_hi;
        if (!read_column(reply, token, strings, lo, hi, cols[s]))
            return -1;
        if (s == s_type) {
            count = cols[s].size();
            if (count > max_taps)
                return -1;
        } else if (s != s_delim && cols[s].size() != 0 && cols[s].size() != count) {
            return -1;
        }
    }

    unit.bus_sizes.clear();
    for (std::int64_t n : cols[s_delim].numbers)
        unit.bus_sizes.push_back(static_cast<int>(n));

    unit.taps.clear();
    for (std::size_t i = 0; i < count; ++i) {
        // Without channel counts nothing is a usable TAP, just as with a 0.
        if (cols[s_type].number(i) == 0 || cols[s_ccts].number(i) == 0)
            continue;
        auto tap = std::make_unique<CTapDevice>(static_cast<int>(i));
        tap->kind = static_cast<int>(cols[s_type].number(i));
        if (i < cols[s_sernr].texts.size())
            tap->serial = cols[s_sernr].texts[i];
        tap->channel_count = static_cast<int>(cols[s_ccts].number(i));
        tap->first_channel = static_cast<int>(cols[s_fstcct].number(i));
        tap->tap_caps = static_cast<int>(cols[s_caps].number(i));
        tap->fw_raw = static_cast<int>(cols[s_fwver].number(i));
        tap->fpga_timestamp = static_cast<std::uint32_t>(cols[s_fpgats].number(i));
        tap->chip_type = static_cast<int>(cols[s_chip_type].number(i));

        place_on_bus(*tap, unit.bus_sizes);
        tap->detail_rows = tap->bus == 0 ? 0x1F : 0x1B;
        tap->label = tap->serial.empty() ? "#" + std::to_string(tap->bus_address) : tap->serial;
        classify(*tap);
        tap->version = tap_version_from_raw(tap->product_class, tap->fw_raw);
        unit.taps.push_back(std::move(tap));
    }
    return 0;
}

} // namespace talvor
