// The firmware rollout on three sites through Ansible against talvorctl
// alone. Each round builds the sites afresh (tests/ansible/sites.sh: three
// network namespaces, each with its own sshd and simulated units, and a
// control namespace for Ansible), runs the rollout's talvorctl commands on
// the three site hosts at once and takes the slowest site; then
// builds them again and runs the rollout playbook (facts, backups, the
// flash with verification, the golden configuration's check) with all
// three sites in one batch. talvorctl alone runs the same steps on each
// site host, one command after another. Prints both wall times, the playbook's time
// beyond the slowest site and their ratio (goal: at most 1.3), per round
// and the median. With --canary a third run puts site 1 first (serial 1),
// as the playbook does for a canary site; its time is printed as well.
//
//   ansible_bench [--rounds N] [--units N] [--install-ms MS] [--image-kib N] [--canary]
//
// Defaults: 3 rounds, 16 units a site, each down 30 s while it installs
// (a hub restarts after a firmware update for about that long), 4 KiB image.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

struct settings {
    int rounds = 3;
    int units = 16;
    int install_ms = 30000;
    int image_kib = 4;
    bool canary = false;
};

const std::string sites_script = std::string(SOURCE_DIR) + "/tests/ansible/sites.sh";

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Starts `bash sites.sh ARGS...`, its output to `log`.
pid_t start(const std::vector<std::string>& args, const fs::path& log)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(log.c_str(), "a", stdout) || !std::freopen(log.c_str(), "a", stderr))
            _exit(127);
        std::vector<char*> argv{const_cast<char*>("bash"), const_cast<char*>(sites_script.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp("bash", argv.data());
        _exit(127);
    }
    return pid;
}

// The exit status of `pid`, or -1 when it did not exit.
int exit_status(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool finished_ok(pid_t pid) { return exit_status(pid) == 0; }

// The sites of one run, removed again when it ends (a failed run too).
class sites {
public:
    sites(const settings& s, const std::string& canary)
    {
        char name[] = "/tmp/talvor-ansible-XXXXXX";
        if (!mkdtemp(name)) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        work_ = name;
        setenv("SITE_UNITS", std::to_string(s.units).c_str(), 1);
        setenv("INSTALL_MS", std::to_string(s.install_ms).c_str(), 1);
        setenv("IMAGE_KIB", std::to_string(s.image_kib).c_str(), 1);
        setenv("CANARY", canary.c_str(), 1);
        if (!finished_ok(start({"up", work_, TALVORCTL_PATH, HUBSIM_PATH, std::string(SOURCE_DIR) + "/ansible", "3"},
                               log()))) {
            down();
            fail("the sites did not come up");
        }
    }
    ~sites()
    {
        down();
        // The output stays only when something failed.
        std::error_code ec;
        if (!failed_)
            fs::remove(log(), ec);
    }
    sites(const sites&) = delete;
    sites& operator=(const sites&) = delete;

    // Wall time of the rollout run with talvorctl alone on each site host,
    // all three at once: the playbook's steps one after another (read the
    // units, back up every configuration, flash with verification, compare
    // with the golden configuration), so that the ratio is what Ansible adds.
    std::vector<double> talvorctl_alone(int verify_timeout)
    {
        const auto t0 = clock_type::now();
        std::vector<double> walls(3, 0);
        std::vector<int> failures(3, 0);
        std::vector<std::thread> runs;
        for (int site = 1; site <= 3; ++site)
            runs.emplace_back([&, site] {
                const std::string n = std::to_string(site), units = work_ + "/s" + n + "/units.txt";
                const std::string backup = work_ + "/s" + n + "/backup-alone";
                std::error_code ec;
                fs::create_directories(backup, ec);
                const std::vector<std::string> common = {"talvorctl", work_, n, "--json", "--yes", "--tls-checks",
                                                         "none", "--accept-insecure"};
                const std::vector<std::vector<std::string>> steps = {
                    {"show", "--list", units},
                    {"download-config", "--folder", backup, "--list", units},
                    {"firmware", work_ + "/talvor-0.65.0.bin", "--target-version", "0.65.0", "--verify",
                     "--verify-timeout", std::to_string(verify_timeout), "--list", units},
                    {"config-diff", work_ + "/golden.cfg", "--list", units},
                };
                for (const auto& step : steps) {
                    std::vector<std::string> args = common;
                    args.insert(args.end(), step.begin(), step.end());
                    // config-diff says drift with status 1: a report, not a failure.
                    const int status = exit_status(start(args, log()));
                    failures[site - 1] += status != 0 && !(step.front() == "config-diff" && status == 1);
                }
                walls[site - 1] = seconds_since(t0);
            });
        for (std::thread& t : runs)
            t.join();
        for (int f : failures)
            if (f)
                fail("a site's talvorctl rollout failed");
        return walls;
    }

    double playbook()
    {
        const auto t0 = clock_type::now();
        if (!finished_ok(start({"playbook", work_}, log())))
            fail("the playbook failed");
        return seconds_since(t0);
    }

private:
    void down()
    {
        finished_ok(start({"down", work_}, log()));
        std::error_code ec;
        fs::remove_all(work_, ec);
    }
    fs::path log() const { return fs::path(work_).parent_path() / (fs::path(work_).filename().string() + ".log"); }
    [[noreturn]] void fail(const char* what)
    {
        failed_ = true;
        throw std::runtime_error(std::string(what) + "; its output: " + log().string());
    }

    std::string work_;
    bool failed_ = false;
};

settings parse(int argc, char** argv)
{
    settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int& into) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            into = std::atoi(argv[++i]);
        };
        if (a == "--rounds")
            number(s.rounds);
        else if (a == "--units")
            number(s.units);
        else if (a == "--install-ms")
            number(s.install_ms);
        else if (a == "--image-kib")
            number(s.image_kib);
        else if (a == "--canary")
            s.canary = true;
        else {
            std::fprintf(stderr,
                         "usage: ansible_bench [--rounds N] [--units N] [--install-ms MS] [--image-kib N] [--canary]\n");
            std::exit(2);
        }
    }
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    const settings s = parse(argc, argv);
    if (geteuid() != 0) {
        std::fprintf(stderr, "ansible_bench makes network namespaces and runs sshd: run it as root\n");
        return 2;
    }
    std::printf("machine: %s\n", talvor::bench::machine_line().c_str());
    std::printf("3 sites, %d units each (a third over the WebSocket), %d KiB image, %d ms install, %d rounds\n",
                s.units, s.image_kib, s.install_ms, s.rounds);
    const int verify_timeout = s.install_ms / 1000 + 120;
    std::vector<double> alone_all, playbook_all, ratio_all, canary_all;
    try {
        for (int round = 1; round <= s.rounds; ++round) {
            std::vector<double> alone;
            {
                sites fresh(s, "");
                alone = fresh.talvorctl_alone(verify_timeout);
            }
            double slowest = 0;
            for (double w : alone)
                slowest = std::max(slowest, w);
            double through_ansible = 0;
            {
                sites fresh(s, "");
                through_ansible = fresh.playbook();
            }
            std::printf("round %d: talvorctl alone %.1f / %.1f / %.1f s (slowest %.1f s), playbook %.1f s, "
                        "beyond the slowest site %.1f s, ratio %.2f",
                        round, alone[0], alone[1], alone[2], slowest, through_ansible, through_ansible - slowest,
                        through_ansible / slowest);
            alone_all.push_back(slowest);
            playbook_all.push_back(through_ansible);
            ratio_all.push_back(through_ansible / slowest);
            if (s.canary) {
                sites fresh(s, "site1");
                canary_all.push_back(fresh.playbook());
                std::printf(", canary first %.1f s", canary_all.back());
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    using talvor::bench::median;
    std::printf("median: talvorctl alone, slowest site %.1f s; playbook, three sites at once %.1f s; "
                "ratio %.2f (goal at most 1.3)\n",
                median(alone_all), median(playbook_all), median(ratio_all));
    if (s.canary)
        std::printf("median: playbook with site 1 as the canary %.1f s (%.2f of the slowest site alone)\n",
                    median(canary_all), median(canary_all) / median(alone_all));
    return 0;
}
