// Prints how long the unit readers take on the largest replies a unit sends.
#include <chrono>
#include <cstdio>
#include <string>

#include "inventory/details_rows.h"
#include "inventory/unit_group.h"
#include "inventory/unit_info.h"

using namespace talvor;

namespace {

std::string column(int n, const std::string& value)
{
    std::string s = "[";
    for (int i = 0; i < n; ++i)
        s += (i ? "," : "") + value;
    return s + "]";
}

template <class F>
void measure(const char* what, int rounds, F&& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        f();
    const std::chrono::duration<double, std::micro> dt = std::chrono::steady_clock::now() - t0;
    std::printf("%-44s %10.2f us per call (%d calls)\n", what, dt.count() / rounds, rounds);
}

} // namespace

int main()
{
    unit_group group;
    CHubDevice* unit = group.add_unit(make_unit_address(ipv4_mapped(127, 0, 0, 1)));

    const int n = 256;
    const std::string details = "{\"delim\":[64,64,64,64],\"type\":" + column(n, "11") + ",\"sernr\":" +
                                column(n, "\"RM-000123\"") + ",\"ccts\":" + column(n, "24") + ",\"fstcct\":" +
                                column(n, "0") + ",\"caps\":" + column(n, "21") + ",\"fwver\":" + column(n, "8209") +
                                ",\"fpgats\":" + column(n, "1700000000") + ",\"chip_type\":" + column(n, "2") + "}";
    const std::string conf = R"({"system":"622","ser":"TV-0001","bacnet_desc":"Main switchboard","mac0":"00:1a:2b:3c:4d:5e",
        "fw_v_net":"v1.4.2","fw_v_sys":"v5.61","textid":1145258561,"capabilities":415})";

    measure("parse 256-TAP details reply", 2000, [&] { json_parser::from(details); });
    json_ptr parsed = json_parser::from(details);
    measure("read_tap_details, 256 TAPs", 2000, [&] { read_tap_details(*unit, *parsed); });
    json_ptr gen = json_parser::from(conf);
    measure("read_gen_conf", 20000, [&] { read_gen_conf(*unit, *gen); });
    measure("details rows of 256 TAPs, merged", 2000, [&] {
        for (auto& tap : unit->taps)
            tap->selected = 1;
        selection_details(group);
    });
    return 0;
}
