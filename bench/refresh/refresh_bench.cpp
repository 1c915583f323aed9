// Refreshes one simulated unit, then 256 (half HTTP, half WebSocket), through
// the same core and headless bridge as talvorctl, and prints both wall times,
// their ratio, the password prompts asked and the peak memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "cli/run_report.h"
#include "inventory/dialogs.h"
#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "simulator/hubsim.h"

using namespace talvor;

namespace {

class counting_dialogs final : public dialogs {
public:
    int password_prompts = 0;
    int other_dialogs = 0;
    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        task_dialog_answer a;
        if (!r.verification_text.empty() && (r.buttons & button_yes)) {
            a.button = IDYES; // yes to all
            a.verification_checked = true;
        } else {
            ++other_dialogs;
            a.button = IDOK;
        }
        return a;
    }
    // A person takes a moment to type; units that ask meanwhile share the answer.
    std::optional<std::string> ask_password(const password_request&) override
    {
        ++password_prompts;
        std::this_thread::sleep_for(std::chrono::milliseconds(typing_ms));
        return std::string("bench-pw");
    }
    int typing_ms = 300;
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return std::nullopt; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request&) override { return IDCANCEL; }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }
};

// BENCH_KIND=http or wss makes every unit of that kind; mixed otherwise.
std::string kind_of(int i)
{
    const char* only = std::getenv("BENCH_KIND");
    if (only && (std::string(only) == "http" || std::string(only) == "wss"))
        return only;
    return i % 2 ? "wss" : "http";
}

std::string fleet_json(int count)
{
    std::string s = R"({"threads": 2, "units": [)";
    for (int i = 0; i < count; ++i) {
        const int a = i + 1;
        const std::string addr = "127.9." + std::to_string(a / 250) + "." + std::to_string(a % 250 + 1);
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:1a:7e:09:%02x:%02x", a >> 8, a & 255);
        s += (i ? "," : "") + std::string(R"({"name": "u)") + std::to_string(a) + R"(", "kind": ")" +
             kind_of(i) + R"(", "address": ")" + addr + R"(", "password": "bench-pw", )" +
             R"("gen_conf": {"system": "622", "ser": "B)" + std::to_string(a) + R"(", "mac0": ")" + mac +
             R"(", "fw_v_net": "v0.64.2", "capabilities": 415}, "bus_sizes": [4], "taps": [)" +
             R"({"bus": 0, "address": 1, "type": 3, "ccts": 8, "sernr": "T)" + std::to_string(a) +
             R"(", "fstcct": 0, "caps": 5, "fwver": 291, "fpgats": 0}]})";
    }
    return s + "]}";
}

long rss_peak_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

struct outcome {
    double seconds;
    std::size_t ready;
    std::size_t failed;
    int prompts;
};

outcome refresh(const std::vector<std::string>& addresses)
{
    headless_bridge bridge;
    counting_dialogs ui;
    AppSettings settings;
    settings.tls_checks = 1;
    cli::run_report report;
    unit_manager manager(bridge, ui, settings, &report);
    const auto start = std::chrono::steady_clock::now();
    for (const auto& a : addresses)
        manager.add_device(a);
    bridge.run_until([&] { return manager.idle(); }, std::chrono::minutes(5));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome o{seconds, report.finished() - report.failures(), report.failures(), ui.password_prompts};
    manager.shut_down();
    return o;
}

} // namespace

int main()
{
    const int count = 256;
    const auto work = std::filesystem::temp_directory_path() / ("refresh_bench_" + std::to_string(::getpid()));
    std::vector<std::string> addresses;
    for (int a = 1; a <= count; ++a)
        addresses.push_back("127.9." + std::to_string(a / 250) + "." + std::to_string(a % 250 + 1));

    long before_sim = rss_peak_kib();
    sim::fleet_server fleet(fleet_json(count), work);
    long with_sim = rss_peak_kib();

    const outcome one = refresh({addresses.front()});
    const outcome all = refresh(addresses);
    const long peak = rss_peak_kib();

    std::printf("(the password prompt is answered after %d ms, as a person would)\n", counting_dialogs{}.typing_ms);
    std::printf("refresh of 1 unit:    %.3f s (%zu ok, %zu failed, %d password prompt)\n", one.seconds, one.ready,
                one.failed, one.prompts);
    std::printf("refresh of %d units: %.3f s (%zu ok, %zu failed, %d password prompt)\n", count, all.seconds,
                all.ready, all.failed, all.prompts);
    std::printf("ratio 256 / 1:        %.2f (target at most 3)\n", all.seconds / one.seconds);
    std::printf("peak memory:          %ld KiB in all; simulator %ld KiB; core with 256 units %ld KiB\n", peak,
                with_sim - before_sim, peak - with_sim);
    std::filesystem::remove_all(work);
    return 0;
}
