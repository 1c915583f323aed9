// One 16 MiB firmware image to 64 simulated units through the firmware
// update command, against the same bytes sent to one unit (the same image
// 64 times in a row), per protocol; prints wall time, throughput, the
// core's and the simulator's CPU time, how many blocks of the image's size
// the core allocated (one per copy of the image) and its peak memory above
// what it held before the update.
//
//   firmware_bench [UNITS]      default 64
//   BENCH_KIND=http|wss         one protocol only
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>

#include "bench/support/figures.h"
#include "bench/support/fleets.h"
#include "bench/support/processes.h"
#include "inventory/dialogs.h"
#include "inventory/window_bridge_headless.h"
#include "operations/commands.h"
#include "operations/unit_manager.h"

namespace {

// Blocks at least this large are copies of the image (or the reading
// vector's last growth).
constexpr std::size_t image_bytes = 16u << 20;
std::atomic<long> big_blocks{0};

} // namespace

void* operator new(std::size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    if (n >= image_bytes - 64)
        big_blocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace talvor;

namespace {

class bench_dialogs final : public dialogs {
public:
    explicit bench_dialogs(headless_bridge& b) : bridge(b) {}
    headless_bridge& bridge;
    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        task_dialog_answer a;
        if (r.ok_radio) { // the word confirmation
            a.button = IDOK;
            a.radio = r.ok_radio;
        } else {
            a.button = (r.buttons & button_yes) ? IDYES : IDOK;
            a.verification_checked = !r.verification_text.empty() && (r.buttons & button_yes);
        }
        return a;
    }
    std::optional<std::string> ask_password(const password_request&) override { return std::string("bench-pw"); }
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return std::nullopt; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request& request) override
    {
        const bool done = bridge.run_until([&] { return request.poll().finished; }, std::chrono::minutes(10));
        return done ? IDOK : IDCANCEL;
    }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }
};

std::string address_of(int a) { return bench::address_of("127.10", a); }

// A signed Talvor System network image of exactly 16 MiB.
std::string image_file(const std::filesystem::path& dir)
{
    const std::string signature("\x30\x03\x02\x01\x05", 5);
    std::string s(image_bytes - signature.size(), '\x5a');
    s.replace(0, 4, "gUwF");
    for (int i = 0; i < 4; ++i)
        s[4 + i] = static_cast<char>((s.size() >> (8 * i)) & 0xFF);
    s[0x0C] = static_cast<char>(622 & 0xFF);
    s[0x0D] = static_cast<char>(622 >> 8);
    const auto path = dir / "image.bin";
    std::ofstream(path, std::ios::binary) << s << signature;
    return path.string();
}

struct figures {
    double wall = 0;
    double core_cpu = 0;
    double sim_cpu = 0;
    long before_kib = 0;
    long peak_kib = 0;
    long image_blocks = 0;
    int ok = 0;
    int failed = 0;
};

// In the child: refresh `units`, then update each of them `rounds` times.
figures update(int units, int rounds, const std::string& image)
{
    headless_bridge bridge;
    bench_dialogs ui(bridge);
    AppSettings settings;
    settings.tls_checks = 1;
    figures f;
    {
        unit_manager manager(bridge, ui, settings);
        batch_context ctx(manager, ui);
        for (int a = 1; a <= units; ++a)
            manager.add_device(address_of(a));
        bridge.run_until([&] { return manager.idle(); }, std::chrono::minutes(2));
        for (const auto& u : manager.group().units()) {
            u->selected = 1;
            manager.group().selected_class = u->product_class;
        }
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
        f.before_kib = bench::status_kib("VmRSS");
        big_blocks.store(0);
        const double cpu0 = bench::cpu_seconds_self();
        const auto t0 = std::chrono::steady_clock::now();
        const std::filesystem::path path(image);
        for (int r = 0; r < rounds; ++r) {
            OnFirmwareUpdate(ctx, r == 0 ? &path : nullptr); // later rounds reuse the loaded image
            for (const auto& o : ctx.outcomes())
                (o.result == job_succeeded ? f.ok : f.failed) += 1;
        }
        f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        f.core_cpu = bench::cpu_seconds_self() - cpu0;
        f.peak_kib = bench::status_kib("VmHWM");
        f.image_blocks = big_blocks.load();
        manager.shut_down();
    }
    return f;
}

void series(const std::string& kind, int units, const std::string& image)
{
    const auto work = std::filesystem::temp_directory_path() / ("firmware_bench_" + std::to_string(::getpid()));
    bench::sim_process sim(
        bench::fleet_json(units, kind, "127.10", R"("progress": [[3, 100]], )", R"("keep_uploads": false, )"),
        work / "sim");
    auto run = [&](int n, int rounds) {
        const double s0 = sim.cpu_seconds();
        figures f = bench::in_child<figures>([&] { return update(n, rounds, image); });
        f.sim_cpu = sim.cpu_seconds() - s0;
        return f;
    };
    const figures many = run(units, 1);
    const figures one = run(1, units);
    sim.stop();
    std::filesystem::remove_all(work);

    auto line = [&](const char* what, int n, int rounds, const figures& f) {
        const double mb = static_cast<double>(image_bytes) * n * rounds / 1e6;
        std::printf("%-4s %-22s %7.2f %8.0f %11.2f %10.2f %8d/%-3d %7ld %13.1f\n", kind.c_str(), what, f.wall,
                    mb / f.wall, f.core_cpu, f.sim_cpu, f.ok, f.failed, f.image_blocks,
                    (f.peak_kib - f.before_kib) / 1024.0);
    };
    char what[64];
    std::snprintf(what, sizeof what, "%d units once", units);
    line(what, units, 1, many);
    std::snprintf(what, sizeof what, "1 unit %d times", units);
    line(what, 1, units, one);
    std::printf("%-4s ratio %d units / same bytes to one unit: %.2f (target at most 1.5)\n", kind.c_str(), units,
                many.wall / one.wall);
}

} // namespace

int main(int argc, char** argv)
{
    const int units = argc > 1 ? std::max(2, std::atoi(argv[1])) : 64;
    const auto dir = std::filesystem::temp_directory_path() / ("firmware_image_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string image = image_file(dir);
    std::printf("firmware update of one %zu MiB image, machine: %s\n", image_bytes >> 20,
                bench::machine_line().c_str());
    std::printf("kind run                      wall s     MB/s  core cpu s  sim cpu s  ok/failed  blocks  peak+ MiB\n");
    const char* only = std::getenv("BENCH_KIND");
    for (const char* kind : {"http", "wss"})
        if (!only || std::string(only) == kind)
            series(kind, units, image);
    std::printf("(blocks: allocations of the image's size in the core during the update, one per copy of the "
                "image;\n peak+: the core's peak memory above what it held before the update)\n");
    std::filesystem::remove_all(dir);
    return 0;
}
