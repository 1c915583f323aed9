// Reads 16 MiB replies of the shapes a hostile unit would send (nested
// brackets, very wide arrays and objects) and prints how long each took.
// For contrast, jsmn's own driver reads the nesting at a few small sizes:
// its time grows with the square of the text.
#include "transport/json_parser.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#define JSMN_STATIC
#include <jsmn.h>

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point t0)
{
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// CPU time too: on a loaded machine the wall clock says little.
double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string repeated(const std::string& open, const std::string& item, const std::string& close, std::size_t total)
{
    std::string s = open;
    while (s.size() + item.size() + close.size() <= total)
        s += item;
    if (s.size() > open.size() && s.back() == ',')
        s.pop_back();
    return s + close;
}

std::string nested(std::size_t total) { return std::string(total / 2, '[') + std::string(total / 2, ']'); }

void read_ours(const char* name, std::string text)
{
    const std::size_t bytes = text.size();
    const auto t0 = clock_type::now();
    const double c0 = cpu_seconds();
    talvor::json_parser p;
    p.text = std::move(text);
    const int r = p.parse();
    const std::size_t after = p.skip(talvor::json_parser::root);
    const double s = seconds_since(t0);
    const double cpu = cpu_seconds() - c0;
    std::printf("%-22s %6.2f MiB  %-7s %8zu tokens  %6.3f s (cpu %6.3f s)  %6.1f MiB/s of cpu%s\n", name,
                bytes / 1048576.0, r == 0 ? "read" : "refused", p.tokens.size(), s, cpu, bytes / 1048576.0 / cpu,
                r == 0 && after != p.end() ? "  (skip did not reach the end)" : "");
}

void read_jsmn(std::size_t bytes)
{
    const std::string text = nested(bytes);
    std::vector<jsmntok_t> raw(text.size() + 1);
    jsmn_parser p;
    jsmn_init(&p);
    const auto t0 = clock_type::now();
    const double c0 = cpu_seconds();
    const int r = jsmn_parse(&p, text.data(), text.size(), raw.data(), static_cast<unsigned>(raw.size()));
    std::printf("nested brackets        %6.0f KiB  %8d tokens  %6.3f s (cpu %6.3f s)\n", bytes / 1024.0, r,
                seconds_since(t0), cpu_seconds() - c0);
}

} // namespace

int main()
{
    const std::size_t limit = 16u << 20;
    std::printf("reader, one pass over each 16 MiB reply:\n");
    read_ours("nested brackets", nested(limit));
    read_ours("wide array of []", repeated("[", "[],", "]", limit));
    read_ours("wide array of numbers", repeated("[", "1,", "]", limit));
    read_ours("wide object", repeated("{", "\"k\":0,", "}", limit));
    const std::size_t objects = limit / 6;
    std::string chain;
    for (std::size_t i = 0; i < objects; ++i)
        chain += "{\"k\":";
    read_ours("nested objects", chain + "0" + std::string(objects, '}'));
    read_ours("unclosed nesting", std::string(limit, '['));
    std::printf("\njsmn's own driver (scans back at every bracket):\n");
    for (std::size_t kib : {40, 80, 160})
        read_jsmn(kib * 1024);
}
