// Prints request round trips and upload throughput of both clients against
// two simulated units on loopback.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "protocol/zt_hub_http.h"
#include "protocol/zt_hub_wss.h"
#include "simulator/hubsim.h"

using namespace talvor;
using clock_type = std::chrono::steady_clock;

namespace {

ip_address v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return ip_address{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, a, b, c, d};
}

double seconds_since(clock_type::time_point t)
{
    return std::chrono::duration<double>(clock_type::now() - t).count();
}

void run(const char* label, zt_hub& hub)
{
    if (hub.get_challenge(nullptr) != 0 || hub.derive_key("pw") != 0 || hub.login(nullptr) != 200) {
        std::printf("%s: login failed\n", label);
        return;
    }
    constexpr int reads = 500;
    auto t = clock_type::now();
    int ok = 0;
    for (int i = 0; i < reads; ++i)
        ok += hub.get_gen_conf(reply_limit) != nullptr;
    const double read_s = seconds_since(t);
    std::printf("%s: %d/%d parsed reads, %.1f us per round trip\n", label, ok, reads, read_s / reads * 1e6);

    const byte_vector image(8u << 20, 0x5a);
    t = clock_type::now();
    const int status = hub.upload_net_firmware(image, progress_range{}, 0);
    const double up_s = seconds_since(t);
    std::printf("%s: 8 MiB firmware upload -> %d in %.3f s (%.1f MiB/s, one progress poll included)\n", label, status,
                up_s, 8.0 / up_s);
}

} // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("talvor-bench-hub-clients-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // Declared before the fleet, so gone after it.
    struct removed_at_end {
        std::filesystem::path dir;
        ~removed_at_end()
        {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    } work{dir};
    sim::fleet_server fleet(R"({ "discovery" : "off", "units" : [
        { "name" : "bh", "kind" : "http", "address" : "127.5.9.1", "password" : "pw", "progress" : [[3, 100]] },
        { "name" : "bw", "kind" : "wss", "address" : "127.5.9.2", "password" : "pw", "progress" : [[3, 100]] } ] })",
                            dir);
    zt_hub_http http(conn_sess::create(v4(127, 5, 9, 1), std::string(user_agent_text)));
    http.accepted_problems = problems_allowed_by(0);
    run("http", http);
    zt_hub_wss wss(conn_sess::create(v4(127, 5, 9, 2), std::string(user_agent_text)));
    wss.accepted_problems = problems_allowed_by(0);
    run("wss ", wss);
    return 0;
}
