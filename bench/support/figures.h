#pragma once
// Small helpers the benchmarks share: the machine they ran on, process
// memory and CPU time, medians.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace talvor::bench {

// "CPU model, N cores, load a b c".
inline std::string machine_line()
{
    std::string model = "unknown CPU";
    std::ifstream cpu("/proc/cpuinfo");
    for (std::string line; std::getline(cpu, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::ifstream avg("/proc/loadavg");
    std::string l1, l5, l15;
    avg >> l1 >> l5 >> l15;
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, load average " + l1 + " " +
           l5 + " " + l15;
}

// A /proc/<pid>/status figure in KiB ("VmHWM", "VmRSS"); -1 when missing.
inline long status_kib(const char* field, const std::string& pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    const std::string key = std::string(field) + ":";
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

// User plus system CPU seconds of this process, all its threads.
inline double cpu_seconds_self()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// User plus system CPU seconds of another process (clock-tick resolution).
inline double cpu_seconds_of(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = close + 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += text[i];
        }
    }
    // Fields after the name start at "state" (3rd); utime and stime are 14th and 15th.
    if (fields.size() < 13)
        return -1;
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

template <typename T>
T median(std::vector<T> values)
{
    if (values.empty())
        return T{};
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace talvor::bench
