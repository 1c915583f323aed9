#pragma once
// Simulated fleets for the benchmarks: `count` units on PREFIX.x.y
// addresses, each a Talvor hub with one Multi-Port TAP and the password
// "bench-pw"; kind "http", "wss" or "mixed" (alternating, HTTP first).
#include <cstdio>
#include <functional>
#include <string>

namespace talvor::bench {

inline std::string address_of(const std::string& prefix, int a)
{
    return prefix + "." + std::to_string(a / 250) + "." + std::to_string(a % 250 + 1);
}

// `unit_extra(a)` is JSON members added to unit a, `fleet_extra` to the fleet.
inline std::string fleet_json(int count, const std::string& kind, const std::string& prefix,
                              const std::function<std::string(int)>& unit_extra, const std::string& fleet_extra)
{
    std::string s = R"({"threads": 2, )" + fleet_extra + R"("units": [)";
    for (int a = 1; a <= count; ++a) {
        char mac[40];
        std::snprintf(mac, sizeof mac, "00:1a:7e:%02x:%02x:%02x", static_cast<unsigned>(prefix.size() * 7 & 255),
                      a >> 8, a & 255);
        const std::string k = kind == "mixed" ? (a % 2 ? "http" : "wss") : kind;
        s += (a > 1 ? "," : "") + std::string(R"({"name": "u)") + std::to_string(a) + R"(", "kind": ")" + k +
             R"(", "address": ")" + address_of(prefix, a) + R"(", "password": "bench-pw", )" + unit_extra(a) +
             R"("gen_conf": {"system": "622", "ser": "B)" + std::to_string(a) + R"(", "mac0": ")" + mac +
             R"(", "fw_v_net": "v0.64.2", "capabilities": 415}, "bus_sizes": [4], "taps": [)" +
             R"({"bus": 0, "address": 1, "type": 3, "ccts": 8, "sernr": "T)" + std::to_string(a) +
             R"(", "fstcct": 0, "caps": 5, "fwver": 291, "fpgats": 0}]})";
    }
    return s + "]}";
}

inline std::string fleet_json(int count, const std::string& kind, const std::string& prefix,
                              const std::string& unit_extra = "", const std::string& fleet_extra = "")
{
    return fleet_json(count, kind, prefix, [&](int) { return unit_extra; }, fleet_extra);
}

} // namespace talvor::bench
