// Upload throughput of the unit session next to curl posting the same
// 16 MiB body to the same loopback unit, round by round, and the median of
// the rounds (default 5).
#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/support/figures.h"
#include "raw_server.h"
#include "transport/conn_sess.h"

using namespace talvor;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr std::size_t body_size = 16u << 20;
const char* const address = "127.4.255.1";

double mb_per_s(std::size_t bytes, clock_type::duration d)
{
    return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    // A sink that counts body bytes without keeping them, so the client's
    // own cost shows.
    test::raw_server unit(address, [](test::raw_conn& c) {
        std::string head;
        for (;;) {
            std::size_t end;
            while ((end = head.find("\r\n\r\n")) == std::string::npos) {
                const std::string more = c.read_some(65536);
                if (more.empty())
                    return;
                head += more;
            }
            const auto at = head.find("Content-Length: ");
            const std::size_t length = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 16, nullptr, 10);
            std::size_t got = head.size() - (end + 4);
            head.clear();
            static thread_local char sink[1 << 18];
            while (got < length) {
                const ssize_t more = ::recv(c.fd(), sink, std::min(sizeof sink, length - got), 0);
                if (more <= 0)
                    return;
                got += static_cast<std::size_t>(more);
            }
            if (!c.send(test::reply(length == body_size ? 200 : 400, "")))
                return;
        }
    });

    byte_vector body(body_size);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 131 + 17);
    char path[] = "/tmp/talvor-upload-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) {
        std::fprintf(stderr, "cannot write the body file\n");
        return 1;
    }
    close(fd);

    std::vector<double> ours, curl, curl_own, ratios;
    auto session = conn_sess::create(test::mapped(address), "Talvor Manager");
    std::printf("upload of %zu bytes over loopback\n", body_size);
    std::printf("machine: %s\n", bench::machine_line().c_str());
    std::printf("round  session MB/s  curl MB/s (own time)  curl MB/s (with start)  ratio\n");
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock_type::now();
        http_exchange x(session, true, "/fw_net_file.action");
        x.add_segment_in_place(body); // as a firmware upload sends its image
        const int status = x.run(progress_range{});
        const auto t1 = clock_type::now();
        if (status != 200) {
            std::fprintf(stderr, "upload failed: %d\n", status);
            return 1;
        }
        ours.push_back(mb_per_s(body_size, t1 - t0));

        const std::string cmd = std::string("curl -s -o /dev/null -H 'Expect:' --data-binary @") + path +
                                " http://" + address + "/fw_net_file.action -w '%{http_code} %{time_total}'";
        const auto c0 = clock_type::now();
        FILE* p = popen(cmd.c_str(), "r");
        char out[64] = {};
        const bool read_ok = p && std::fgets(out, sizeof out, p) != nullptr;
        const int rc = p ? pclose(p) : -1;
        const auto c1 = clock_type::now();
        if (!read_ok || rc != 0 || !std::string(out).starts_with("200 ")) {
            std::fprintf(stderr, "curl failed (%d, %s)\n", rc, out);
            unlink(path);
            return 1;
        }
        curl.push_back(mb_per_s(body_size, c1 - c0));
        curl_own.push_back(static_cast<double>(body_size) / 1e6 / std::atof(out + 4));
        ratios.push_back(ours.back() / curl_own.back());
        std::printf("%5d %13.1f %21.1f %23.1f %6.2f\n", round + 1, ours.back(), curl_own.back(), curl.back(),
                    ratios.back());
    }
    unlink(path);
    std::printf("median %12.1f %21.1f %23.1f %6.2f  (median of the ratios; target at least 0.5)\n",
                bench::median(ours), bench::median(curl_own), bench::median(curl), bench::median(ratios));
    return 0;
}
