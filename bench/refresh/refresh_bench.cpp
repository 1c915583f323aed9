// Refreshes simulated fleets through the same core and headless bridge as
// talvorctl and prints, per fleet size and per form of the password prompt
// (answered at once, or after 300 ms as a person types): wall time, the
// core's and the simulator's CPU time apart (each in a process of its own),
// password prompts, peak memory and memory per unit beyond the first, at
// the peak and as held once the refresh has settled.
//
//   refresh_bench [ROUNDS]       median of ROUNDS rounds (default 3)
//   BENCH_UNITS=256,1024         fleet sizes besides the single unit (up to 8192)
//   BENCH_KIND=mixed|http|wss    one series only (default: mixed, then wss)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/fleets.h"
#include "bench/support/processes.h"
#include "cli/run_report.h"
#include "inventory/dialogs.h"
#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "simulator/hubsim.h"
#include "transport/open_files.h"

using namespace talvor;

namespace {

class counting_dialogs final : public dialogs {
public:
    explicit counting_dialogs(int typing) : typing_ms(typing) {}
    int password_prompts = 0;
    int typing_ms;
    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        task_dialog_answer a;
        a.button = IDOK;
        if (!r.verification_text.empty() && (r.buttons & button_yes)) {
            a.button = IDYES; // yes to all
            a.verification_checked = true;
        }
        return a;
    }
    std::optional<std::string> ask_password(const password_request&) override
    {
        ++password_prompts;
        std::this_thread::sleep_for(std::chrono::milliseconds(typing_ms));
        return std::string("bench-pw");
    }
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return std::nullopt; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request&) override { return IDCANCEL; }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }
};

std::string address_of(int a) { return bench::address_of("127.9", a); }

struct figures {
    double wall = 0;
    double core_cpu = 0;
    double sim_cpu = 0;
    long peak_kib = 0;
    long held_kib = 0; // resident once the refresh has settled
    int prompts = 0;
    int ok = 0;
    int failed = 0;
};

// Runs in the child: the refresh of units 1..count.
figures refresh(int count, int typing_ms)
{
    headless_bridge bridge;
    counting_dialogs ui(typing_ms);
    AppSettings settings;
    settings.tls_checks = 1;
    cli::run_report report;
    unit_manager manager(bridge, ui, settings, &report);
    figures f;
    const double cpu0 = bench::cpu_seconds_self();
    const auto start = std::chrono::steady_clock::now();
    for (int a = 1; a <= count; ++a)
        manager.add_device(address_of(a));
    bridge.run_until([&] { return manager.idle(); }, std::chrono::minutes(5));
    f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.core_cpu = bench::cpu_seconds_self() - cpu0;
    f.peak_kib = bench::status_kib("VmHWM");
    // What the listed units keep: the last worker hands its free pages back
    // as it leaves, just after the manager turns idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    f.held_kib = bench::status_kib("VmRSS");
    f.prompts = ui.password_prompts;
    f.failed = static_cast<int>(report.failures());
    f.ok = static_cast<int>(report.finished()) - f.failed;
    manager.shut_down();
    return f;
}

figures run_once(bench::sim_process& sim, int count, int typing_ms)
{
    const double sim0 = sim.cpu_seconds();
    figures f = bench::in_child<figures>([&] { return refresh(count, typing_ms); });
    f.sim_cpu = sim.cpu_seconds() - sim0;
    return f;
}

struct row {
    int units;
    int typing_ms;
    std::vector<figures> rounds;
    figures med() const
    {
        std::vector<double> wall, core, simc;
        std::vector<long> peak, held;
        std::vector<int> prompts, ok, failed;
        for (const auto& f : rounds) {
            wall.push_back(f.wall);
            core.push_back(f.core_cpu);
            simc.push_back(f.sim_cpu);
            peak.push_back(f.peak_kib);
            held.push_back(f.held_kib);
            prompts.push_back(f.prompts);
            ok.push_back(f.ok);
            failed.push_back(f.failed);
        }
        return {bench::median(wall),    bench::median(core), bench::median(simc),  bench::median(peak),
                bench::median(held),    bench::median(prompts), bench::median(ok), bench::median(failed)};
    }
};

const char* form_name(int typing_ms) { return typing_ms ? "typing 300 ms" : "answered now "; }

void series(const std::string& kind, const std::vector<int>& sizes, const std::vector<int>& forms, int rounds)
{
    const int largest = sizes.back();
    const auto work = std::filesystem::temp_directory_path() / ("refresh_bench_" + std::to_string(::getpid()));
    bench::sim_process sim(bench::fleet_json(largest, kind, "127.9"), work);

    std::vector<row> rows;
    for (int typing : forms)
        for (int n : sizes)
            rows.push_back({n, typing, {}});
    // Rounds interleaved, so a busy moment of the machine spreads over all rows.
    for (int r = 0; r < rounds; ++r)
        for (auto& row : rows)
            row.rounds.push_back(run_once(sim, row.units, row.typing_ms));
    sim.stop();
    std::filesystem::remove_all(work);

    const char* what = kind == "mixed" ? "half HTTP, half WebSocket" : kind == "wss" ? "WebSocket only" : "HTTP only";
    std::printf("\n%s fleet (%s), median of %d rounds\n", kind.c_str(), what, rounds);
    std::printf("form           units   wall s  core cpu s  sim cpu s  prompts   ok  failed  peak MiB  KiB/unit  held KiB/unit\n");
    for (int typing : forms) {
        const figures* one = nullptr;
        figures single;
        for (const auto& row : rows) {
            if (row.typing_ms != typing)
                continue;
            const figures m = row.med();
            if (row.units == 1) {
                single = m;
                one = &single;
            }
            const double per_unit =
                one && row.units > 1 ? static_cast<double>(m.peak_kib - one->peak_kib) / (row.units - 1) : 0.0;
            const double held_per_unit =
                one && row.units > 1 ? static_cast<double>(m.held_kib - one->held_kib) / (row.units - 1) : 0.0;
            std::printf("%s %6d %8.3f %11.3f %10.3f %8d %4d %7d %9.1f %9.1f %14.1f\n", form_name(typing), row.units,
                        m.wall, m.core_cpu, m.sim_cpu, m.prompts, m.ok, m.failed, m.peak_kib / 1024.0, per_unit,
                        held_per_unit);
        }
    }
    if (sizes.size() >= 3) {
        const int small = sizes[sizes.size() - 2];
        for (int typing : forms) {
            figures a, b;
            for (const auto& row : rows) {
                if (row.typing_ms == typing && row.units == small)
                    a = row.med();
                if (row.typing_ms == typing && row.units == largest)
                    b = row.med();
            }
            std::printf("%s t(%d)/t(%d) = %.2f (core cpu %.2f, simulator cpu %.2f), peak %.2f\n", form_name(typing),
                        largest, small, b.wall / a.wall, b.core_cpu / a.core_cpu, b.sim_cpu / a.sim_cpu,
                        static_cast<double>(b.peak_kib) / static_cast<double>(a.peak_kib));
        }
    }
}

std::vector<int> sizes_from_env()
{
    std::vector<int> sizes{1};
    const char* env = std::getenv("BENCH_UNITS");
    std::stringstream in(env ? env : "256,1024");
    for (std::string item; std::getline(in, item, ',');)
        if (const int n = std::atoi(item.c_str()); n > 1 && n <= 8192)
            sizes.push_back(n);
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::vector<int> sizes = sizes_from_env();
    raise_open_file_limit();
    std::printf("machine: %s\n", bench::machine_line().c_str());
    const char* only = std::getenv("BENCH_KIND");
    if (only && (std::string(only) == "http" || std::string(only) == "wss" || std::string(only) == "mixed")) {
        series(only, sizes, {0, 300}, rounds);
    } else {
        series("mixed", sizes, {0, 300}, rounds);
        series("wss", sizes, {0}, rounds); // the memory series
    }
    std::printf("\ntargets: t(1024) <= 4.4 x t(256) and t(4096) <= 4.4 x t(1024); WebSocket peak(1024) <= 4 x "
                "peak(256); per WebSocket unit <= 96 KiB at 1024 units, <= 64 KiB at 4096\n");
    std::printf("machine at the end: %s\n", bench::machine_line().c_str());
    return 0;
}
