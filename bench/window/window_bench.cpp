// The main window (offscreen) while 256 simulated units refresh in it: a
// 10 ms timer on the window's thread records when it fires, and the gaps
// between firings show how long the window could not react. Prints the
// distribution for the first refresh and for "Reload All" after it.
//
//   window_bench [UNITS]      default 256; BENCH_KIND=http|wss|mixed (default mixed)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/fleets.h"
#include "bench/support/processes.h"
#include "inventory/dialogs.h"
#include "ui/main_dialog.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"

using namespace talvor;

namespace {

// Every question answered at once, as one who has said yes to all.
class quick_dialogs final : public dialogs {
public:
    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        task_dialog_answer a;
        a.button = (r.buttons & button_yes) ? IDYES : IDOK;
        a.verification_checked = !r.verification_text.empty();
        return a;
    }
    std::optional<std::string> ask_password(const password_request&) override { return std::string("bench-pw"); }
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return std::nullopt; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request&) override { return IDCANCEL; }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }
};

// CPU time of the calling thread.
double thread_cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct gaps {
    std::vector<double> ms;
    double seconds = 0;
    double window_cpu_ms = 0; // the window thread's own work, timer included
    std::size_t shown = 0;
};

// Runs the event loop until the manager is idle, noting the timer's gaps.
gaps watch(CMainDialog& window, const std::function<void()>& start)
{
    gaps g;
    QElapsedTimer clock;
    qint64 last = 0; // the first gap counts from the start
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            g.ms.push_back(static_cast<double>(now - last) / 1e6);
        last = now;
    });
    clock.start();
    tick.start();
    const double cpu0 = thread_cpu_ms();
    start();
    // The window's own event loop runs until every unit has reported, and
    // a moment more so that a gap the last report caused is counted.
    QEventLoop loop;
    QTimer check;
    qint64 idle_since = -1;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!window.manager().idle() && clock.elapsed() < 300000) {
            idle_since = -1;
            return;
        }
        if (idle_since < 0)
            idle_since = clock.elapsed();
        else if (clock.elapsed() - idle_since >= 30)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    tick.stop();
    g.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    g.window_cpu_ms = thread_cpu_ms() - cpu0;
    for (const auto& u : window.manager().group().units())
        g.shown += u->tree_item != no_tree_node ? 1 : 0;
    return g;
}

void report(const char* what, const gaps& g)
{
    std::vector<double> v = g.ms;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v.empty() ? 0.0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))]; };
    int over[4] = {0, 0, 0, 0};
    for (double x : v)
        for (int i = 0; i < 4; ++i)
            over[i] += x > (i == 0 ? 15 : i == 1 ? 25 : i == 2 ? 50 : 100) ? 1 : 0;
    std::printf("%-13s %5.2f s, %3zu units shown, window thread cpu %4.0f ms, %4zu gaps: median %4.1f  p90 %5.1f"
                "  p99 %5.1f  max %5.1f ms; over 15/25/50/100 ms: %d/%d/%d/%d\n",
                what, g.seconds, g.shown, g.window_cpu_ms, v.size(), at(0.5), at(0.9), at(0.99),
                v.empty() ? 0.0 : v.back(), over[0], over[1], over[2], over[3]);
}

} // namespace

int main(int argc, char** argv)
{
    const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;
    const char* kind_env = std::getenv("BENCH_KIND");
    const std::string kind = kind_env ? kind_env : "mixed";
    // The simulator's process is made while this one still has one thread.
    QTemporaryDir dir;
    bench::sim_process sim(bench::fleet_json(units, kind, "127.11"), dir.filePath("sim").toStdString());

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qt_window_bridge bridge;
    quick_dialogs ui;
    AppSettings settings;
    settings.tls_checks = 1;
    qt_settings_store store(dir.filePath("settings.ini").toStdString());
    CMainDialog window(bridge, ui, settings, store);
    window.resize(900, 700);
    window.show();

    std::printf("window: %d units (%s) refreshing, gaps of a 10 ms timer on the window's thread\n", units,
                kind.c_str());
    std::printf("machine: %s\n", bench::machine_line().c_str());
    const double sim0 = sim.cpu_seconds();
    report("first refresh", watch(window, [&] {
               for (int a = 1; a <= units; ++a)
                   window.manager().add_device(bench::address_of("127.11", a));
           }));
    report("Reload All", watch(window, [&] { window.reload_all(); }));
    std::printf("simulator cpu %.2f s; target: longest gap at most 50 ms\n", sim.cpu_seconds() - sim0);
    window.manager().shut_down();
    return 0;
}
