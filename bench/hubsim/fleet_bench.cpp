// hubsim_bench [UNITS]: one process serving UNITS units (default 256) on
// 127.3.240.1 onwards; prints start-up time, resident memory idle and with a
// session open on every unit, and the rate of HTTP exchanges.
#include "protocol/key_derivation.h"
#include "simulator/hubsim.h"
#include "wire_client.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

long rss_kib()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::string address(int n)
{
    return "127.3." + std::to_string(240 + n / 250) + "." + std::to_string(1 + n % 250);
}

std::string json_string(const std::string& text, const std::string& key)
{
    auto at = text.find("\"" + key + "\":\"");
    if (at == std::string::npos)
        return {};
    at += key.size() + 4;
    return text.substr(at, text.find('"', at) - at);
}

} // namespace

int main(int argc, char** argv)
{
    int units = argc > 1 ? std::atoi(argv[1]) : 256;
    std::string fleet = "{\"units\":[";
    for (int n = 0; n < units; ++n) {
        fleet += std::string(n ? "," : "") + "{\"name\":\"b" + std::to_string(n) + "\",\"kind\":\"" +
                 (n % 2 ? "wss" : "http") + "\",\"address\":\"" + address(n) +
                 "\",\"password\":\"pw\",\"salt\":\"s" + std::to_string(n) + "\",\"taps\":[{\"type\":3,\"ccts\":8}]}";
    }
    fleet += "]}";
    long before = rss_kib();
    auto t0 = std::chrono::steady_clock::now();
    const auto work = std::filesystem::temp_directory_path() / ("hubsim-bench-" + std::to_string(::getpid()));
    auto server = std::make_unique<talvor::sim::fleet_server>(fleet, work);
    std::printf("units %d, started in %.3f s\n", units, seconds_since(t0));
    std::printf("resident memory: %ld KiB before, %ld KiB serving idle\n", before, rss_kib());

    // One logged-in session on every unit, WebSocket connections kept open.
    std::vector<std::unique_ptr<wire::ws_client>> sockets;
    int ok = 0;
    t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < units; ++n) {
        std::string a = address(n);
        std::string salt = "s" + std::to_string(n);
        auto key = talvor::derive_f("pw", salt);
        if (n % 2 == 0) {
            auto ch = wire::http(a, "GET", "/challenge_get.action");
            auto login = wire::http(a, "POST", "/auth_login.action",
                                    "pass=" + talvor::hex_lower(talvor::derive_f(key, json_string(ch.body, "challenge"))));
            ok += login.status == 200 && wire::http(a, "GET", "/gen_conf_get.action").status == 200;
        } else {
            auto ws = std::make_unique<wire::ws_client>(a, server->ca_cert_path().string());
            std::string login = ws->request("{ \"_id\" : 1, \"request\" : \"auth_login.action\", \"data\" : { \"pass\" : \"" +
                                            talvor::hex_lower(key) + "\" } }");
            std::string gen = ws->request("{ \"_id\" : 2, \"request\" : \"gen_conf_get.action\" }");
            ok += login == "data:1,200,admin" && gen.rfind("data:2,200,", 0) == 0;
            sockets.push_back(std::move(ws));
        }
    }
    std::printf("login and general configuration on %d of %d units in %.3f s\n", ok, units, seconds_since(t0));
    std::printf("resident memory with %zu WebSocket sessions open: %ld KiB\n", sockets.size(), rss_kib());

    const int exchanges = 2000;
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < exchanges; ++i)
        wire::http(address((2 * i) % units), "GET", "/XYZZY.ASD");
    double s = seconds_since(t0);
    std::printf("%d HTTP exchanges (new connection each) in %.3f s: %.0f per second\n", exchanges, s, exchanges / s);

    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < exchanges; ++i)
        sockets[i % sockets.size()]->request("{ \"_id\" : 3, \"request\" : \"auth_salt.action\" }");
    s = seconds_since(t0);
    std::printf("%d WebSocket exchanges in %.3f s: %.0f per second\n", exchanges, s, exchanges / s);
    sockets.clear();
    server->clear_requests();
    t0 = std::chrono::steady_clock::now();
    server.reset();
    std::printf("stopped in %.3f s\n", seconds_since(t0));
    std::filesystem::remove_all(work);
    return ok == units ? 0 : 1;
}
