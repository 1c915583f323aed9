// The main window (offscreen) while 256 simulated units refresh in it: a
// 10 ms timer on the window's thread records when it fires, and the gaps
// between firings show how long the window could not react. Prints the
// distribution for the first refresh and for "Reload All" after it, then
// how long Select Class takes to check every unit and merge their details.
// With --faulty, a fifth of the units meet random faults and, after the
// refresh, a firmware update runs on all of them, 32 at a time, through
// the real confirmation and progress window; the gaps are those of the
// update, and the progress window's end state is printed.
//
//   window_bench [--faulty] [UNITS]   default 256; BENCH_KIND=http|wss|mixed (default mixed),
//                                     BENCH_SIM_NICE=N the simulator's niceness (default 10)
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidgetItem>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/fleets.h"
#include "bench/support/processes.h"
#include "inventory/app_settings.h"
#include "inventory/dialogs.h"
#include "tests/operations/firmware_images.h"
#include "transport/conn_sess.h"
#include "transport/open_files.h"
#include "ui/custom_list_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/qt_dialogs.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"

using namespace talvor;

namespace {

// Every question answered at once, as one who has said yes to all. With
// `real` set, the confirmation with its word and the progress window are
// the window's own, for the rollout_driver to answer.
class quick_dialogs final : public dialogs {
public:
    qt_dialogs* real = nullptr;
    std::filesystem::path image;

    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        if (real && !r.radio_buttons.empty())
            return real->task_dialog(r);
        task_dialog_answer a;
        a.button = (r.buttons & button_yes) ? IDYES : IDOK;
        a.verification_checked = !r.verification_text.empty();
        return a;
    }
    std::optional<std::string> ask_password(const password_request&) override { return std::string("bench-pw"); }
    std::optional<std::filesystem::path> choose_file(const file_request&) override
    {
        return image.empty() ? std::nullopt : std::optional(image);
    }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request& r) override { return real ? real->show_progress(r) : IDCANCEL; }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request&) override { return std::nullopt; }
};

// Time the calling thread has spent runnable but waiting for a core
// (the scheduler's own account), or 0 where it keeps none.
double thread_queued_ms()
{
    std::ifstream in("/proc/thread-self/schedstat");
    unsigned long long running = 0, waiting = 0;
    in >> running >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

// Time the hypervisor gave the machine's virtual processors to others,
// summed over them (the scheduler cannot see it: a thread it counts as
// running makes no progress). 0 where the machine keeps no such account.
double machine_stolen_ms()
{
    std::ifstream in("/proc/stat");
    std::string cpu;
    unsigned long long field[8] = {};
    in >> cpu;
    for (auto& f : field)
        in >> f;
    const long hz = ::sysconf(_SC_CLK_TCK);
    return hz > 0 ? static_cast<double>(field[7]) * 1000.0 / static_cast<double>(hz) : 0.0;
}

// Page faults of the calling thread that had to wait for the disk.
long thread_major_faults()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_majflt;
}

// CPU time of the calling thread.
double thread_cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// While the window's thread is late (its timer 25 ms overdue), samples
// every millisecond what the kernel says it is doing: its state and, when
// it sleeps, the system call it sleeps in. The tally of the longest gap
// tells a wait for a lock (futex) from one in the event loop (poll).
class late_sampler {
public:
    late_sampler() : ui_(static_cast<long>(::gettid())), thread_([this] { run(); }) {}
    ~late_sampler()
    {
        stop_ = true;
        thread_.join();
    }
    // The window's timer has fired: the samples taken since it last did,
    // as "what×count" words.
    std::string fired()
    {
        last_ = now_ns();
        std::lock_guard<std::mutex> g(lock_);
        std::string out;
        for (const auto& [what, n] : tally_)
            out += (out.empty() ? "" : " ") + what + "x" + std::to_string(n);
        tally_.clear();
        return out.empty() ? "none" : out;
    }

private:
    static long long now_ns()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::string sample() const
    {
        const std::string task = "/proc/self/task/" + std::to_string(ui_);
        std::ifstream stat(task + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        const char state = close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
        if (state == 'R')
            return "running";
        std::ifstream sc(task + "/syscall");
        long nr = -1;
        sc >> nr;
        switch (nr) {
        case SYS_futex: return "futex";
        case SYS_poll: return "poll";
        case SYS_ppoll: return "ppoll";
        case SYS_write: return "write";
        case SYS_read: return "read";
        default: return std::string(1, state) + std::to_string(nr);
        }
    }
    void run()
    {
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (now_ns() - last_.load() < 25'000'000)
                continue;
            const std::string what = sample();
            std::lock_guard<std::mutex> g(lock_);
            ++tally_[what];
        }
    }

    std::atomic<long long> last_{now_ns()};
    const long ui_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::map<std::string, int> tally_;
    std::thread thread_;
};

struct gaps {
    std::vector<double> ms;
    double seconds = 0;
    double window_cpu_ms = 0; // the window thread's own work, timer included
    // Within the longest gap, the window thread's CPU and the time it was
    // ready but found no free core; the rest it slept (a lock, the disk).
    double longest_gap_cpu_ms = 0, longest_gap_queued_ms = 0, longest_gap_stolen_ms = 0;
    long longest_gap_disk_faults = 0;
    std::string longest_gap_samples; // late_sampler's tally within it
    double longest_gap_end_s = 0; // from the start
    std::size_t shown = 0;
};

// The 10 ms timer on the window's thread, from construction to stop().
class gap_clock {
public:
    gap_clock()
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(10);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const double cpu = thread_cpu_ms(), queued = thread_queued_ms();
            const long faults = thread_major_faults();
            const double stolen = machine_stolen_ms();
            const double gap = static_cast<double>(now - last_) / 1e6;
            const std::string samples = sampler_.fired();
            if (gap > longest_) {
                g_.longest_gap_samples = samples;
                longest_ = gap;
                g_.longest_gap_cpu_ms = cpu - last_cpu_;
                g_.longest_gap_queued_ms = queued - last_queued_;
                g_.longest_gap_disk_faults = faults - last_faults_;
                g_.longest_gap_stolen_ms = stolen - last_stolen_;
                g_.longest_gap_end_s = static_cast<double>(now) / 1e9;
            }
            g_.ms.push_back(gap);
            last_ = now;
            last_cpu_ = cpu;
            last_queued_ = queued;
            last_faults_ = faults;
            last_stolen_ = stolen;
        });
        clock_.start();
        tick_.start();
        cpu0_ = last_cpu_ = thread_cpu_ms();
        last_queued_ = thread_queued_ms();
        last_faults_ = thread_major_faults();
        last_stolen_ = machine_stolen_ms();
    }
    qint64 elapsed_ms() const { return clock_.elapsed(); }
    gaps stop(CMainDialog& window)
    {
        tick_.stop();
        g_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
        g_.window_cpu_ms = thread_cpu_ms() - cpu0_;
        for (const auto& u : window.manager().group().units())
            g_.shown += u->tree_item != no_tree_node ? 1 : 0;
        return g_;
    }

private:
    gaps g_;
    QElapsedTimer clock_;
    qint64 last_ = 0; // the first gap counts from the start
    late_sampler sampler_;
    QTimer tick_;
    double cpu0_ = 0, last_cpu_ = 0, last_queued_ = 0, last_stolen_ = 0, longest_ = 0;
    long last_faults_ = 0;
};

// Runs the event loop until the manager is idle, noting the timer's gaps.
gaps watch(CMainDialog& window, const std::function<void()>& start)
{
    gap_clock clock;
    start();
    // The window's own event loop runs until every unit has reported, and
    // a moment more so that a gap the last report caused is counted.
    QEventLoop loop;
    QTimer check;
    qint64 idle_since = -1;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!window.manager().idle() && clock.elapsed_ms() < 300000) {
            idle_since = -1;
            return;
        }
        if (idle_since < 0)
            idle_since = clock.elapsed_ms();
        else if (clock.elapsed_ms() - idle_since >= 30)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    return clock.stop(window);
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
                "  p99 %5.1f  max %5.1f ms (%.1f working, %.1f waiting for a core, %.0f stolen by the hypervisor, %ld faults from disk, late: %s, ending at %.2f s); over 15/25/50/100 ms: %d/%d/%d/%d\n",
                what, g.seconds, g.shown, g.window_cpu_ms, v.size(), at(0.5), at(0.9), at(0.99),
                v.empty() ? 0.0 : v.back(), g.longest_gap_cpu_ms, g.longest_gap_queued_ms,
                g.longest_gap_stolen_ms, g.longest_gap_disk_faults, g.longest_gap_samples.c_str(), g.longest_gap_end_s, over[0], over[1], over[2], over[3]);
}

// Checks the first unit listed, then times Select Class: every unit of its
// class checked and their details merged into the list.
void time_select_class(CMainDialog& window)
{
    CHubDevice* first = nullptr;
    for (const auto& u : window.manager().group().units())
        if (!first && u->tree_item != no_tree_node)
            first = u.get();
    if (!first) {
        std::printf("Select Class: no unit listed\n");
        return;
    }
    window.item_of(*first)->setCheckState(0, Qt::Checked);
    QElapsedTimer t;
    t.start();
    window.select_class();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    std::printf("Select Class  %d units checked, %d detail rows, %.1f ms; target at most 100 ms\n",
                window.manager().group().count_selected(), window.details()->topLevelItemCount(), ms);
}

// Answers the rollout's modal windows as a user would: the confirmation's
// word, then OK once the progress window has reached its end.
class rollout_driver : public QObject {
public:
    bool confirmed = false, finished = false, failures = false;
    double confirmed_s = 0, finished_s = 0; // since the driver began
    QString summary;
    int result_lines = 0;

    rollout_driver()
    {
        clock_.start();
        connect(&timer_, &QTimer::timeout, this, &rollout_driver::poll);
        timer_.start(10);
    }

private:
    void poll()
    {
        auto* d = qobject_cast<CTaskDialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        static const QRegularExpression quoted(QStringLiteral("^Select \"([A-Za-z]+)\" if you are sure"));
        if (const QString word = quoted.match(d->content()->text()).captured(1); !word.isEmpty()) {
            for (int id = 2000; id < 2008; ++id)
                if (QAbstractButton* rb = d->radio(id); rb && rb->text() == word)
                    rb->click();
            confirmed = true;
            confirmed_s = static_cast<double>(clock_.elapsed()) / 1000.0;
            d->button(IDOK)->click();
            return;
        }
        QPushButton* ok = d->button(IDOK);
        if (!d->button(IDRETRY) || !ok || !ok->isEnabled())
            return;
        finished = d->progress() == 100;
        finished_s = static_cast<double>(clock_.elapsed()) / 1000.0;
        failures = d->progress_error();
        summary = d->content()->text();
        result_lines = d->details()->text().isEmpty() ? 0 : static_cast<int>(d->details()->text().count('\n')) + 1;
        ok->click();
    }

    QTimer timer_;
    QElapsedTimer clock_;
};

// Random faults on every fifth unit: drops, closes, 500s and 1.5 s stalls.
std::string fault_of(int a)
{
    return a % 5 == 0 ? R"("faults": {"random": {"chance": 0.05, "seed": 1, "stall_ms": 1500}}, )" : "";
}

} // namespace

int main(int argc, char** argv)
{
    const bool faulty = argc > 1 && std::strcmp(argv[1], "--faulty") == 0;
    const int arg = faulty ? 2 : 1;
    const int units = argc > arg ? std::max(1, std::atoi(argv[arg])) : 256;
    raise_open_file_limit();
    const char* kind_env = std::getenv("BENCH_KIND");
    const std::string kind = kind_env ? kind_env : "mixed";
    // The simulator's process is made while this one still has one thread.
    QTemporaryDir dir;
    const std::string fleet = faulty ? bench::fleet_json(units, kind, "127.11", fault_of, R"("keep_uploads": false, )")
                                     : bench::fleet_json(units, kind, "127.11");
    // The simulated units stand for units with processors of their own; at
    // the window's priority their TLS and hashing on this machine's cores
    // took turns from the window that no site takes. BENCH_SIM_NICE=0 puts
    // them back level with it.
    const char* sim_nice_env = std::getenv("BENCH_SIM_NICE");
    const int sim_nice = sim_nice_env ? std::atoi(sim_nice_env) : 10;
    bench::sim_process sim(fleet, dir.filePath("sim").toStdString(), sim_nice);

    // The batch log and the trusted certificates stay in the scratch folder.
    qputenv("XDG_STATE_HOME", dir.filePath("state").toLocal8Bit());
    set_trusted_folder(dir.filePath("trusted").toStdString());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qt_window_bridge bridge;
    quick_dialogs ui;
    AppSettings settings;
    settings.tls_checks = 1;
    qt_settings_store store(dir.filePath("settings.ini").toStdString());
    store.write_int(settings_section, setting_parallel, 32);
    CMainDialog window(bridge, ui, settings, store);
    qt_dialogs real(&window);
    window.resize(900, 700);
    window.show();

    std::printf("window: %d units (%s%s) refreshing, gaps of a 10 ms timer on the window's thread; simulator at nice %d\n",
                units, kind.c_str(), faulty ? ", a fifth with random faults" : "", sim_nice);
    std::printf("machine: %s\n", bench::machine_line().c_str());
    const double sim0 = sim.cpu_seconds();
    report("first refresh", watch(window, [&] {
               for (int a = 1; a <= units; ++a)
                   window.manager().add_device(bench::address_of("127.11", a));
           }));
    if (!faulty) {
        report("Reload All", watch(window, [&] { window.reload_all(); }));
        time_select_class(window);
    } else {
        const std::string image = dir.filePath("hub.bin").toStdString();
        std::ofstream(image, std::ios::binary) << test::hub_image(256 * 1024);
        ui.image = image;
        ui.real = &real;
        time_select_class(window);
        rollout_driver driver;
        gap_clock clock;
        window.run_command(cmd_update_firmware);
        report("update", clock.stop(window));
        std::printf("progress window: %s at %.2f s%s at %.2f s, %s; \"%s\", %d result lines\n",
                    driver.confirmed ? "confirmed" : "not confirmed", driver.confirmed_s,
                    driver.finished ? ", finished with OK enabled" : ", never finished", driver.finished_s,
                    driver.failures ? "with failures" : "no failures", driver.summary.toUtf8().constData(),
                    driver.result_lines);
    }
    std::printf("simulator cpu %.2f s; target: longest gap at most 50 ms\n", sim.cpu_seconds() - sim0);
    window.manager().shut_down();
    return 0;
}
