// Upload throughput of the unit session (1024-byte steps) next to curl
// posting the same 16 MiB body to the same loopback unit in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

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

    double best_ours = 0, best_curl = 0, best_curl_own = 0;
    auto session = conn_sess::create(test::mapped(address), "Talvor Manager");
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock_type::now();
        http_exchange x(session, true, "/fw_net_file.action");
        x.add_segment(body);
        const int status = x.run(progress_range{});
        const auto t1 = clock_type::now();
        if (status != 200) {
            std::fprintf(stderr, "upload failed: %d\n", status);
            return 1;
        }
        best_ours = std::max(best_ours, mb_per_s(body_size, t1 - t0));

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
        best_curl = std::max(best_curl, mb_per_s(body_size, c1 - c0));
        best_curl_own = std::max(best_curl_own, static_cast<double>(body_size) / 1e6 / std::atof(out + 4));
    }
    unlink(path);
    std::printf("upload of %zu bytes over loopback, best of %d rounds\n", body_size, rounds);
    std::printf("  conn_sess (1024-byte steps): %8.1f MB/s\n", best_ours);
    std::printf("  curl --data-binary:          %8.1f MB/s (process start included)\n", best_curl);
    std::printf("  curl by its own time_total:  %8.1f MB/s\n", best_curl_own);
    std::printf("  ratio to curl's own speed: %.2f\n", best_ours / best_curl_own);
    return 0;
}
