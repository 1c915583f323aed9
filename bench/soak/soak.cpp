// Rollouts under the faults of a bad site: rounds of firmware update (with
// --verify), configuration upload and restart through the talvorctl
// binary, each followed by retries of its failed units for as long as they
// make progress. Every unit's reported result is checked against what the
// simulator recorded for that unit, and each round prints units ok,
// failed, wrong, the slowest unit and peak memory.
//
//   soak [--units N] [--rounds N] [--parallel N] [--chance P] [--seed N]
//        [--verify-timeout S] [--net N]    the site on 127.N.x.y (62)
//
// Exit status 1 when a round had a wrong result, a hung run, a transient
// failure left after 3 retries or a failure the record does not explain.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"
#include "simulator/hubsim.h"
#include "simulator/unit.h"
#include "tests/operations/firmware_images.h"
#include "transport/json_parser.h"
#include "transport/open_files.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace talvor;
using clock_type = std::chrono::steady_clock;

namespace {

struct settings {
    int units = 256;
    int rounds = 20;
    int parallel = 32;
    double chance = 0.01;
    int seed = 1;
    int verify_timeout = 120;
};

// The fault each unit carries; the few of each kind come first, then every
// fifth unit is in the random mode.
enum class role { clean, random, restart_upload, link_down, slow_ws, keep_version, dead };
const char* role_name(role r)
{
    switch (r) {
    case role::clean: return "clean";
    case role::random: return "random";
    case role::restart_upload: return "restart_upload";
    case role::link_down: return "link_down";
    case role::slow_ws: return "slow_ws";
    case role::keep_version: return "keep_version";
    case role::dead: return "dead";
    }
    return "";
}

struct site_unit {
    std::string name, address;
    bool wss = false;
    role fault = role::clean;
};

// The site's second address byte: 62 unless told, so that two soaks (the
// sanitizer builds in scripts/check.sh beside a long run) can share a machine.
int site_net = 62;

std::string address_of(int a)
{
    return "127." + std::to_string(site_net) + "." + std::to_string(a / 250) + "." + std::to_string(a % 250 + 1);
}

std::vector<site_unit> plan_site(const settings& s)
{
    std::vector<site_unit> out;
    const int few = std::max(1, s.units / 64);
    std::map<role, int> left = {{role::restart_upload, few}, {role::link_down, few}, {role::slow_ws, few},
                                {role::keep_version, std::max(1, few / 2)}};
    for (int a = 1; a <= s.units; ++a) {
        site_unit u{"u" + std::to_string(a), address_of(a), a % 2 == 0, role::clean};
        if (a % 5 == 0)
            u.fault = role::random;
        else
            for (role r : {role::restart_upload, role::link_down, role::slow_ws, role::keep_version})
                if (left[r] > 0 && (r != role::slow_ws || u.wss)) {
                    u.fault = r;
                    --left[r];
                    break;
                }
        out.push_back(u);
    }
    // Addresses where nothing answers: units that are truly down.
    for (int a = s.units + 1; a <= s.units + 2; ++a)
        out.push_back({"", address_of(a), false, role::dead});
    return out;
}

std::string fleet_json(const std::vector<site_unit>& site, const settings& s)
{
    std::string j = R"({"threads": 2, "keep_uploads": false, "units": [)";
    bool first = true;
    for (const auto& u : site) {
        if (u.fault == role::dead)
            continue;
        std::string faults = "{}";
        if (u.fault == role::random)
            faults = R"({"random": {"chance": )" + std::to_string(s.chance) + R"(, "seed": )" +
                     std::to_string(s.seed) + R"(, "stall_ms": 1500}})";
        else if (u.fault == role::slow_ws)
            faults = R"({"slow_ws": 2})";
        else if (u.fault == role::keep_version)
            faults = R"({"keep_version": true})";
        j += (first ? "" : ",") + std::string(R"({"name": ")") + u.name + R"(", "kind": ")" +
             (u.wss ? "wss" : "http") + R"(", "address": ")" + u.address +
             R"(", "password": "soak-pw", "install_ms": 800, "restart_ms": 800, "progress": [[1, 0], [1, 50], [3, 100]], )"
             R"("gen_conf": {"system": "622", "ser": "S)" + u.name + R"(", "fw_v_net": "v0.64.2", "capabilities": 415}, )"
             R"("faults": )" + faults + "}";
        first = false;
    }
    return j + "]}";
}

// The faults that wear off are armed again before every command.
void arm(sim::fleet_server& fleet, const std::vector<site_unit>& site)
{
    for (const auto& u : site) {
        if (u.fault == role::restart_upload)
            fleet.set_fault(u.name, "restart_upload_once", "2000");
        if (u.fault == role::link_down)
            fleet.set_fault(u.name, "link_down", "3000");
    }
}

struct run_outcome {
    int exit_code = -1;
    bool hung = false;
    double wall = 0;
    long peak_kib = 0;
    std::string out;
};

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// talvorctl with its output in files; killed once past `limit`.
run_outcome run_talvorctl(const fs::path& work, const std::vector<std::string>& args, std::chrono::seconds limit)
{
    std::vector<std::string> env_text = {"XDG_CONFIG_HOME=" + (work / "config").string(),
                                         "XDG_STATE_HOME=" + (work / "state").string(), "PATH=/usr/bin:/bin"};
    std::vector<char*> env, argv;
    for (auto& e : env_text)
        env.push_back(e.data());
    env.push_back(nullptr);
    std::string program = TALVORCTL_PATH;
    argv.push_back(program.data());
    std::vector<std::string> a = args;
    for (auto& x : a)
        argv.push_back(x.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = (work / "out.json").string(), err = (work / "err.txt").string();
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&files, work.c_str());
    run_outcome r;
    pid_t pid = -1;
    const auto t0 = clock_type::now();
    if (posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), env.data()) != 0) {
        std::fprintf(stderr, "soak: cannot start %s\n", program.c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&files);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        // Its own peak: the figure wait4 gives starts from this process's, as the child began as a copy of it.
        if (const long hwm = bench::status_kib("VmHWM", std::to_string(pid)); hwm > 0)
            r.peak_kib = hwm;
        if (clock_type::now() - t0 > limit && !r.hung) {
            r.hung = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    r.wall = std::chrono::duration<double>(clock_type::now() - t0).count();
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    return r;
}

struct reported {
    std::string result, error;
};

std::map<std::string, reported> results_of(const std::string& json)
{
    std::map<std::string, reported> out;
    auto p = json_parser::from(json);
    if (!p)
        return out;
    const std::size_t units = p->find(json_parser::root, "units");
    if (!p->is(units, json_type::array))
        return out;
    std::size_t u = units + 1;
    for (int i = 0; i < p->tokens[units].size; ++i, u = p->skip(u))
        out[p->get_string(p->find(u, "address"))] = {p->get_string(p->find(u, "result")),
                                                    p->get_string(p->find(u, "error"))};
    return out;
}

struct command {
    const char* name;
    std::vector<std::string> args; // after the common options, before the targets
};


struct verdict {
    int ok = 0, failed = 0, wrong = 0, held = 0, unexplained = 0;
    double slowest = 0;
    std::vector<std::string> notes;
};

// A unit's reported result against its record since `m`.
void judge(const sim::fleet_server& fleet, const site_unit& u, const reported& r, std::size_t events_before,
           const std::vector<sim::request_entry>& requests,
           const std::string& cmd, const std::string& version, const std::string& image_sha,
           std::int64_t image_size, verdict& v)
{
    const bool ok = r.result == "ok";
    (ok ? v.ok : v.failed) += 1;
    if (u.fault == role::dead) {
        if (ok) {
            ++v.wrong;
            v.notes.push_back(u.address + " (nothing there) reported ok");
        }
        return;
    }
    const auto events = fleet.events(u.name);
    bool done = false, whole = false, met_fault = false;
    int configs = 0;
    for (std::size_t i = events_before; i < events.size(); ++i) {
        const auto& e = events[i];
        done = done || (cmd == "firmware" && e.kind == "install" && e.bytes == version) ||
               (cmd == "restart" && e.kind == "reboot" && (e.number & 0xFF) == 1);
        configs += e.kind == "config";
        met_fault = met_fault || e.kind == "link_down" || e.kind == "restart";
    }
    if (cmd == "upload-config")
        done = configs > 0;
    std::int64_t first = -1, last = -1;
    for (const auto& q : requests) {
        whole = whole || (q.status == 200 && q.upload_length == image_size && q.upload_sha256 == image_sha);
        met_fault = met_fault || !q.fault.empty() || q.status == 0 || q.status >= 500;
        if (first < 0)
            first = q.time_ms;
        last = q.time_ms;
    }
    if (first >= 0)
        v.slowest = std::max(v.slowest, (last - first) / 1000.0);
    if (cmd == "firmware" && ok && !whole)
        done = false; // an ok upload must have left the whole image
    if (ok && !done) {
        ++v.wrong;
        v.notes.push_back(u.address + " " + cmd + " reported ok, not done");
    } else if (!ok && done) {
        // The configuration goes twice: a failed second send leaves the first applied.
        if (cmd == "upload-config") {
            ++v.held;
        } else {
            ++v.wrong;
            v.notes.push_back(u.address + " " + cmd + " reported failed (" + r.error + "), but done");
        }
    }
    if (!ok && !met_fault && !(u.fault == role::keep_version && r.error == "not installed")) {
        ++v.unexplained;
        v.notes.push_back(u.address + " (" + role_name(u.fault) + ") failed with no fault met: " + r.error);
    }
}

bool truly_failing(const site_unit& u, const std::string& cmd)
{
    return u.fault == role::dead || (u.fault == role::keep_version && cmd == "firmware");
}

std::string list_file(const std::vector<site_unit>& site)
{
    std::string s;
    for (const auto& u : site)
        s += u.address + "\n";
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const char* v = argv[i + 1];
        if (k == "--units")
            s.units = std::max(8, std::atoi(v));
        else if (k == "--rounds")
            s.rounds = std::max(1, std::atoi(v));
        else if (k == "--parallel")
            s.parallel = std::max(1, std::atoi(v));
        else if (k == "--chance")
            s.chance = std::atof(v);
        else if (k == "--seed")
            s.seed = std::atoi(v);
        else if (k == "--verify-timeout")
            s.verify_timeout = std::max(10, std::atoi(v));
        else if (k == "--net")
            site_net = std::clamp(std::atoi(v), 1, 254);
        else {
            std::fprintf(stderr, "usage: soak [--units N] [--rounds N] [--parallel N] [--chance P] [--seed N] "
                                 "[--verify-timeout S] [--net N]\n");
            return 2;
        }
    }
    raise_open_file_limit();

    const auto site = plan_site(s);
    std::map<role, int> mix;
    for (const auto& u : site)
        ++mix[u.fault];
    std::printf("soak: %d units + 2 addresses with nothing there, %d rounds, --parallel %d, random chance %.3f, "
                "seed %d\nmachine: %s\nfault mix:",
                s.units, s.rounds, s.parallel, s.chance, s.seed, bench::machine_line().c_str());
    for (auto& [r, n] : mix)
        std::printf(" %s %d", role_name(r), n);
    std::printf("\n");

    const fs::path work = fs::temp_directory_path() / ("soak_" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "config");
    std::ofstream(work / "password", std::ios::binary) << "soak-pw\n";
    std::ofstream(work / "all.txt") << list_file(site);
    std::ofstream(work / "site.cfg") << R"({"version": 7, "net": {"dhcp": 1}, "logs": {"level": 2}})";
    sim::fleet_server fleet(fleet_json(site, s), work / "sim");
    std::map<std::string, const site_unit*> by_address;
    for (const auto& u : site)
        by_address[u.address] = &u;

    // A run may take a whole verification limit plus a stalled step's time-outs
    // (connect 60 s, send and receive 30 s each) for each wave of units.
    const int waves = (s.units + s.parallel - 1) / s.parallel;
    const auto limit = std::chrono::seconds(s.verify_timeout + 120 * waves + 60);
    std::printf("a run longer than %lld s counts as hung\n\n", static_cast<long long>(limit.count()));
    std::printf("round command        tries   ok failed wrong held unexpl. left  slowest s  run s  peak MiB  sim MiB\n");

    const std::vector<std::string> common = {"--password-file", "password", "--tls-checks", "none", "--yes",
                                             "--json"};
    const std::string parallel = std::to_string(s.parallel);
    bool bad = false;
    long first_peak = 0, last_peak = 0;
    for (int round = 1; round <= s.rounds; ++round) {
        const std::string version = "1." + std::to_string(round) + ".0";
        std::string image = talvor::test::hub_image(256 * 1024);
        image.replace(0x40, version.size() + 1, "v" + version);
        std::ofstream(work / "hub.bin", std::ios::binary) << image;
        const std::string sha = sim::sha256_hex(image);
        const std::vector<command> commands = {
            {"firmware", {"firmware", "hub.bin", "--verify", "--verify-timeout", std::to_string(s.verify_timeout)}},
            {"upload-config", {"upload-config", "site.cfg", "--all-categories"}},
            {"restart", {"restart", "--no-taps"}}};
        long round_peak = 0;
        for (const auto& cmd : commands) {
            arm(fleet, site);
            verdict total;
            std::set<std::string> failed;
            std::string targets = "all.txt";
            int tries = 0;
            double run_max = 0;
            std::size_t before = site.size() + 1;
            int retries_to_clear = -1;
            for (;;) {
                std::map<std::string, std::size_t> marks;
                for (const auto& u : site)
                    if (u.fault != role::dead)
                        marks[u.address] = fleet.events(u.name).size();
                fleet.clear_requests(); // the attempt's own, and the soak's memory stays flat
                std::vector<std::string> args = common;
                args.insert(args.end(), cmd.args.begin(), cmd.args.end());
                for (const char* a : {"--list", targets.c_str(), "--retry-list", "retry.txt", "--parallel", parallel.c_str()})
                    args.push_back(a);
                fs::remove(work / "retry.txt");
                const run_outcome r = run_talvorctl(work, args, limit);
                ++tries;
                run_max = std::max(run_max, r.wall);
                round_peak = std::max(round_peak, r.peak_kib);
                if (r.hung) {
                    bad = true;
                    total.notes.push_back(std::string(cmd.name) + " run hung");
                }
                const auto results = results_of(r.out);
                if (results.empty()) {
                    bad = true;
                    total.notes.push_back(std::string(cmd.name) + " run gave no results (exit " +
                                          std::to_string(r.exit_code) + "): " + slurp(work / "err.txt"));
                }
                std::map<std::string, std::vector<sim::request_entry>> requests;
                for (auto& q : fleet.requests())
                    requests[q.address].push_back(std::move(q));
                failed.clear();
                verdict v;
                for (const auto& [address, rep] : results) {
                    auto it = by_address.find(address);
                    if (it == by_address.end())
                        continue;
                    judge(fleet, *it->second, rep, marks[address], requests[address], cmd.name, version, sha,
                          static_cast<std::int64_t>(image.size()), v);
                    if (rep.result != "ok")
                        failed.insert(address);
                }
                // Every listed unit must have a result: one left out would
                // read as done.
                if (!results.empty()) {
                    std::istringstream listed(slurp(work / targets));
                    for (std::string line; std::getline(listed, line);) {
                        const std::string address = line.substr(0, line.find_first_of(" \t#"));
                        if (!address.empty() && !results.count(address)) {
                            ++v.wrong;
                            v.notes.push_back(address + " " + cmd.name + " listed, but no result");
                        }
                    }
                }
                total.ok += v.ok; // retries run on the failed units only
                total.wrong += v.wrong;
                total.held += v.held;
                total.unexplained += v.unexplained;
                total.slowest = std::max(total.slowest, v.slowest);
                total.notes.insert(total.notes.end(), v.notes.begin(), v.notes.end());
                std::size_t transient = 0;
                for (const auto& a : failed)
                    transient += !truly_failing(*by_address[a], cmd.name);
                if (transient == 0 && retries_to_clear < 0)
                    retries_to_clear = tries - 1;
                // Retry while the failures shrink, and while a transient one
                // is left within its 3 retries: a unit can meet a random
                // fault on two tries in a row.
                const bool shrank = failed.size() < before;
                if (failed.empty() || results.empty() || tries > 8 || (!shrank && (transient == 0 || tries >= 4)))
                    break;
                before = failed.size();
                fs::copy_file(work / "retry.txt", work / "retry-in.txt", fs::copy_options::overwrite_existing);
                targets = "retry-in.txt";
            }
            std::size_t transient_left = 0;
            for (const auto& a : failed)
                transient_left += !truly_failing(*by_address[a], cmd.name);
            const bool cleared = retries_to_clear >= 0 && retries_to_clear <= 3;
            if (total.wrong || total.unexplained || !cleared)
                bad = true;
            std::printf("%5d %-14s %5d %4d %6zu %5d %4d %7d %4zu %10.1f %6.1f %9.1f %8.1f%s\n", round, cmd.name, tries,
                        total.ok, failed.size(), total.wrong, total.held, total.unexplained, transient_left,
                        total.slowest, run_max, round_peak / 1024.0, bench::status_kib("VmRSS") / 1024.0,
                        cleared ? "" : "  (transient failures left after 3 retries)");
            for (const auto& n : total.notes)
                std::printf("      %s\n", n.c_str());
            std::fflush(stdout);
        }
        if (round == 1)
            first_peak = round_peak;
        last_peak = round_peak;
    }
    const double growth = first_peak ? 100.0 * (last_peak - first_peak) / first_peak : 0.0;
    std::printf("\ntalvorctl peak memory: round 1 %.1f MiB, round %d %.1f MiB (%+.1f %%, target within 10 %%)\n",
                first_peak / 1024.0, s.rounds, last_peak / 1024.0, growth);
    std::printf("(ok counts every unit reported ok over the tries; failed and left are after the last try; "
                "left: failed units that are not truly down)\n");
    std::printf("machine at the end: %s\n", bench::machine_line().c_str());
    fs::remove_all(work);
    return bad || growth > 10.0 ? 1 : 0;
}
